#include "Rasterizer_stages.h"

#include <algorithm>

namespace directx::raster {

namespace {

template <D3DCMPFUNC Func> inline bool DepthPasses(std::uint32_t value, std::uint32_t stored) {
    if constexpr (Func == D3DCMP_NEVER)
        return false;
    else if constexpr (Func == D3DCMP_LESS)
        return value < stored;
    else if constexpr (Func == D3DCMP_EQUAL)
        return value == stored;
    else if constexpr (Func == D3DCMP_LESSEQUAL)
        return value <= stored;
    else if constexpr (Func == D3DCMP_GREATER)
        return value > stored;
    else if constexpr (Func == D3DCMP_NOTEQUAL)
        return value != stored;
    else if constexpr (Func == D3DCMP_GREATEREQUAL)
        return value >= stored;
    else
        return true;
}

// One loop per comparison, cell size and write flag; pixels that fail lose their live flag.
template <D3DCMPFUNC Func, bool Wide, bool ZWrite>
void DepthTest(const RasterDepth& depth, const Plane& zPlane, double px, double py, int x, int y,
               int n, Span& span) {
    const double scale =
        depth.depthBits >= 32 ? 4294967295.0 : double((1ull << depth.depthBits) - 1);
    double z = zPlane.At(px, py);
    BYTE* row = depth.bits + std::ptrdiff_t{y} * depth.pitch;
    for (int i = 0; i < n; ++i, z += zPlane.dx) {
        if (!span.live[i])
            continue;
        const std::uint32_t value =
            static_cast<std::uint32_t>(std::clamp(z, 0.0, 1.0) * scale + 0.5);
        BYTE* cell = row + static_cast<std::ptrdiff_t>(x + i) * (Wide ? 4 : 2);
        const std::uint32_t stored = Wide ? LoadPixel<4>(cell) : LoadPixel<2>(cell);
        if (!DepthPasses<Func>(value, stored)) {
            span.live[i] = 0;
            continue;
        }
        if constexpr (ZWrite) {
            if constexpr (Wide)
                StorePixel<4>(cell, value);
            else
                StorePixel<2>(cell, value);
        }
    }
}

template <D3DCMPFUNC Func> DepthFunction PickDepth(bool wide, bool write) {
    if (wide)
        return write ? &DepthTest<Func, true, true> : &DepthTest<Func, true, false>;
    return write ? &DepthTest<Func, false, true> : &DepthTest<Func, false, false>;
}

} // namespace

DepthFunction PickDepth(D3DCMPFUNC func, bool wide, bool write) {
    switch (func) {
    case D3DCMP_NEVER:
        return PickDepth<D3DCMP_NEVER>(wide, write);
    case D3DCMP_LESS:
        return PickDepth<D3DCMP_LESS>(wide, write);
    case D3DCMP_EQUAL:
        return PickDepth<D3DCMP_EQUAL>(wide, write);
    case D3DCMP_LESSEQUAL:
        return PickDepth<D3DCMP_LESSEQUAL>(wide, write);
    case D3DCMP_GREATER:
        return PickDepth<D3DCMP_GREATER>(wide, write);
    case D3DCMP_NOTEQUAL:
        return PickDepth<D3DCMP_NOTEQUAL>(wide, write);
    case D3DCMP_GREATEREQUAL:
        return PickDepth<D3DCMP_GREATEREQUAL>(wide, write);
    default:
        return PickDepth<D3DCMP_ALWAYS>(wide, write);
    }
}

} // namespace directx::raster
