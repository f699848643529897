#include "SoftTexture.h"

#include "DisplayAdapter.h"
#include "GpuBlitter.h"
#include "SoftDevice.h"
#include "SoftPalette.h"
#include "SoftSurface.h"

namespace directx {

HRESULT QueryTexture(SoftSurface& surface, REFIID riid, LPVOID* out) {
    if (riid != IID_IDirect3DTexture2 || !(surface.Caps() & DDSCAPS_TEXTURE))
        return E_NOINTERFACE;
    *out = static_cast<IDirect3DTexture2*>(new SoftTexture(&surface));
    return S_OK;
}

SoftTexture::SoftTexture(SoftSurface* surface) : surface_(surface) {
    surface_->AddRef();
}

HRESULT SoftTexture::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    return AnswerQuery<IDirect3DTexture2>(this, IID_IDirect3DTexture2, riid, ppvObj,
                                          [&] { return surface_->QueryInterface(riid, ppvObj); });
}

void SoftTexture::LastRelease() {
    SoftSurface* surface = surface_;
    delete this;
    surface->Release();
}

HRESULT SoftTexture::GetHandle(IDirect3DDevice2* lpDevice, D3DTEXTUREHANDLE* handle) {
    if (HRESULT f = Fault("IDirect3DTexture2::GetHandle"))
        return f;
    if (!lpDevice || !handle)
        return DDERR_INVALIDPARAMS;
    if (surface_->Lost())
        return DDERR_SURFACELOST;
    *handle = static_cast<SoftDevice*>(lpDevice)->HandleFor(surface_);
    return D3D_OK;
}

HRESULT SoftTexture::PaletteChanged(DWORD, DWORD) {
    // Every draw reads the palette as it is then.
    return D3D_OK;
}

HRESULT SoftTexture::Load(IDirect3DTexture2* lpSource) {
    if (HRESULT f = Fault("IDirect3DTexture2::Load"))
        return f;
    if (!lpSource)
        return DDERR_INVALIDPARAMS;
    SoftSurface* source = static_cast<SoftTexture*>(lpSource)->Surface();
    if (source == surface_)
        return D3D_OK;
    if (HRESULT r = SoftDevice::Usable(source))
        return r;
    if (HRESULT r = SoftDevice::Usable(surface_))
        return r;
    if (source->Width() != surface_->Width() || source->Height() != surface_->Height() ||
        !(source->Format() == surface_->Format()))
        return D3DERR_TEXTURE_LOAD_FAILED;
    const RECT all{0, 0, source->Width(), source->Height()};
    GpuBlitter* gpu = GpuBlitter::Get();
    if (gpu && source->Gpu() && surface_->Gpu()) {
        // Video memory to video memory: a copy on the GPU.
        gpu->Blit(*surface_->Gpu(), surface_->Plane(), *source->Gpu(), source->Plane(),
                  GpuBlitter::Copy{all, all, all, false, false}, ColorKeyRange{});
        surface_->Touch();
    } else {
        // The source's memory as it reads, written as any other write to the target is (an
        // upload where the target is on the GPU).
        source->Settle();
        surface_->Write(
            all, [&] { CopyRect(surface_->Plane(), 0, 0, source->Plane(), all, ColorKeyRange{}); });
    }
    // A palettised texture brings its colours along.
    if (SoftPalette* palette = source->Palette()) {
        if (SoftPalette* own = surface_->Palette(); own && own != palette) {
            PALETTEENTRY entries[256];
            palette->GetEntries(0, 0, 256, entries);
            own->SetEntries(0, 0, 256, entries);
        } else if (!own) {
            surface_->SetPalette(palette);
        }
    }
    return D3D_OK;
}

} // namespace directx
