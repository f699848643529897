#pragma once
// Direct3D's DrawPrimitive and viewport Clear on the graphics hardware, for a device whose
// target lies in a GPU store. Fixed-function blending and depth testing need normalized colour
// and depth images, so each target store gets a colour shadow (and its Z-buffer's store a depth
// shadow) beside its integer texture, with exact conversion passes each way when the other side
// is used. Textures are sampled from their own integer stores, decoded in the shader, so colour
// keys compare raw texel values. Draws are queued and drawn as one GL draw per run of draws with
// the same target, texture and states.
//
// The rasteriser's conventions are kept: pixel centres on integer coordinates, vertices snapped
// to 1/16 pixel, the top-left fill rule (GL's own tie rule is measured at start-up and
// corrected), the same texel addressing, bilinear weights, texture blends and 8-bit arithmetic.
#include "GpuStore.h"
#include "PixelFormat.h"
#include "Rasterizer.h"
#include "d3dtypes.h"
#include "gpu/GlObjects.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace directx {

class GpuRaster {
public:
    // The process's GPU device back end, started (shaders built, fill rule measured, checked)
    // on first use; null on the software road or where the start failed (WhyNot says why).
    static GpuRaster* Get();
    static std::string WhyNot();
    // The back end if it was started and works; never starts it.
    static GpuRaster* Started();
    // Gone (tests only, before the blitter goes).
    static void ForgetForTests();

    // What a draw writes: a colour store in a 16- or 32-bit format, and optionally a depth store
    // (16-bit cells, or 32-bit cells of depthBits significant bits).
    struct Target {
        GpuStore* color = nullptr;
        PixelPlane colorHost;
        PixelFormat format;
        GpuStore* depth = nullptr;
        PixelPlane depthHost;
        int depthBits = 16;
    };
    // What a draw samples: a store of 8 (palettised), 16 or 32 bits a texel.
    struct Texture {
        GpuStore* store = nullptr;
        PixelPlane host;
        PixelFormat format;
        const DWORD* palette = nullptr; // 0x00RRGGBB; none: the 3-3-2 cube
        bool hasColorKey = false;
        DWORD keyLow = 0, keyHigh = 0;
    };
    // Whether a target format can be drawn (16 or 32 bits of at most 8 bits a channel).
    static bool Draws(const PixelFormat& format);

    // As Rasterizer::Draw; states.texture is ignored in favour of `texture`.
    void Draw(const Target& target, const RasterStates& states, const Texture* texture,
              const D3DRECT& clip, D3DPRIMITIVETYPE type, const D3DTLVERTEX* vertices, DWORD count);
    // Clears rects (cut to `area`) of the colour to black and/or the depth to the far plane.
    void Clear(const Target& target, const D3DRECT* rects, DWORD count, const D3DRECT& area,
               bool color, bool depth);
    // Draws what is queued.
    void Flush();
    std::uint64_t DrawCalls() const { return drawCalls_; }

    struct Vertex {
        float x, y, z, q; // GL window position, depth, perspective weight
        float u, v;       // times q
        float b, g, r, a; // 0..255, times q
        float bilinear;   // the triangle's filter
    };

    ~GpuRaster();

private:
    GpuRaster() = default;
    bool Start(std::string* why);
    bool MeasureFillRule(std::string* why);
    // The shadows of a target, made and brought up to date with their stores.
    struct Shadows;
    Shadows Prepare(const Target& target, bool wholeColor, bool wholeDepth);
    bool Current();

    // Everything a queued run of draws shares.
    struct Batch {
        GpuStore* color = nullptr;
        GpuStore* depth = nullptr;
        GpuStore* texture = nullptr;
        PixelFormat textureFormat;
        std::array<DWORD, 256> palette{};
        bool keyed = false;
        DWORD keyLow = 0, keyHigh = 0;
        int textureMode = 0;
        int addressU = 0, addressV = 0;
        bool blend = false;
        int srcBlend = 0, destBlend = 0;
        bool zTest = false, zWrite = false;
        int zFunc = 0;
        std::array<LONG, 4> clip{};
        bool operator==(const Batch&) const = default;
    };
    void Queue(const Batch& batch);

    std::uint64_t generation_ = 0;
    gpu::Program draw_, toColor_, toStore_, toDepth_, fromDepth_;
    GLuint vertexArray_ = 0, emptyArray_ = 0, paletteTexture_ = 0, depthFramebuffer_ = 0;
    gpu::StreamBuffer buffer_;
    Batch batch_;
    bool queued_ = false;
    std::vector<Vertex> vertices_;
    std::vector<GpuStore*> marked_; // stores told that draws using them are queued
    bool flushing_ = false;
    float offsetX_ = 0, offsetY_ = 0; // GL's tie rule as measured: added to every vertex
    std::uint64_t drawCalls_ = 0;
    friend struct RasterHolder;
    friend class ColorShadow;
    friend class DepthShadow;
};

} // namespace directx
