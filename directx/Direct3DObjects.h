#pragma once
// The objects behind the Direct3D interfaces: the Direct3D object of a DirectDraw object,
// devices drawing into DirectDraw surfaces through the rasteriser, viewports and the texture
// interface of texture surfaces.
#include "Direct3DOffer.h"
#include "DirectDrawObjects.h"
#include "Rasterizer.h"
#include "d3d.h"

#include <array>
#include <map>
#include <vector>

namespace directx {

class SoftDevice;
class SoftViewport;

// The Direct3D interfaces DirectDraw's objects answer for besides their own: IDirect3D2 of a
// DirectDraw object, IDirect3DTexture2 of a texture surface; E_NOINTERFACE for any other.
HRESULT QueryDirect3D(SoftDirectDraw& dd, REFIID riid, LPVOID* out);
HRESULT QueryTexture(SoftSurface& surface, REFIID riid, LPVOID* out);
// Drops a surface being deleted from every device's texture handles.
void ForgetTexture(SoftSurface& surface);

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

class SoftDevice : public TCounted<IDirect3DDevice2> {
public:
    SoftDevice(DeviceKind kind, SoftDirect3D* direct3d, SoftSurface* target);

    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override;
    HRESULT AddViewport(IDirect3DViewport2* viewport) override;
    HRESULT DeleteViewport(IDirect3DViewport2* viewport) override;
    HRESULT EnumTextureFormats(LPD3DENUMTEXTUREFORMATSCALLBACK callback, LPVOID arg) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT GetDirect3D(IDirect3D2** out) override;
    HRESULT SetCurrentViewport(IDirect3DViewport2* viewport) override;
    HRESULT GetCurrentViewport(IDirect3DViewport2** out) override;
    HRESULT GetRenderTarget(LPDIRECTDRAWSURFACE* out) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType, LPVOID vertices,
                          DWORD count, DWORD flags) override;

    DeviceKind Kind() const { return kind_; }
    SoftDirect3D* Direct3D() const { return direct3d_; }
    SoftSurface* Target() const { return target_; }
    Rasterizer& Raster() { return rasterizer_; }
    // The texture handle of a surface on this device, given out on first request.
    D3DTEXTUREHANDLE HandleFor(SoftSurface* surface);
    // The target's attached Z-buffer, if it has a usable one.
    SoftSurface* DepthBuffer() const;
    static RasterTarget DescribeTarget(SoftSurface& surface);
    static RasterDepth DescribeDepth(SoftSurface& surface);

    // Every device alive, so a deleted surface can be dropped from their handle tables.
    static std::vector<SoftDevice*>& Live();
    void Forget(SoftSurface* surface);

private:
    ~SoftDevice() override;
    void LastRelease() override;
    bool Has(SoftViewport* viewport) const;

    DeviceKind kind_;
    SoftDirect3D* direct3d_;
    SoftSurface* target_;
    std::array<DWORD, 256> states_{};
    std::vector<SoftViewport*> viewports_;
    SoftViewport* current_ = nullptr;
    bool inScene_ = false;
    std::map<D3DTEXTUREHANDLE, SoftSurface*> textures_;
    D3DTEXTUREHANDLE nextHandle_ = 1;
    Rasterizer rasterizer_;
};

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
