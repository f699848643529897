// The Retained Mode object and its entry point.
#include "SoftRM.h"

#include "DisplayAdapter.h"
#include "SoftDevice.h"
#include "SoftDirect3D.h"
#include "SoftFrame.h"
#include "SoftRMDevice.h"
#include "SoftRMViewport.h"
#include "SoftSurface.h"

#include <cstdint>

namespace directx {

HRESULT SoftRM::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    if (HRESULT f = Fault("IDirect3DRM2::QueryInterface"))
        return f;
    return AnswerVersions(IID_IDirect3DRM, IID_IDirect3DRM2, riid, ppvObj);
}

HRESULT SoftRM::CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame** out) {
    if (HRESULT f = Fault("IDirect3DRM2::CreateFrame"))
        return f;
    if (!out)
        return D3DRMERR_BADVALUE;
    *out = new SoftFrame(parent);
    return D3DRM_OK;
}

HRESULT SoftRM::CreateDeviceFromD3D(LPDIRECT3D2 d3d, LPDIRECT3DDEVICE2 lpDevice,
                                    IDirect3DRMDevice2** out) {
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

HRESULT SoftRM::CreateViewport(IDirect3DRMDevice* device, IDirect3DRMFrame* camera, DWORD x,
                               DWORD y, DWORD width, DWORD height, IDirect3DRMViewport** out) {
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

} // namespace directx

HRESULT Direct3DRMCreate(LPDIRECT3DRM* out) {
    using namespace directx;
    if (HRESULT f = Fault("Direct3DRMCreate"))
        return f;
    if (!out)
        return D3DRMERR_BADVALUE;
    *out = (new SoftRM())->First();
    return D3DRM_OK;
}
