#pragma once
// A Direct3D device drawing into a DirectDraw surface: through the rasteriser, or on the GPU
// (the HAL device, where its target lies in a GPU store).
#include "ComObject.h"
#include "Direct3DOffer.h"
#include "GpuRaster.h"
#include "Rasterizer.h"
#include "d3d.h"

#include <array>
#include <map>
#include <vector>

namespace directx {

class SoftDirect3D;
class SoftSurface;
class SoftViewport;

// Drops a surface being deleted from every device's texture handles.
void ForgetTexture(SoftSurface& surface);

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
    // A surface's memory as the rasteriser draws into it or samples it.
    static RasterTarget DescribeTarget(SoftSurface& surface);
    static RasterDepth DescribeDepth(SoftSurface& surface);
    static RasterTexture DescribeTexture(SoftSurface& surface);
    // The GL back end where this device draws on the GPU: the HAL device with its target (and
    // the Z-buffer it tests, the texture it samples) in GPU stores; null where the rasteriser
    // draws.
    GpuRaster* GpuBackEnd(SoftSurface* depth, SoftSurface* texture) const;
    static GpuRaster::Target GpuTarget(SoftSurface& target, SoftSurface* depth);
    static GpuRaster::Texture DescribeGpuTexture(SoftSurface& surface);
    // DDERR_SURFACELOST or DDERR_SURFACEBUSY for a surface that cannot be drawn from or into
    // now; DD_OK otherwise.
    static HRESULT Usable(SoftSurface* surface);

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

} // namespace directx
