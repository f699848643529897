#pragma once
// A Retained Mode device over an immediate-mode device, which it holds.
#include "ComObject.h"
#include "DisplayAdapter.h"
#include "SoftDevice.h"
#include "SoftSurface.h"
#include "d3drm.h"

namespace directx {

class SoftRMDevice : public TCounted<IDirect3DRMDevice2> {
public:
    explicit SoftRMDevice(SoftDevice* device) : device_(device) { device_->AddRef(); }
    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override {
        // The second version extends the first, so one object answers for both.
        return AnswerQuery<IDirect3DRMDevice2>(this, IID_IDirect3DRMDevice2, riid, ppvObj, [&] {
            return OfferOwnInterface<IDirect3DRMDevice2>(this, IID_IDirect3DRMDevice, riid, ppvObj)
                       ? S_OK
                       : E_NOINTERFACE;
        });
    }
    HRESULT SetBufferCount(DWORD count) override {
        if (HRESULT f = Fault("IDirect3DRMDevice2::SetBufferCount"))
            return f;
        if (count < 1 || count > 3)
            return D3DRMERR_BADVALUE;
        buffers_ = count;
        return D3DRM_OK;
    }
    DWORD GetBufferCount() override { return buffers_; }
    DWORD GetWidth() override { return static_cast<DWORD>(device_->Target()->Width()); }
    DWORD GetHeight() override { return static_cast<DWORD>(device_->Target()->Height()); }
    HRESULT GetDirect3DDevice2(LPDIRECT3DDEVICE2* out) override {
        if (!out)
            return D3DRMERR_BADVALUE;
        device_->AddRef();
        *out = device_;
        return D3DRM_OK;
    }

private:
    ~SoftRMDevice() override = default;
    void LastRelease() override {
        SoftDevice* device = device_;
        delete this;
        device->Release();
    }
    SoftDevice* device_;
    DWORD buffers_ = 1;
};

} // namespace directx
