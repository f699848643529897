#pragma once
// The IDirect3D2 of a DirectDraw object.
#include "ComObject.h"
#include "d3d.h"

namespace directx {

class SoftDirectDraw;

// The Direct3D interface a DirectDraw object answers for besides its own: IDirect3D2;
// E_NOINTERFACE for any other.
HRESULT QueryDirect3D(SoftDirectDraw& dd, REFIID riid, LPVOID* out);

// The IDirect3D2 of one DirectDraw object; it keeps that object alive while referenced.
class SoftDirect3D : public TCounted<IDirect3D2> {
public:
    // The Direct3D object of dd, one more reference to it.
    static SoftDirect3D* For(SoftDirectDraw& dd);

    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override;
    HRESULT CreateViewport(IDirect3DViewport2** lplpD3DViewport2, IUnknown* pUnkOuter) override;
    HRESULT CreateDevice(REFCLSID rclsid, LPDIRECTDRAWSURFACE lpDDS,
                         IDirect3DDevice2** lplpD3DDevice2) override;

    SoftDirectDraw& DirectDraw() { return *dd_; }

private:
    explicit SoftDirect3D(SoftDirectDraw* dd);
    ~SoftDirect3D() override = default;
    void LastRelease() override;
    SoftDirectDraw* dd_;
};

} // namespace directx
