#pragma once
// Direct3D Retained Mode as far as the display engine goes: the object that creates frames,
// devices over immediate-mode devices and viewports.
#include "ComObject.h"
#include "d3drm.h"

namespace directx {

// The Retained Mode object: IDirect3DRM2 itself, IDirect3DRM through its face, which is the
// one created.
class SoftRM : public TTwoVersions<SoftRM, IDirect3DRM2, IDirect3DRM> {
public:
    SoftRM() : TTwoVersions(1) {}
    IDirect3DRM* First() { return &first_; }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override;
    HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame** out) override;
    HRESULT CreateDeviceFromD3D(LPDIRECT3D2 d3d, LPDIRECT3DDEVICE2 lpDevice,
                                IDirect3DRMDevice2** out) override;
    HRESULT CreateViewport(IDirect3DRMDevice* device, IDirect3DRMFrame* camera, DWORD x, DWORD y,
                           DWORD width, DWORD height, IDirect3DRMViewport** out) override;

private:
    class FirstFace : public Face {
    public:
        using Face::Face;
        HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame** out) override {
            return Object().CreateFrame(parent, out);
        }
    };
    Face& OlderFace() override { return first_; }

    FirstFace first_{*this};
};

} // namespace directx
