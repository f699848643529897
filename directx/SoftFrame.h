#pragma once
// A Retained Mode frame; it holds its parent.
#include "ComObject.h"
#include "d3drm.h"

namespace directx {

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

} // namespace directx
