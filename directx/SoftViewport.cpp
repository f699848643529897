#include "SoftViewport.h"

#include "DisplayAdapter.h"
#include "SoftDevice.h"
#include "SoftSurface.h"

#include <algorithm>
#include <cstdint>

namespace directx {

HRESULT SoftViewport::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    return AnswerQuery<IDirect3DViewport2>(this, IID_IDirect3DViewport2, riid, ppvObj);
}

D3DRECT SoftViewport::Rect() const {
    // Far beyond any surface is as good as the surface's edge.
    auto clamp = [](std::uint64_t v) {
        return static_cast<LONG>(std::min<std::uint64_t>(v, 1u << 30));
    };
    return D3DRECT{clamp(data_.dwX), clamp(data_.dwY),
                   clamp(std::uint64_t{data_.dwX} + data_.dwWidth),
                   clamp(std::uint64_t{data_.dwY} + data_.dwHeight)};
}

HRESULT SoftViewport::SetViewport2(LPD3DVIEWPORT2 data) {
    if (HRESULT f = Fault("IDirect3DViewport2::SetViewport2"))
        return f;
    if (!data || data->dwSize != sizeof(D3DVIEWPORT2) || data->dwWidth == 0 ||
        data->dwHeight == 0 || data->dwWidth > (1u << 20) || data->dwHeight > (1u << 20))
        return DDERR_INVALIDPARAMS;
    if (!device)
        return D3DERR_VIEWPORTHASNODEVICE;
    data_ = *data;
    hasData_ = true;
    return D3D_OK;
}

HRESULT SoftViewport::GetViewport2(LPD3DVIEWPORT2 data) {
    if (!data || data->dwSize != sizeof(D3DVIEWPORT2))
        return DDERR_INVALIDPARAMS;
    if (!hasData_)
        return D3DERR_VIEWPORTDATANOTSET;
    *data = data_;
    return D3D_OK;
}

HRESULT SoftViewport::Clear(DWORD count, LPD3DRECT rects, DWORD flags) {
    if (HRESULT f = Fault("IDirect3DViewport2::Clear"))
        return f;
    if ((count && !rects) || !(flags & (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER)) ||
        (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER)))
        return DDERR_INVALIDPARAMS;
    if (!device)
        return D3DERR_VIEWPORTHASNODEVICE;
    if (!hasData_)
        return D3DERR_VIEWPORTDATANOTSET;
    SoftSurface* targetSurface = device->Target();
    if (HRESULT r = SoftDevice::Usable(targetSurface))
        return r;
    SoftSurface* depthSurface = device->DepthBuffer();
    SoftSurface* cleared = (flags & D3DCLEAR_ZBUFFER) ? depthSurface : nullptr;
    if (GpuRaster* gpu = device->GpuBackEnd(cleared, nullptr)) {
        gpu->Clear(SoftDevice::GpuTarget(*targetSurface, cleared), rects, count, Rect(),
                   (flags & D3DCLEAR_TARGET) != 0, cleared != nullptr);
        if (flags & D3DCLEAR_TARGET)
            targetSurface->Touch();
        if (cleared)
            cleared->Touch();
        return D3D_OK;
    }
    const RasterTarget target = SoftDevice::DescribeTarget(*targetSurface);
    RasterDepth depth;
    if (depthSurface)
        depth = SoftDevice::DescribeDepth(*depthSurface);
    const D3DRECT area = Rect();
    const RECT written{area.x1, area.y1, area.x2, area.y2};
    // Only the part of each rectangle inside the viewport is cleared.
    const auto cut = [&](const D3DRECT& r) {
        return D3DRECT{std::max(r.x1, area.x1), std::max(r.y1, area.y1), std::min(r.x2, area.x2),
                       std::min(r.y2, area.y2)};
    };
    if (flags & D3DCLEAR_TARGET)
        targetSurface->Write(written, [&] {
            for (DWORD i = 0; i < count; ++i)
                device->Raster().ClearTarget(target, cut(rects[i]), 0); // the background: black
        });
    if ((flags & D3DCLEAR_ZBUFFER) && depthSurface)
        depthSurface->Write(written, [&] {
            for (DWORD i = 0; i < count; ++i)
                Rasterizer::ClearDepth(depth, cut(rects[i]), 1.0f);
        });
    return D3D_OK;
}

} // namespace directx
