// The Direct3D object of a DirectDraw object: viewports, and devices of the adapter's kinds.
#include "SoftDirect3D.h"

#include "DisplayAdapter.h"
#include "GpuBlitter.h"
#include "GpuRaster.h"
#include "SoftDevice.h"
#include "SoftDirectDraw.h"
#include "SoftSurface.h"
#include "SoftViewport.h"

#include <map>
#include <string>

namespace directx {

namespace {

SoftSurface* Ours(IDirectDrawSurface* surface) {
    return static_cast<SoftSurface*>(surface);
}

std::map<SoftDirectDraw*, SoftDirect3D*>& Direct3DObjects() {
    static std::map<SoftDirectDraw*, SoftDirect3D*> objects;
    return objects;
}

bool KindOf(REFCLSID id, DeviceKind* kind) {
    if (id == IID_IDirect3DHALDevice)
        *kind = DeviceKind::HAL;
    else if (id == IID_IDirect3DMMXDevice)
        *kind = DeviceKind::MMX;
    else if (id == IID_IDirect3DRGBDevice)
        *kind = DeviceKind::RGB;
    else if (id == IID_IDirect3DRampDevice)
        *kind = DeviceKind::Ramp;
    else
        return false;
    return true;
}

bool Drawable(const PixelFormat& format) {
    const int bits = format.bitsPerPixel;
    return !format.IsZBuffer() && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

} // namespace

HRESULT QueryDirect3D(SoftDirectDraw& dd, REFIID riid, LPVOID* out) {
    if (riid != IID_IDirect3D2)
        return E_NOINTERFACE;
    *out = static_cast<IDirect3D2*>(SoftDirect3D::For(dd));
    return S_OK;
}

SoftDirect3D::SoftDirect3D(SoftDirectDraw* dd) : dd_(dd) {
    dd_->Second()->AddRef();
}

SoftDirect3D* SoftDirect3D::For(SoftDirectDraw& dd) {
    auto& objects = Direct3DObjects();
    const auto found = objects.find(&dd);
    if (found != objects.end()) {
        found->second->AddRef();
        return found->second;
    }
    auto* object = new SoftDirect3D(&dd);
    objects[&dd] = object;
    return object;
}

HRESULT SoftDirect3D::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    if (HRESULT f = Fault("IDirect3D2::QueryInterface"))
        return f;
    return AnswerQuery<IDirect3D2>(this, IID_IDirect3D2, riid, ppvObj,
                                   [&] { return dd_->Query(riid, ppvObj); });
}

void SoftDirect3D::LastRelease() {
    Direct3DObjects().erase(dd_);
    IDirectDraw2* dd = dd_->Second();
    delete this;
    dd->Release();
}

HRESULT SoftDirect3D::CreateViewport(IDirect3DViewport2** out, IUnknown* outer) {
    if (HRESULT f = Fault("IDirect3D2::CreateViewport"))
        return f;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!out)
        return DDERR_INVALIDPARAMS;
    *out = new SoftViewport();
    return D3D_OK;
}

HRESULT SoftDirect3D::CreateDevice(REFCLSID rclsid, LPDIRECTDRAWSURFACE lpDDS,
                                   IDirect3DDevice2** out) {
    if (HRESULT f = Fault("IDirect3D2::CreateDevice"))
        return f;
    if (!out || !lpDDS)
        return DDERR_INVALIDPARAMS;
    *out = nullptr;
    DeviceKind kind{};
    if (!KindOf(rclsid, &kind))
        return D3DERR_INVALID_DEVICE;
    const std::string perKind =
        std::string("IDirect3D2::CreateDevice(") + DeviceKindName(kind) + ")";
    if (HRESULT f = Fault(perKind.c_str()))
        return f;
    if (!Adapter().direct3d.Device(kind).available)
        return D3DERR_INVALID_DEVICE;
    SoftSurface* target = Ours(lpDDS);
    if (target->Lost())
        return DDERR_SURFACELOST;
    if (!(target->Caps() & DDSCAPS_3DDEVICE))
        return DDERR_INVALIDCAPS;
    if (!Drawable(target->Format()))
        return DDERR_INVALIDPIXELFORMAT;
    SoftSurface* depth = nullptr;
    for (SoftSurface* s : target->Attached())
        if (s->Format().IsZBuffer())
            depth = s;
    if (kind == DeviceKind::HAL) {
        // Hardware draws only in display memory: the driver must do 3-D, and the target and
        // its Z-buffer must lie in video memory.
        if (!(dd_->Driver().hardwareCaps & DDCAPS_3D))
            return D3DERR_INVALID_DEVICE;
        if (!(target->Caps() & DDSCAPS_VIDEOMEMORY))
            return D3DERR_SURFACENOTINVIDMEM;
        if (!depth || !(depth->Caps() & DDSCAPS_VIDEOMEMORY))
            return D3DERR_ZBUFF_NEEDS_VIDEOMEMORY;
        // On the GPU road the hardware is the GPU's device: none where it could not start.
        if (GpuBlitter::Get() && !GpuRaster::Get())
            return D3DERR_INVALID_DEVICE;
    }
    *out = new SoftDevice(kind, this, target);
    return D3D_OK;
}

} // namespace directx
