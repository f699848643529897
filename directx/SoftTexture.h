#pragma once
// The IDirect3DTexture2 of a texture surface.
#include "ComObject.h"
#include "d3d.h"

namespace directx {

class SoftSurface;

// A texture surface answers for IDirect3DTexture2 besides its own interface; E_NOINTERFACE
// for any other.
HRESULT QueryTexture(SoftSurface& surface, REFIID riid, LPVOID* out);

// IDirect3DTexture2 of a texture surface; each QueryInterface makes one, holding the surface.
class SoftTexture : public TCounted<IDirect3DTexture2> {
public:
    explicit SoftTexture(SoftSurface* surface);

    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override;
    HRESULT GetHandle(IDirect3DDevice2* device, D3DTEXTUREHANDLE* handle) override;
    HRESULT PaletteChanged(DWORD start, DWORD count) override;
    HRESULT Load(IDirect3DTexture2* source) override;

    SoftSurface* Surface() const { return surface_; }

private:
    ~SoftTexture() override = default;
    void LastRelease() override;
    SoftSurface* surface_;
};

} // namespace directx
