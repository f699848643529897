// Direct3D Retained Mode, as far as the display engine goes: the object in its two interface
// versions, frames, devices over immediate-mode devices, viewports; each with honest
// reference counts.
#include "Direct3DObjects.h"
#include "d3drm.h"

#include <cstdint>

namespace directx {

namespace {

HRESULT Fault(const char* method) {
    return Adapter().Intercept(method);
}

class SoftFrame : public TCounted<IDirect3DRMFrame> {
public:
    explicit SoftFrame(IDirect3DRMFrame* parent) : parent_(parent) {
        if (parent_)
            parent_->AddRef();
    }
    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override {
        return AnswerQuery<IDirect3DRMFrame>(this, IID_IDirect3DRMFrame, riid, ppvObj);
    }
    HRESULT GetParent(IDirect3DRMFrame** out) override {
        if (!out)
            return D3DRMERR_BADVALUE;
        *out = parent_;
        if (parent_)
            parent_->AddRef();
        return D3DRM_OK;
    }

private:
    ~SoftFrame() override = default;
    void LastRelease() override {
        IDirect3DRMFrame* parent = parent_;
        delete this;
        if (parent)
            parent->Release();
    }
    IDirect3DRMFrame* parent_;
};

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

} // namespace

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
