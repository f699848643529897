#pragma once
// A Retained Mode viewport: its front and back clipping planes; it holds its device and camera.
#include "ComObject.h"
#include "DisplayAdapter.h"
#include "d3drm.h"

namespace directx {

class SoftRMViewport : public TCounted<IDirect3DRMViewport> {
public:
    SoftRMViewport(IDirect3DRMDevice* device, IDirect3DRMFrame* camera)
        : device_(device), camera_(camera) {
        device_->AddRef();
        camera_->AddRef();
    }
    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override {
        return AnswerQuery<IDirect3DRMViewport>(this, IID_IDirect3DRMViewport, riid, ppvObj);
    }
    // The back clipping plane lies beyond the front one.
    HRESULT SetBack(D3DVALUE back) override {
        if (HRESULT f = Fault("IDirect3DRMViewport::SetBack"))
            return f;
        if (!(back > front_))
            return D3DRMERR_BADVALUE;
        back_ = back;
        return D3DRM_OK;
    }
    D3DVALUE GetBack() override { return back_; }
    HRESULT SetFront(D3DVALUE front) override {
        if (HRESULT f = Fault("IDirect3DRMViewport::SetFront"))
            return f;
        if (!(front > 0) || !(front < back_))
            return D3DRMERR_BADVALUE;
        front_ = front;
        return D3DRM_OK;
    }
    D3DVALUE GetFront() override { return front_; }

private:
    ~SoftRMViewport() override = default;
    void LastRelease() override {
        IDirect3DRMDevice* device = device_;
        IDirect3DRMFrame* camera = camera_;
        delete this;
        camera->Release();
        device->Release();
    }
    IDirect3DRMDevice* device_;
    IDirect3DRMFrame* camera_;
    D3DVALUE front_ = 1.0f;
    D3DVALUE back_ = 100.0f;
};

} // namespace directx
