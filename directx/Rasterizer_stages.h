#pragma once
// The rasteriser's stages, shared by its files: set-up and scan conversion
// (Rasterizer_setup.cpp), then per run of pixels interpolation (Rasterizer_interpolate.cpp),
// texture sampling (Rasterizer_sample.cpp), texture blend (Rasterizer_combine.cpp), depth test
// (Rasterizer_depth.cpp) and writing (Rasterizer_write.cpp), or all of it in one AVX2 loop
// (Rasterizer_avx2.cpp). Textures are converted once and kept (Rasterizer_texture.cpp).
// Each stage offers a Pick function that chooses its loop once per draw.
#include "Blit.h"
#include "Rasterizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <list>
#include <vector>

namespace directx::raster {

// Sub-pixel precision of snapped vertex positions.
constexpr int kSubBits = 4;
constexpr int kSub = 1 << kSubBits;
// Triangles reaching further than this from the origin are clipped first, so the fixed-point
// edge products stay well inside 64 bits.
constexpr double kGuardBand = 1 << 20;
// Pixels are shaded in runs of at most this many, in buffers that stay in the first-level
// cache.
constexpr int kChunk = 256;

inline std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

inline std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return -FloorDiv(-a, b);
}

// a * b / 255, rounded, for bytes.
inline std::uint32_t Mul255(std::uint32_t a, std::uint32_t b) {
    const std::uint32_t t = a * b + 128;
    return (t + (t >> 8)) >> 8;
}

// 256 colours as 0xFFRRGGBB: the given palette, or the 3-3-2 cube without one.
std::array<DWORD, 256> OpaquePalette(const DWORD* palette);

// How a target's pixels are read and written.
struct TargetCodec {
    PixelFormat format;
    std::array<DWORD, 256> paletteKey{}; // the palette the index matcher was made for
    ColorConverter codec;
    PaletteMatcher index;

    template <int BPP> std::uint32_t Pack(std::uint32_t argb) const {
        if constexpr (BPP == 1)
            return index.Nearest(argb);
        else
            return codec.FromArgb(argb);
    }
    template <int BPP> std::uint32_t Unpack(std::uint32_t pixel) const {
        if constexpr (BPP == 1)
            return paletteKey[pixel & 0xFF];
        else
            return codec.ToArgb(pixel);
    }
};

// A texture converted to 0xAARRGGBB. A texture that carries a version is known changed by
// it; one without is remembered with a copy of the raw texels it came from, so a change is
// noticed without the caller saying so.
struct TexelImage {
    RasterTexture source;
    std::array<DWORD, 256> palette{};
    bool keyed = false;
    std::vector<BYTE> raw;
    std::vector<std::uint32_t> argb;
    // For power-of-two sizes: argb with column 0 repeated after the last column and row 0
    // after the last row, so the four taps of a wrapped bilinear sample are always neighbours.
    std::vector<std::uint32_t> padded;
    // Keyed texels: in a texture without alpha they are marked by alpha 0 (all others are
    // opaque); a texture with alpha lists them here.
    std::vector<BYTE> transparent;
    bool anyTransparent = false;
    bool hasAlpha = false;

    std::size_t RowBytes() const {
        return static_cast<std::size_t>(source.width) * source.format.BytesPerPixel();
    }
    // Whether the image still shows texture t (with the colour key on or off).
    bool Matches(const RasterTexture& t, bool keyOn) const;
    // Converts texture t.
    void Build(const RasterTexture& t, bool keyOn);
};

enum class BlendKind { Off, Add, Alpha, Generic };

inline bool Bilinear(D3DTEXTUREFILTER filter) {
    return filter == D3DFILTER_LINEAR || filter == D3DFILTER_MIPLINEAR ||
           filter == D3DFILTER_LINEARMIPNEAREST || filter == D3DFILTER_LINEARMIPLINEAR;
}
enum class KeyKind { None, Marker, List };
enum class TexMode { None, Modulate, ModulateAlpha, Decal, DecalAlpha };

struct Vertex {
    double x, y, z, rhw;
    double u, v;
    double r, g, b, a;
};

struct Plane {
    double base = 0, dx = 0, dy = 0;
    double At(double px, double py) const { return base + dx * px + dy * py; }
};

struct Edge {
    std::int64_t dx, dy, xa, ya;
    std::int64_t bias; // 1 for edges that are neither top nor left
};

// Everything a triangle's spans need.
struct TriangleSetup {
    double x0 = 0, y0 = 0;    // plane origin: the first vertex, snapped
    Plane z, rhw, u, v, c[4]; // colour channels b, g, r, a
    bool perspective = false; // u, v, c hold value * rhw
    bool textured = false;
    bool bilinear = false;
    double texWidth = 1, texHeight = 1;
};

struct Span {
    std::int64_t s[kChunk]; // texel column, 16.16 (bilinear: minus half a texel)
    std::int64_t t[kChunk]; // texel row, likewise
    std::uint32_t color[kChunk];
    std::uint32_t texel[kChunk];
    std::uint32_t out[kChunk];
    BYTE live[kChunk];
};

inline std::int64_t ToFixed(double v) {
    constexpr double limit = 70368744177664.0; // 2^46
    return static_cast<std::int64_t>(std::floor(std::clamp(v, -limit, limit)));
}

inline std::uint32_t ClampByte(std::int32_t v) {
    return static_cast<std::uint32_t>(std::clamp(v, 0, 255));
}

inline int Wrap(std::int64_t i, int size, D3DTEXTUREADDRESS mode) {
    switch (mode) {
    case D3DTADDRESS_CLAMP:
    case D3DTADDRESS_BORDER:
        return static_cast<int>(std::clamp<std::int64_t>(i, 0, size - 1));
    case D3DTADDRESS_MIRROR: {
        const std::int64_t period = 2 * std::int64_t{size};
        std::int64_t m = i % period;
        if (m < 0)
            m += period;
        return static_cast<int>(m < size ? m : period - 1 - m);
    }
    default: {
        std::int64_t m = i % size;
        return static_cast<int>(m < 0 ? m + size : m);
    }
    }
}

// Where an affine run starts and how it steps: texel position in 16.16 and colour channels
// in 16.16, each pixel adding the step to the one before.
struct AffineRun {
    std::int64_t s = 0, t = 0, ds = 0, dt = 0;
    std::int32_t c[4] = {}, dc[4] = {};
};

AffineRun AffineStart(const TriangleSetup& ts, int x, int y);

// Fills the texel coordinates and vertex colours of n pixels from (x, y).
void Interpolate(const TriangleSetup& ts, int x, int y, int n, Span& span);

// The stage functions and their choice.
using SampleFunction = void (*)(const TexelImage&, const RasterStates&, int, Span&);
using CombineFunction = void (*)(bool, int, Span&);
using DepthFunction = void (*)(const RasterDepth&, const Plane&, double, double, int, int, int,
                               Span&);
using WriteFunction = void (*)(const TargetCodec&, const RasterStates&, BYTE*, int, int,
                               const Span&);
// A fused run: interpolation, sampling, texture blend and write of n pixels in one loop.
using FusedFunction = void (*)(const TexelImage&, const AffineRun&, BYTE*, int, int);

SampleFunction PickSample(bool bilinear, bool fastWrap, KeyKind key);
CombineFunction PickCombine(TexMode mode);
DepthFunction PickDepth(D3DCMPFUNC func, bool wide, bool write);
// For a target of bytes per pixel; rgb565 picks the packed loop for additive blending.
WriteFunction PickWrite(int bytes, BlendKind blend, bool rgb565);
#if defined(__x86_64__)
FusedFunction PickFused(bool add, bool marker);
#endif

// Everything about a draw call's pixels that does not depend on the triangle, chosen once
// per call: the stage functions, and where one exists a fused loop for the whole run.
struct Pipeline {
    SampleFunction sample[2] = {}; // nearest, bilinear
    FusedFunction fused[2] = {};   // affine runs only
    CombineFunction combine = nullptr;
    WriteFunction write = nullptr;
    DepthFunction depth = nullptr;
    bool textureAlpha = false;
};

// One draw call as its triangles see it, made once per call and never changed by them.
struct DrawDescription {
    const RasterTarget& target;
    const RasterDepth* depth; // null without a usable depth buffer
    const RasterStates& states;
    D3DRECT clip;            // already cut to the target and the depth buffer
    const TexelImage* image; // null when untextured
    const TargetCodec& codec;
    Pipeline pipeline;
};

// Chooses the stage functions for a draw; wide allows the AVX2 loop.
Pipeline ChoosePipeline(const RasterTarget& rt, const RasterDepth* depth,
                        const RasterStates& states, const TexelImage* image, bool wide);

// A triangle's vertex as the set-up reads it.
bool Finite(const D3DTLVERTEX& v);
Vertex MakeVertex(const D3DTLVERTEX& v, D3DCOLOR color);

// Draws one triangle, clipping it to the guard band first where it reaches that far; span is
// the scratch buffer for its runs of pixels.
void Polygon(const DrawDescription& draw, Span& span, const Vertex& a, const Vertex& b,
             const Vertex& c);

// Converted textures, most recently used first; the oldest of sixteen makes room for a new one.
class TextureCache {
public:
    const TexelImage& For(const RasterTexture& t, bool keyOn);

private:
    std::list<TexelImage> textures_;
};

} // namespace directx::raster
