#pragma once
// The software triangle rasteriser behind Direct3D's DrawPrimitive and viewport Clear. It
// knows nothing of COM objects: it draws pre-transformed, lit vertices into plain pixel
// memory described the way DirectDraw describes it (bit count and channel masks); 8-bit
// pixels are indices into a palette.
//
// Conventions, as Direct3D has them: pixel centres lie on integer screen coordinates, texel
// centres at (i + 0.5) / size; vertices are snapped to 1/16 pixel and covered pixels follow
// the top-left rule, so triangles sharing an edge neither leave gaps nor overlap.
#include "PixelFormat.h"
#include "d3dtypes.h"
#include "platform/PixelBlock.h"

#include <cstdint>
#include <memory>

namespace directx {

// The pixels drawn into, and their format.
struct RasterTarget : PixelBlock {
    PixelFormat format;
    // 256 colours as 0x00RRGGBB for an 8-bit target; without one the indices are read as a
    // 3-3-2 colour cube.
    const DWORD* palette = nullptr;
};

// A depth buffer: a block of cells.
struct RasterDepth : PixelBlock {
    int bitsPerCell = 16; // 16 or 32
    int depthBits = 16;   // 16, 24 or 32 significant bits
};

// The texels sampled, read only, and their format.
struct RasterTexture : ConstPixelBlock {
    PixelFormat format;
    const DWORD* palette = nullptr; // as for targets
    // The source colour key: raw texel values in keyLow..keyHigh are transparent.
    bool hasColorKey = false;
    DWORD keyLow = 0;
    DWORD keyHigh = 0;
    // A stamp that changes whenever the texels do and is never given to other texels (a
    // surface's change counter). With 0 the texels are compared with the converted copy on
    // every draw instead.
    std::uint64_t version = 0;
};

// The render states the rasteriser honours, with Direct3D's defaults.
struct RasterStates {
    const RasterTexture* texture = nullptr;
    D3DTEXTUREFILTER magFilter = D3DFILTER_NEAREST;
    D3DTEXTUREFILTER minFilter = D3DFILTER_NEAREST;
    D3DTEXTUREBLEND textureBlend = D3DTBLEND_MODULATE;
    D3DTEXTUREADDRESS addressU = D3DTADDRESS_WRAP;
    D3DTEXTUREADDRESS addressV = D3DTADDRESS_WRAP;
    bool perspective = true;
    bool colorKeyEnable = false;
    bool blendEnable = false;
    D3DBLEND srcBlend = D3DBLEND_ONE;
    D3DBLEND destBlend = D3DBLEND_ZERO;
    bool zEnable = false;
    bool zWrite = true;
    D3DCMPFUNC zFunc = D3DCMP_LESSEQUAL;
    D3DCULL cullMode = D3DCULL_CCW;
    D3DSHADEMODE shadeMode = D3DSHADE_GOURAUD;
};

class Rasterizer {
public:
    Rasterizer();
    ~Rasterizer();
    Rasterizer(const Rasterizer&) = delete;
    Rasterizer& operator=(const Rasterizer&) = delete;

    // Draws triangle lists, strips or fans, covering only pixels inside clip (which is cut to
    // the target). Z is tested and written only with a depth buffer and zEnable. Returns false,
    // drawing nothing, for a primitive type other than the three triangle types or a target
    // it cannot address.
    bool Draw(const RasterTarget& target, const RasterDepth* depth, const RasterStates& states,
              const D3DRECT& clip, D3DPRIMITIVETYPE type, const D3DTLVERTEX* vertices, DWORD count);

    // Fills rect (cut to the target) with an 0xAARRGGBB colour in the target's format.
    void ClearTarget(const RasterTarget& target, const D3DRECT& rect, D3DCOLOR color);
    // Fills rect of a depth buffer with depth z (0..1).
    static void ClearDepth(const RasterDepth& depth, const D3DRECT& rect, D3DVALUE z);

    // The raw pixel value a colour takes in a target (nearest palette entry for 8 bits).
    DWORD PackColor(const RasterTarget& target, D3DCOLOR color);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace directx
