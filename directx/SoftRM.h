#pragma once
#include "ComObject.h"
#include "DisplayAdapter.h"
#include "SoftDevice.h"
#include "SoftDirect3D.h"
#include "SoftFrame.h"
#include "SoftRMDevice.h"
#include "SoftRMViewport.h"
#include "d3drm.h"

#include <cstdint>

namespace directx {

// The Retained Mode object: IDirect3DRM2 itself, IDirect3DRM through its face, which is the
// one created.
class SoftRM : public TTwoVersions<SoftRM, IDirect3DRM2, IDirect3DRM> {
public:
    SoftRM() : TTwoVersions(1) {}
    IDirect3DRM* First() { return &first_; }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override {
        if (HRESULT f = Fault("IDirect3DRM2::QueryInterface"))
            return f;
        return AnswerVersions(IID_IDirect3DRM, IID_IDirect3DRM2, riid, ppvObj);
    }
    HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame** out) override {
        if (HRESULT f = Fault("IDirect3DRM2::CreateFrame"))
            return f;
        if (!out)
            return D3DRMERR_BADVALUE;
        *out = new SoftFrame(parent);
        return D3DRM_OK;
    }
    HRESULT CreateDeviceFromD3D(LPDIRECT3D2 d3d, LPDIRECT3DDEVICE2 lpDevice,
                                IDirect3DRMDevice2** out) override {
        if (HRESULT f = Fault("IDirect3DRM2::CreateDeviceFromD3D"))
            return f;
        if (!out)
            return D3DRMERR_BADVALUE;
        *out = nullptr;
        if (!d3d || !lpDevice)
            return D3DRMERR_BADOBJECT;
        auto* device = static_cast<SoftDevice*>(lpDevice);
        if (device->Direct3D() != static_cast<SoftDirect3D*>(d3d))
            return D3DRMERR_BADDEVICE; // a device of another Direct3D object
        *out = new SoftRMDevice(device);
        return D3DRM_OK;
    }
    HRESULT CreateViewport(IDirect3DRMDevice* device, IDirect3DRMFrame* camera, DWORD x, DWORD y,
                           DWORD width, DWORD height, IDirect3DRMViewport** out) override {
        if (HRESULT f = Fault("IDirect3DRM2::CreateViewport"))
            return f;
        if (!out)
            return D3DRMERR_BADVALUE;
        *out = nullptr;
        if (!device || !camera)
            return D3DRMERR_BADOBJECT;
        const std::uint64_t right = std::uint64_t{x} + width, bottom = std::uint64_t{y} + height;
        if (width == 0 || height == 0 || right > device->GetWidth() || bottom > device->GetHeight())
            return D3DRMERR_BADVALUE;
        *out = new SoftRMViewport(device, camera);
        return D3DRM_OK;
    }

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
