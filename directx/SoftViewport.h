#pragma once
// A Direct3D viewport: the rectangle of its device's target that draws and clears reach.
#include "ComObject.h"
#include "d3d.h"

namespace directx {

class SoftDevice;

class SoftViewport : public TCounted<IDirect3DViewport2> {
public:
    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override;
    HRESULT Clear(DWORD count, LPD3DRECT rects, DWORD flags) override;
    HRESULT GetViewport2(LPD3DVIEWPORT2 data) override;
    HRESULT SetViewport2(LPD3DVIEWPORT2 data) override;

    // The device it was added to (which holds a reference on it), or none.
    SoftDevice* device = nullptr;
    bool HasData() const { return hasData_; }
    // The viewport's rectangle on the target.
    D3DRECT Rect() const;

private:
    bool hasData_ = false;
    D3DVIEWPORT2 data_{};
};

} // namespace directx
