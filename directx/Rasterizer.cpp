#include "Rasterizer.h"

#include "Blit.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <list>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace directx {

namespace {

// Sub-pixel precision of snapped vertex positions.
constexpr int kSubBits = 4;
constexpr int kSub = 1 << kSubBits;
// Triangles reaching further than this from the origin are clipped first, so the fixed-point
// edge products stay well inside 64 bits.
constexpr double kGuardBand = 1 << 20;
// Pixels are shaded in runs of at most this many, in buffers that stay in the first-level
// cache.
constexpr int kChunk = 256;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return -FloorDiv(-a, b);
}

// a * b / 255, rounded, for bytes.
inline std::uint32_t Mul255(std::uint32_t a, std::uint32_t b) {
    const std::uint32_t t = a * b + 128;
    return (t + (t >> 8)) >> 8;
}

// 256 colours as 0xFFRRGGBB: the given palette, or the 3-3-2 cube without one.
std::array<DWORD, 256> OpaquePalette(const DWORD* palette) {
    std::array<DWORD, 256> colors{};
    for (int i = 0; i < 256; ++i)
        colors[i] = 0xFF000000u | ((palette ? palette[i] : CubeColor(i)) & 0xFFFFFF);
    return colors;
}

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

template <int BPP> inline std::uint32_t LoadPixel(const BYTE* p) {
    if constexpr (BPP == 1) {
        return p[0];
    } else if constexpr (BPP == 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    } else if constexpr (BPP == 3) {
        return p[0] | (p[1] << 8) | (p[2] << 16);
    } else {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
}

template <int BPP> inline void StorePixel(BYTE* p, std::uint32_t v) {
    if constexpr (BPP == 1) {
        p[0] = static_cast<BYTE>(v);
    } else if constexpr (BPP == 2) {
        const std::uint16_t w = static_cast<std::uint16_t>(v);
        std::memcpy(p, &w, 2);
    } else if constexpr (BPP == 3) {
        p[0] = static_cast<BYTE>(v);
        p[1] = static_cast<BYTE>(v >> 8);
        p[2] = static_cast<BYTE>(v >> 16);
    } else {
        std::memcpy(p, &v, 4);
    }
}

std::uint32_t LoadAny(const BYTE* p, int bytes) {
    switch (bytes) {
    case 1:
        return LoadPixel<1>(p);
    case 2:
        return LoadPixel<2>(p);
    case 3:
        return LoadPixel<3>(p);
    default:
        return LoadPixel<4>(p);
    }
}

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
    bool Matches(const RasterTexture& t, bool keyOn) const {
        if (t.bits != source.bits || t.pitch != source.pitch || t.width != source.width ||
            t.height != source.height || !(t.format == source.format) || keyOn != keyed ||
            t.version != source.version)
            return false;
        if (keyOn && (t.keyLow != source.keyLow || t.keyHigh != source.keyHigh))
            return false;
        if (t.format.Palettized() && palette != OpaquePalette(t.palette))
            return false;
        if (t.version != 0)
            return true;
        const std::size_t rowBytes = RowBytes();
        for (int y = 0; y < t.height; ++y)
            if (std::memcmp(raw.data() + y * rowBytes, t.bits + std::ptrdiff_t{y} * t.pitch,
                            rowBytes) != 0)
                return false;
        return true;
    }
    void Build(const RasterTexture& t, bool keyOn) {
        source = t;
        keyed = keyOn;
        palette = OpaquePalette(t.palette);
        const int bytes = t.format.BytesPerPixel();
        const std::size_t rowBytes = RowBytes();
        raw.resize(t.version == 0 ? rowBytes * t.height : 0);
        argb.resize(static_cast<std::size_t>(t.width) * t.height);
        anyTransparent = false;
        hasAlpha = !t.format.Palettized() && t.format.alphaMask != 0;
        transparent.assign(keyOn && hasAlpha ? argb.size() : 0, 0);
        const ColorConverter codec(t.format);
        const DWORD colorBits = t.format.ColorBits();
        for (int y = 0; y < t.height; ++y) {
            const BYTE* row = t.bits + std::ptrdiff_t{y} * t.pitch;
            if (!raw.empty())
                std::memcpy(raw.data() + y * rowBytes, row, rowBytes);
            for (int x = 0; x < t.width; ++x) {
                const std::uint32_t pixel = LoadAny(row + x * bytes, bytes);
                const std::size_t i = static_cast<std::size_t>(y) * t.width + x;
                argb[i] = t.format.Palettized() ? palette[pixel & 0xFF] : codec.ToArgb(pixel);
                if (keyOn) {
                    const DWORD v = pixel & colorBits;
                    if (v >= (t.keyLow & colorBits) && v <= (t.keyHigh & colorBits)) {
                        if (hasAlpha)
                            transparent[i] = 1;
                        else
                            argb[i] = 0;
                        anyTransparent = true;
                    }
                }
            }
        }
        padded.clear();
        if (std::has_single_bit(unsigned(t.width)) && std::has_single_bit(unsigned(t.height)) &&
            t.width <= 65536 && t.height <= 65536) {
            const std::size_t w = t.width, h = t.height;
            padded.resize((w + 1) * (h + 1));
            for (std::size_t y = 0; y <= h; ++y) {
                const std::uint32_t* from = argb.data() + (y % h) * w;
                std::uint32_t* to = padded.data() + y * (w + 1);
                std::memcpy(to, from, w * 4);
                to[w] = from[0];
            }
        }
    }
};

enum class BlendKind { Off, Add, Alpha, Generic };

bool Bilinear(D3DTEXTUREFILTER filter) {
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

AffineRun AffineStart(const TriangleSetup& ts, int x, int y) {
    const double px = x - ts.x0, py = y - ts.y0;
    const double sScale = ts.texWidth * 65536.0, tScale = ts.texHeight * 65536.0;
    const double offset = ts.bilinear ? 32768.0 : 0.0;
    AffineRun run;
    if (ts.textured) {
        run.s = ToFixed(ts.u.At(px, py) * sScale - offset);
        run.t = ToFixed(ts.v.At(px, py) * tScale - offset);
        run.ds = ToFixed(ts.u.dx * sScale + 0.5);
        run.dt = ToFixed(ts.v.dx * tScale + 0.5);
    }
    for (int k = 0; k < 4; ++k) {
        run.c[k] = static_cast<std::int32_t>(
            std::lround(std::clamp(ts.c[k].At(px, py), -1.0, 256.0) * 65536.0));
        run.dc[k] = static_cast<std::int32_t>(std::lround(ts.c[k].dx * 65536.0));
    }
    return run;
}

inline std::uint32_t RunColor(const std::uint32_t c[4]) {
    auto channel = [](std::uint32_t v) {
        return ClampByte(static_cast<std::int32_t>(v + 32768) >> 16);
    };
    return channel(c[0]) | (channel(c[1]) << 8) | (channel(c[2]) << 16) | (channel(c[3]) << 24);
}

// Pixels first..first+n-1 of an affine run into span slots 0..n-1.
void FillAffine(const AffineRun& run, bool textured, int first, int n, Span& span) {
    if (textured) {
        std::int64_t s = run.s + run.ds * first, t = run.t + run.dt * first;
        for (int i = 0; i < n; ++i) {
            span.s[i] = s;
            span.t[i] = t;
            s += run.ds;
            t += run.dt;
        }
    }
    // Colour steps wrap as 32-bit sums.
    std::uint32_t c[4], dc[4];
    for (int k = 0; k < 4; ++k) {
        dc[k] = static_cast<std::uint32_t>(run.dc[k]);
        c[k] = static_cast<std::uint32_t>(run.c[k]) + dc[k] * static_cast<std::uint32_t>(first);
    }
    for (int i = 0; i < n; ++i) {
        span.color[i] = RunColor(c);
        for (int k = 0; k < 4; ++k)
            c[k] += dc[k];
    }
}

// Fills the texel coordinates and vertex colours of n pixels from (x, y).
template <bool Perspective>
void Interpolate(const TriangleSetup& ts, int x, int y, int n, Span& span) {
    const double px = x - ts.x0, py = y - ts.y0;
    const double sScale = ts.texWidth * 65536.0, tScale = ts.texHeight * 65536.0;
    const double offset = ts.bilinear ? 32768.0 : 0.0;
    if constexpr (!Perspective) {
        FillAffine(AffineStart(ts, x, y), ts.textured, 0, n, span);
    } else {
        double r = ts.rhw.At(px, py), u = ts.u.At(px, py), v = ts.v.At(px, py);
        double c[4];
        for (int k = 0; k < 4; ++k)
            c[k] = ts.c[k].At(px, py);
        for (int i = 0; i < n; ++i) {
            const double w = 1.0 / r;
            if (ts.textured) {
                span.s[i] = ToFixed(u * w * sScale - offset);
                span.t[i] = ToFixed(v * w * tScale - offset);
            }
            std::uint32_t packed = 0;
            for (int k = 0; k < 4; ++k)
                packed |= ClampByte(static_cast<std::int32_t>(std::lround(c[k] * w))) << (8 * k);
            span.color[i] = packed;
            r += ts.rhw.dx;
            u += ts.u.dx;
            v += ts.v.dx;
            for (int k = 0; k < 4; ++k)
                c[k] += ts.c[k].dx;
        }
    }
}

// Looks texels up for n pixels; keyed texels clear the pixel's live flag.
template <bool Bilinear, bool FastWrap, KeyKind Key>
void Sample(const TexelImage& image, const RasterStates& states, int n, Span& span) {
    const int w = image.source.width, h = image.source.height;
    const std::uint32_t* texels = image.argb.data();
    const BYTE* list = image.transparent.data();
    const int wMask = w - 1, hMask = h - 1;
    auto column = [&](std::int64_t i) {
        return FastWrap ? static_cast<int>(i & wMask) : Wrap(i, w, states.addressU);
    };
    auto row = [&](std::int64_t i) {
        return FastWrap ? static_cast<int>(i & hMask) : Wrap(i, h, states.addressV);
    };
    auto transparent = [&](std::size_t at) {
        if constexpr (Key == KeyKind::Marker)
            return (texels[at] >> 24) == 0;
        else if constexpr (Key == KeyKind::List)
            return list[at] != 0;
        else
            return false;
    };
    for (int i = 0; i < n; ++i) {
        if (!span.live[i])
            continue;
        if constexpr (!Bilinear) {
            const std::size_t at =
                static_cast<std::size_t>(row(span.t[i] >> 16)) * w + column(span.s[i] >> 16);
            if (transparent(at)) {
                span.live[i] = 0;
                continue;
            }
            span.texel[i] = texels[at];
        } else {
            const std::int64_t si = span.s[i] >> 16, ti = span.t[i] >> 16;
            const std::uint32_t fx = static_cast<std::uint32_t>(span.s[i] >> 8) & 0xFF;
            const std::uint32_t fy = static_cast<std::uint32_t>(span.t[i] >> 8) & 0xFF;
            const int x0 = column(si), x1 = column(si + 1);
            const std::size_t r0 = static_cast<std::size_t>(row(ti)) * w;
            const std::size_t r1 = static_cast<std::size_t>(row(ti + 1)) * w;
            const std::size_t at[4] = {r0 + x0, r0 + x1, r1 + x0, r1 + x1};
#if defined(__SSE2__)
            // Neighbouring texels of a row sit side by side except where the row wraps.
            __m128i topPair, bottomPair;
            if (x1 == x0 + 1) {
                topPair = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + at[0]));
                bottomPair = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + at[2]));
            } else {
                topPair = _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(texels[at[0]])),
                                             _mm_cvtsi32_si128(int(texels[at[1]])));
                bottomPair = _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(texels[at[2]])),
                                                _mm_cvtsi32_si128(int(texels[at[3]])));
            }
#else
            const std::uint32_t c00 = texels[at[0]], c10 = texels[at[1]];
            const std::uint32_t c01 = texels[at[2]], c11 = texels[at[3]];
#endif
            bool anyKeyed = false;
            if constexpr (Key == KeyKind::Marker) {
#if defined(__SSE2__)
                // Every tap opaque: all four alpha bytes are 0xFF.
                const __m128i both = _mm_and_si128(topPair, bottomPair);
                anyKeyed = (_mm_movemask_epi8(_mm_cmpeq_epi8(both, _mm_set1_epi8(char(0xFF)))) &
                            0x88) != 0x88;
#else
                anyKeyed = ((c00 & c10 & c01 & c11) >> 24) != 0xFF;
#endif
            } else if constexpr (Key == KeyKind::List)
                anyKeyed = (list[at[0]] | list[at[1]] | list[at[2]] | list[at[3]]) != 0;
            if (anyKeyed) {
                // Transparent taps drop out and the rest share their weight; a pixel that is
                // mostly transparent is left out.
                const std::uint32_t weight[4] = {(256 - fx) * (256 - fy), fx * (256 - fy),
                                                 (256 - fx) * fy, fx * fy};
                std::uint32_t total = 0, sum[4] = {};
                for (int k = 0; k < 4; ++k) {
                    if (transparent(at[k]))
                        continue;
                    total += weight[k];
                    for (int c = 0; c < 4; ++c)
                        sum[c] += ((texels[at[k]] >> (8 * c)) & 0xFF) * weight[k];
                }
                if (total * 2 < 65536) {
                    span.live[i] = 0;
                    continue;
                }
                std::uint32_t packed = 0;
                for (int c = 0; c < 4; ++c)
                    packed |= ((sum[c] + total / 2) / total) << (8 * c);
                span.texel[i] = packed;
                continue;
            }
#if defined(__SSE2__)
            // Four channels of two texels per register, as 16-bit lanes: rows first, then
            // the two columns.
            const __m128i zero = _mm_setzero_si128();
            const __m128i top = _mm_unpacklo_epi8(topPair, zero);
            const __m128i bottom = _mm_unpacklo_epi8(bottomPair, zero);
            const __m128i round = _mm_set1_epi16(128);
            __m128i v = _mm_add_epi16(_mm_mullo_epi16(top, _mm_set1_epi16(short(256 - fy))),
                                      _mm_mullo_epi16(bottom, _mm_set1_epi16(short(fy))));
            v = _mm_srli_epi16(_mm_add_epi16(v, round), 8);
            const short wl = short(256 - fx), wr = short(fx);
            const __m128i m = _mm_mullo_epi16(v, _mm_set_epi16(wr, wr, wr, wr, wl, wl, wl, wl));
            __m128i h = _mm_add_epi16(m, _mm_srli_si128(m, 8));
            h = _mm_srli_epi16(_mm_add_epi16(h, round), 8);
            span.texel[i] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(h, h)));
#else
            // Two channels at a time: 0x00AA00BB lanes never carry into each other.
            auto lerp = [](std::uint32_t a, std::uint32_t b, std::uint32_t f) {
                const std::uint32_t rbA = a & 0x00FF00FF, agA = (a >> 8) & 0x00FF00FF;
                const std::uint32_t rbB = b & 0x00FF00FF, agB = (b >> 8) & 0x00FF00FF;
                const std::uint32_t rb =
                    ((rbA * (256 - f) + rbB * f + 0x00800080) >> 8) & 0x00FF00FF;
                const std::uint32_t ag =
                    ((agA * (256 - f) + agB * f + 0x00800080) >> 8) & 0x00FF00FF;
                return rb | (ag << 8);
            };
            span.texel[i] = lerp(lerp(c00, c10, fx), lerp(c01, c11, fx), fy);
#endif
        }
    }
}

// Texture and vertex colour combined as the texture blend asks.
template <TexMode Mode> void Combine(bool textureAlpha, int n, Span& span) {
    for (int i = 0; i < n; ++i) {
        const std::uint32_t c = span.color[i];
        if constexpr (Mode == TexMode::None) {
            span.out[i] = c;
        } else {
            const std::uint32_t t = span.texel[i];
            const std::uint32_t ta = t >> 24, ca = c >> 24;
            std::uint32_t rgb = 0, a = 0;
            if constexpr (Mode == TexMode::Modulate || Mode == TexMode::ModulateAlpha) {
                for (int k = 0; k < 3; ++k)
                    rgb |= Mul255((t >> (8 * k)) & 0xFF, (c >> (8 * k)) & 0xFF) << (8 * k);
                if constexpr (Mode == TexMode::Modulate)
                    a = textureAlpha ? ta : ca;
                else
                    a = Mul255(ta, ca);
            } else if constexpr (Mode == TexMode::Decal) {
                rgb = t & 0xFFFFFF;
                a = ta;
            } else {
                for (int k = 0; k < 3; ++k) {
                    const std::uint32_t tc = (t >> (8 * k)) & 0xFF, cc = (c >> (8 * k)) & 0xFF;
                    rgb |= (Mul255(tc, ta) + Mul255(cc, 255 - ta)) << (8 * k);
                }
                a = ca;
            }
            span.out[i] = rgb | (a << 24);
        }
    }
}

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

using DepthFunction = void (*)(const RasterDepth&, const Plane&, double, double, int, int, int,
                               Span&);

template <D3DCMPFUNC Func> DepthFunction PickDepth(bool wide, bool write) {
    if (wide)
        return write ? &DepthTest<Func, true, true> : &DepthTest<Func, true, false>;
    return write ? &DepthTest<Func, false, true> : &DepthTest<Func, false, false>;
}

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

// One blend factor for the generic path, per channel (b, g, r, a).
void Factor(D3DBLEND blend, std::uint32_t s, std::uint32_t d, std::uint32_t out[4]) {
    const std::uint32_t sa = s >> 24, da = d >> 24;
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t sc = (s >> (8 * k)) & 0xFF, dc = (d >> (8 * k)) & 0xFF;
        std::uint32_t f = 0;
        switch (blend) {
        case D3DBLEND_ZERO:
            f = 0;
            break;
        case D3DBLEND_ONE:
            f = 255;
            break;
        case D3DBLEND_SRCCOLOR:
            f = sc;
            break;
        case D3DBLEND_INVSRCCOLOR:
            f = 255 - sc;
            break;
        case D3DBLEND_SRCALPHA:
        case D3DBLEND_BOTHSRCALPHA:
            f = sa;
            break;
        case D3DBLEND_INVSRCALPHA:
        case D3DBLEND_BOTHINVSRCALPHA:
            f = 255 - sa;
            break;
        case D3DBLEND_DESTALPHA:
            f = da;
            break;
        case D3DBLEND_INVDESTALPHA:
            f = 255 - da;
            break;
        case D3DBLEND_DESTCOLOR:
            f = dc;
            break;
        case D3DBLEND_INVDESTCOLOR:
            f = 255 - dc;
            break;
        case D3DBLEND_SRCALPHASAT:
            f = k == 3 ? 255 : std::min(sa, 255 - da);
            break;
        default:
            f = 255;
            break;
        }
        out[k] = f;
    }
}

template <int BPP, BlendKind Blend>
void Write(const TargetCodec& codec, const RasterStates& states, BYTE* row, int x, int n,
           const Span& span) {
    BYTE* p = row + static_cast<std::ptrdiff_t>(x) * BPP;
    for (int i = 0; i < n; ++i, p += BPP) {
        if (!span.live[i])
            continue;
        const std::uint32_t s = span.out[i];
        std::uint32_t result = s;
        if constexpr (Blend == BlendKind::Add && BPP > 1) {
            // Adding in the target's own channels saves unpacking: the same sum to within
            // the rounding of one channel step.
            const std::uint64_t sp = codec.codec.FromArgb(s), dp = LoadPixel<BPP>(p);
            std::uint64_t sum = 0;
            for (int c = 0; c < 4; ++c) {
                const std::uint64_t m = codec.codec.Mask(c);
                sum |= std::min<std::uint64_t>((sp & m) + (dp & m), m);
            }
            StorePixel<BPP>(p, static_cast<std::uint32_t>(sum));
            continue;
        }
        if constexpr (Blend != BlendKind::Off) {
            const std::uint32_t d = codec.Unpack<BPP>(LoadPixel<BPP>(p));
            if constexpr (Blend == BlendKind::Add) {
                const std::uint32_t rb = (s & 0x00FF00FF) + (d & 0x00FF00FF);
                const std::uint32_t ag = ((s >> 8) & 0x00FF00FF) + ((d >> 8) & 0x00FF00FF);
                // Saturate each lane: a carry into bit 8 of a lane turns the lane to 0xFF.
                const std::uint32_t rbSat = (rb | (((rb >> 8) & 0x00010001) * 0xFF)) & 0x00FF00FF;
                const std::uint32_t agSat = (ag | (((ag >> 8) & 0x00010001) * 0xFF)) & 0x00FF00FF;
                result = rbSat | (agSat << 8);
            } else if constexpr (Blend == BlendKind::Alpha) {
                const std::uint32_t a = s >> 24;
                result = 0;
                for (int k = 0; k < 4; ++k) {
                    const std::uint32_t sc = (s >> (8 * k)) & 0xFF, dc = (d >> (8 * k)) & 0xFF;
                    result |= std::min<std::uint32_t>(255, Mul255(sc, a) + Mul255(dc, 255 - a))
                              << (8 * k);
                }
            } else {
                // The "both" factors name the source and destination factor at once.
                D3DBLEND src = states.srcBlend, dst = states.destBlend;
                if (src == D3DBLEND_BOTHINVSRCALPHA) {
                    src = D3DBLEND_INVSRCALPHA;
                    dst = D3DBLEND_SRCALPHA;
                }
                std::uint32_t fs[4], fd[4];
                Factor(src, s, d, fs);
                Factor(dst, s, d, fd);
                result = 0;
                for (int k = 0; k < 4; ++k) {
                    const std::uint32_t sc = (s >> (8 * k)) & 0xFF, dc = (d >> (8 * k)) & 0xFF;
                    result |= std::min<std::uint32_t>(255, Mul255(sc, fs[k]) + Mul255(dc, fd[k]))
                              << (8 * k);
                }
            }
        }
        if constexpr (BPP == 1)
            StorePixel<1>(p, codec.index.Nearest(result));
        else
            StorePixel<BPP>(p, codec.codec.FromArgb(result));
    }
}

using WriteFunction = void (*)(const TargetCodec&, const RasterStates&, BYTE*, int, int,
                               const Span&);

// Additive blending into 5-6-5, the Direct3D test's busiest case: the pixel is spread to
// 0x07E0F81F so every channel has a spare bit above it for its carry.
void WriteAdd565(const TargetCodec& codec, const RasterStates&, BYTE* row, int x, int n,
                 const Span& span) {
    BYTE* p = row + static_cast<std::ptrdiff_t>(x) * 2;
    for (int i = 0; i < n; ++i, p += 2) {
        if (!span.live[i])
            continue;
        const std::uint32_t s = codec.codec.FromArgb(span.out[i]);
        const std::uint32_t d = LoadPixel<2>(p);
        const std::uint32_t sum = ((s | (s << 16)) & 0x07E0F81F) + ((d | (d << 16)) & 0x07E0F81F);
        const std::uint32_t carryRB = sum & 0x00010020, carryG = sum & 0x08000000;
        const std::uint32_t fill = (carryRB - (carryRB >> 5)) | (carryG - (carryG >> 6));
        const std::uint32_t out = (sum | fill) & 0x07E0F81F;
        StorePixel<2>(p, (out | (out >> 16)) & 0xFFFF);
    }
}

template <int BPP> WriteFunction PickWrite(BlendKind blend) {
    switch (blend) {
    case BlendKind::Off:
        return &Write<BPP, BlendKind::Off>;
    case BlendKind::Add:
        return &Write<BPP, BlendKind::Add>;
    case BlendKind::Alpha:
        return &Write<BPP, BlendKind::Alpha>;
    default:
        return &Write<BPP, BlendKind::Generic>;
    }
}

using SampleFunction = void (*)(const TexelImage&, const RasterStates&, int, Span&);

template <bool Bilinear, bool FastWrap> SampleFunction PickSample(KeyKind key) {
    switch (key) {
    case KeyKind::None:
        return &Sample<Bilinear, FastWrap, KeyKind::None>;
    case KeyKind::Marker:
        return &Sample<Bilinear, FastWrap, KeyKind::Marker>;
    default:
        return &Sample<Bilinear, FastWrap, KeyKind::List>;
    }
}

SampleFunction PickSample(bool bilinear, bool fastWrap, KeyKind key) {
    if (bilinear)
        return fastWrap ? PickSample<true, true>(key) : PickSample<true, false>(key);
    return fastWrap ? PickSample<false, true>(key) : PickSample<false, false>(key);
}

using CombineFunction = void (*)(bool, int, Span&);

CombineFunction PickCombine(TexMode mode) {
    switch (mode) {
    case TexMode::None:
        return &Combine<TexMode::None>;
    case TexMode::Modulate:
        return &Combine<TexMode::Modulate>;
    case TexMode::ModulateAlpha:
        return &Combine<TexMode::ModulateAlpha>;
    case TexMode::Decal:
        return &Combine<TexMode::Decal>;
    default:
        return &Combine<TexMode::DecalAlpha>;
    }
}

// Everything about a draw call's pixels that does not depend on the triangle, chosen once
// per call: the stage functions, and where one exists a fused loop for the whole run.
struct Pipeline;

// A fused run: interpolation, sampling, texture blend and write of n pixels in one loop.
using FusedFunction = void (*)(const TexelImage&, const AffineRun&, BYTE*, int, int);

struct Pipeline {
    SampleFunction sample[2] = {}; // nearest, bilinear
    FusedFunction fused[2] = {};   // affine runs only
    CombineFunction combine = nullptr;
    WriteFunction write = nullptr;
    DepthFunction depth = nullptr;
    bool textureAlpha = false;
};

#if defined(__x86_64__)
#define ZELKA_AVX2 __attribute__((target("avx2"), always_inline)) inline

// v + i * step in lane i (wrapping 32-bit sums).
ZELKA_AVX2 __m256i RunStart(std::int64_t v, std::int64_t step) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(v)),
                            _mm256_mullo_epi32(lane, _mm256_set1_epi32(static_cast<int>(step))));
}

ZELKA_AVX2 __m256i RunStep8(std::int64_t step) {
    return _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(step) * 8u));
}

// The first (0x88) or second (0xDD) halves of the 64-bit lanes of a and b, in lane order.
template <int Pick> ZELKA_AVX2 __m256i SplitPairs(__m256 a, __m256 b) {
    return _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, Pick)), 0xD8);
}

// (a * wa + b * wb + 128) >> 8 in 16-bit lanes.
ZELKA_AVX2 __m256i Mix16(__m256i a, __m256i b, __m256i wa, __m256i wb) {
    const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, wa), _mm256_mullo_epi16(b, wb));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), 8);
}

ZELKA_AVX2 __m256i BlueRed(__m256i c) {
    return _mm256_and_si256(c, _mm256_set1_epi32(0x00FF00FF));
}

ZELKA_AVX2 __m256i GreenAlpha(__m256i c) {
    return _mm256_and_si256(_mm256_srli_epi32(c, 8), _mm256_set1_epi32(0x00FF00FF));
}

// A 16.16 colour channel to its byte, clamped as the colour stage does.
ZELKA_AVX2 __m256i ColorByte(__m256i c) {
    const __m256i v = _mm256_srai_epi32(_mm256_add_epi32(c, _mm256_set1_epi32(32768)), 16);
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// a * b / 255, rounded, in 16-bit lanes.
ZELKA_AVX2 __m256i Mul255x16(__m256i a, __m256i b) {
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(a, b), _mm256_set1_epi16(128));
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// A byte to a channel of max steps with the rounding of the pack tables: (v * max + 127) / 255.
ZELKA_AVX2 __m256i ScaleTo(__m256i v, short max) {
    const __m256i t =
        _mm256_add_epi16(_mm256_mullo_epi16(v, _mm256_set1_epi16(max)), _mm256_set1_epi16(127));
    return _mm256_srli_epi16(_mm256_mulhi_epu16(t, _mm256_set1_epi16(short(0x8081))), 7);
}

// floor(a / b) for 0 <= a < 2^24 and 0 < b <= 2^17, given 1 / b in single precision: the
// product is off by at most one, which one correction step puts right.
ZELKA_AVX2 __m256i Divide(__m256i a, __m256i b, __m256 inverse) {
    __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(a), inverse));
    const __m256i r = _mm256_sub_epi32(a, _mm256_mullo_epi32(q, b));
    q = _mm256_add_epi32(q, _mm256_srai_epi32(r, 31)); // r < 0: one less
    const __m256i over = _mm256_cmpgt_epi32(r, _mm256_sub_epi32(b, _mm256_set1_epi32(1)));
    return _mm256_sub_epi32(q, over); // r >= b: one more
}

// The keyed sample of the stage function: keyed taps drop out and the others share their
// weight. Gives b | r << 16 and g per lane; lanes whose kept weight is under half lose drawn.
ZELKA_AVX2 void KeyedTaps(const __m256i tap[4], __m256i fx, __m256i fy, __m256i& drawn,
                          __m256i& texRB, __m256i& texAG) {
    const __m256i full = _mm256_set1_epi32(256), zero = _mm256_setzero_si256();
    const __m256i ix = _mm256_sub_epi32(full, fx), iy = _mm256_sub_epi32(full, fy);
    const __m256i weight[4] = {_mm256_mullo_epi32(ix, iy), _mm256_mullo_epi32(fx, iy),
                               _mm256_mullo_epi32(ix, fy), _mm256_mullo_epi32(fx, fy)};
    __m256i total = zero, sum[3] = {zero, zero, zero};
    for (int k = 0; k < 4; ++k) {
        const __m256i keyed = _mm256_cmpeq_epi32(_mm256_srli_epi32(tap[k], 24), zero);
        const __m256i w = _mm256_andnot_si256(keyed, weight[k]);
        total = _mm256_add_epi32(total, w);
        for (int c = 0; c < 3; ++c) {
            const __m256i v =
                _mm256_and_si256(_mm256_srli_epi32(tap[k], 8 * c), _mm256_set1_epi32(0xFF));
            sum[c] = _mm256_add_epi32(sum[c], _mm256_mullo_epi32(v, w));
        }
    }
    drawn = _mm256_cmpgt_epi32(total, _mm256_set1_epi32(32767));
    const __m256i divisor = _mm256_max_epi32(total, _mm256_set1_epi32(1));
    const __m256i bias = _mm256_srli_epi32(total, 1);
    const __m256 inverse = _mm256_div_ps(_mm256_set1_ps(1.0f), _mm256_cvtepi32_ps(divisor));
    __m256i q[3];
    for (int c = 0; c < 3; ++c)
        q[c] = Divide(_mm256_add_epi32(sum[c], bias), divisor, inverse);
    texRB = _mm256_or_si256(q[0], _mm256_slli_epi32(q[2], 16));
    texAG = q[1];
}

// Bilinear, wrapped power-of-two texture, modulated by the vertex colour, into 5-6-5 (opaque
// or added), eight pixels at a time. Each step is the integer arithmetic of the stage
// functions above, so the pixels are the same to the bit.
template <bool Add, bool Marker>
__attribute__((target("avx2"))) void FusedBilinear565(const TexelImage& image, const AffineRun& run,
                                                      BYTE* line, int x, int n) {
    const int w = image.source.width, h = image.source.height;
    const int stride = w + 1;
    const auto* base = reinterpret_cast<const int*>(image.padded.data());
    // Only the low 32 bits of a texel position matter once it wraps in a texture of at most
    // 65536 texels a side.
    __m256i S = RunStart(run.s, run.ds), T = RunStart(run.t, run.dt);
    const __m256i dS = RunStep8(run.ds), dT = RunStep8(run.dt);
    __m256i C[3], dC[3];
    for (int k = 0; k < 3; ++k) {
        C[k] = RunStart(run.c[k], run.dc[k]);
        dC[k] = RunStep8(run.dc[k]);
    }
    const __m256i wMask = _mm256_set1_epi32(w - 1), hMask = _mm256_set1_epi32(h - 1);
    const __m256i byteMask = _mm256_set1_epi32(0xFF), full = _mm256_set1_epi32(0x01000100);
    const __m256i strideV = _mm256_set1_epi32(stride);
    // A run of one colour (a quad of one tint) converts it once.
    const bool oneColor = run.dc[0] == 0 && run.dc[1] == 0 && run.dc[2] == 0;
    const __m256i oneRB = _mm256_or_si256(ColorByte(C[0]), _mm256_slli_epi32(ColorByte(C[2]), 16));
    const __m256i oneG = ColorByte(C[1]);
    for (int i = 0; i < n; i += 8) {
        const __m256i col = _mm256_and_si256(_mm256_srli_epi32(S, 16), wMask);
        const __m256i row = _mm256_and_si256(_mm256_srli_epi32(T, 16), hMask);
        const __m256i fx = _mm256_and_si256(_mm256_srli_epi32(S, 8), byteMask);
        const __m256i fy = _mm256_and_si256(_mm256_srli_epi32(T, 8), byteMask);
        const __m256i at = _mm256_add_epi32(_mm256_mullo_epi32(row, strideV), col);
        // Each tap and its right neighbour in one 64-bit load, then split into the left and
        // right taps in pixel order.
        const __m128i atLow = _mm256_castsi256_si128(at), atHigh = _mm256_extracti128_si256(at, 1);
        const auto* top = reinterpret_cast<const long long*>(base);
        const auto* bottom = reinterpret_cast<const long long*>(base + stride);
        const __m256 top0 = _mm256_castsi256_ps(_mm256_i32gather_epi64(top, atLow, 4));
        const __m256 top1 = _mm256_castsi256_ps(_mm256_i32gather_epi64(top, atHigh, 4));
        const __m256 bottom0 = _mm256_castsi256_ps(_mm256_i32gather_epi64(bottom, atLow, 4));
        const __m256 bottom1 = _mm256_castsi256_ps(_mm256_i32gather_epi64(bottom, atHigh, 4));
        const __m256i c00 = SplitPairs<0x88>(top0, top1), c10 = SplitPairs<0xDD>(top0, top1);
        const __m256i c01 = SplitPairs<0x88>(bottom0, bottom1);
        const __m256i c11 = SplitPairs<0xDD>(bottom0, bottom1);
        const __m256i colorB = C[0], colorG = C[1], colorR = C[2];
        S = _mm256_add_epi32(S, dS);
        T = _mm256_add_epi32(T, dT);
        for (int k = 0; k < 3; ++k)
            C[k] = _mm256_add_epi32(C[k], dC[k]);
        // Weights in both 16-bit halves of a lane, where the channel pairs b/r and g/a sit:
        // rows first, then columns.
        const __m256i wy = _mm256_or_si256(fy, _mm256_slli_epi32(fy, 16));
        const __m256i wx = _mm256_or_si256(fx, _mm256_slli_epi32(fx, 16));
        const __m256i wyInv = _mm256_sub_epi16(full, wy), wxInv = _mm256_sub_epi16(full, wx);
        __m256i texRB = Mix16(Mix16(BlueRed(c00), BlueRed(c01), wyInv, wy),
                              Mix16(BlueRed(c10), BlueRed(c11), wyInv, wy), wxInv, wx);
        __m256i texAG = Mix16(Mix16(GreenAlpha(c00), GreenAlpha(c01), wyInv, wy),
                              Mix16(GreenAlpha(c10), GreenAlpha(c11), wyInv, wy), wxInv, wx);
        __m256i drawn = _mm256_set1_epi32(-1);
        if constexpr (Marker) {
            // A keyed tap has alpha 0, every other one alpha 255.
            const __m256i all =
                _mm256_and_si256(_mm256_and_si256(c00, c10), _mm256_and_si256(c01, c11));
            const __m256i opaque = _mm256_cmpeq_epi32(_mm256_srli_epi32(all, 24), byteMask);
            const int opaqueBits = _mm256_movemask_ps(_mm256_castsi256_ps(opaque));
            if (opaqueBits != 0xFF) {
                const __m256i taps[4] = {c00, c10, c01, c11};
                __m256i keyedDrawn, keyedRB, keyedAG;
                KeyedTaps(taps, fx, fy, keyedDrawn, keyedRB, keyedAG);
                drawn = _mm256_or_si256(opaque, keyedDrawn);
                if (_mm256_movemask_ps(_mm256_castsi256_ps(drawn)) == 0)
                    continue;
                texRB = _mm256_blendv_epi8(keyedRB, texRB, opaque);
                texAG = _mm256_blendv_epi8(keyedAG, texAG, opaque);
            }
        }
        const __m256i tintRB =
            oneColor ? oneRB
                     : _mm256_or_si256(ColorByte(colorB), _mm256_slli_epi32(ColorByte(colorR), 16));
        const __m256i tintG = oneColor ? oneG : ColorByte(colorG);
        const __m256i outRB = Mul255x16(texRB, tintRB);
        const __m256i outG = _mm256_and_si256(Mul255x16(texAG, tintG), byteMask);
        const __m256i rb5 = ScaleTo(outRB, 31);
        const __m256i g6 = _mm256_and_si256(ScaleTo(outG, 63), byteMask);
        const __m256i packed = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(rb5, byteMask), _mm256_slli_epi32(g6, 5)),
            _mm256_slli_epi32(_mm256_srli_epi32(rb5, 16), 11));
        __m128i out = _mm256_castsi256_si128(
            _mm256_permute4x64_epi64(_mm256_packus_epi32(packed, packed), 0x08));
        // The last pixels of a run go through a copy, so nothing past the run is touched.
        const int m = std::min(8, n - i);
        BYTE* to = line + static_cast<std::ptrdiff_t>(x + i) * 2;
        alignas(16) BYTE tail[16];
        BYTE* at8 = to;
        if (m < 8) {
            std::memcpy(tail, to, static_cast<std::size_t>(m) * 2);
            at8 = tail;
        }
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at8));
        if constexpr (Add) {
            // Each channel moved to the top of its lane, so the saturating add clamps it.
            const __m128i rMask = _mm_set1_epi16(short(0xF800));
            const __m128i gMask = _mm_set1_epi16(short(0xFC00));
            const __m128i r = _mm_and_si128(
                _mm_adds_epu16(_mm_and_si128(d, rMask), _mm_and_si128(out, rMask)), rMask);
            const __m128i g = _mm_srli_epi16(
                _mm_and_si128(_mm_adds_epu16(_mm_and_si128(_mm_slli_epi16(d, 5), gMask),
                                             _mm_and_si128(_mm_slli_epi16(out, 5), gMask)),
                              gMask),
                5);
            const __m128i b =
                _mm_srli_epi16(_mm_adds_epu16(_mm_slli_epi16(d, 11), _mm_slli_epi16(out, 11)), 11);
            out = _mm_or_si128(_mm_or_si128(r, g), b);
        }
        if constexpr (Marker) {
            const __m128i keep = _mm256_castsi256_si128(
                _mm256_permute4x64_epi64(_mm256_packs_epi32(drawn, drawn), 0x08));
            out = _mm_blendv_epi8(d, out, keep);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at8), out);
        if (m < 8)
            std::memcpy(to, tail, static_cast<std::size_t>(m) * 2);
    }
}

FusedFunction PickFused(bool add, bool marker) {
    if (add)
        return marker ? &FusedBilinear565<true, true> : &FusedBilinear565<true, false>;
    return marker ? &FusedBilinear565<false, true> : &FusedBilinear565<false, false>;
}
#endif

bool Finite(const D3DTLVERTEX& v) {
    return std::isfinite(v.sx) && std::isfinite(v.sy) && std::isfinite(v.sz) &&
           std::isfinite(v.rhw) && std::isfinite(v.tu) && std::isfinite(v.tv);
}

Vertex MakeVertex(const D3DTLVERTEX& v, D3DCOLOR color) {
    return Vertex{v.sx,
                  v.sy,
                  v.sz,
                  v.rhw,
                  v.tu,
                  v.tv,
                  static_cast<double>((color >> 16) & 0xFF),
                  static_cast<double>((color >> 8) & 0xFF),
                  static_cast<double>(color & 0xFF),
                  static_cast<double>(color >> 24)};
}

// Linear blend of two vertices for clipping; attributes are already multiplied by rhw when
// the triangle is perspective-corrected, so linear is right for them.
Vertex Mix(const Vertex& a, const Vertex& b, double t) {
    auto m = [t](double p, double q) { return p + (q - p) * t; };
    return Vertex{m(a.x, b.x), m(a.y, b.y), m(a.z, b.z), m(a.rhw, b.rhw), m(a.u, b.u),
                  m(a.v, b.v), m(a.r, b.r), m(a.g, b.g), m(a.b, b.b),     m(a.a, b.a)};
}

// Cuts a polygon to |x|, |y| <= limit.
std::vector<Vertex> ClipToGuardBand(std::vector<Vertex> polygon) {
    for (int side = 0; side < 4; ++side) {
        auto inside = [side](const Vertex& v) {
            switch (side) {
            case 0:
                return v.x >= -kGuardBand;
            case 1:
                return v.x <= kGuardBand;
            case 2:
                return v.y >= -kGuardBand;
            default:
                return v.y <= kGuardBand;
            }
        };
        auto cut = [side](const Vertex& a, const Vertex& b) {
            const double limit = (side == 0 || side == 2) ? -kGuardBand : kGuardBand;
            const double pa = side < 2 ? a.x : a.y, pb = side < 2 ? b.x : b.y;
            return Mix(a, b, (limit - pa) / (pb - pa));
        };
        std::vector<Vertex> next;
        for (std::size_t i = 0; i < polygon.size(); ++i) {
            const Vertex& a = polygon[i];
            const Vertex& b = polygon[(i + 1) % polygon.size()];
            if (inside(a)) {
                next.push_back(a);
                if (!inside(b))
                    next.push_back(cut(a, b));
            } else if (inside(b)) {
                next.push_back(cut(a, b));
            }
        }
        polygon = std::move(next);
        if (polygon.empty())
            break;
    }
    return polygon;
}

} // namespace

struct Rasterizer::Impl {
    TargetCodec target;
    bool targetValid = false;
    std::list<TexelImage> textures;
    Span span;
    Pipeline pipeline;
    bool wide = false;

    const TargetCodec& CodecFor(const RasterTarget& t) {
        const bool indexed = t.format.Palettized();
        if (targetValid && target.format == t.format) {
            if (!indexed)
                return target;
            const auto colors = OpaquePalette(t.palette);
            if (colors == target.paletteKey)
                return target;
        }
        target.format = t.format;
        if (indexed) {
            target.paletteKey = OpaquePalette(t.palette);
            target.index = PaletteMatcher(target.paletteKey.data());
        } else {
            target.codec = ColorConverter(t.format);
        }
        targetValid = true;
        return target;
    }

    // Most recently used first; the oldest of sixteen makes room for a new one.
    const TexelImage& TexelsFor(const RasterTexture& t, bool keyOn) {
        for (auto it = textures.begin(); it != textures.end(); ++it) {
            if (it->source.bits != t.bits)
                continue;
            if (!it->Matches(t, keyOn))
                it->Build(t, keyOn);
            textures.splice(textures.begin(), textures, it);
            return textures.front();
        }
        constexpr std::size_t kKept = 16;
        if (textures.size() >= kKept)
            textures.pop_back();
        textures.emplace_front();
        textures.front().Build(t, keyOn);
        return textures.front();
    }

    void Triangle(const RasterTarget& rt, const RasterDepth* depth, const RasterStates& states,
                  const D3DRECT& clip, const TexelImage* image, Vertex v0, Vertex v1, Vertex v2);
    void Choose(const RasterTarget& rt, const RasterDepth* depth, const RasterStates& states,
                const TexelImage* image);
    void Polygon(const RasterTarget& rt, const RasterDepth* depth, const RasterStates& states,
                 const D3DRECT& clip, const TexelImage* image, const Vertex& a, const Vertex& b,
                 const Vertex& c);
};

Rasterizer::Rasterizer() : impl_(std::make_unique<Impl>()) {}
Rasterizer::~Rasterizer() = default;

void Rasterizer::Impl::Polygon(const RasterTarget& rt, const RasterDepth* depth,
                               const RasterStates& states, const D3DRECT& clip,
                               const TexelImage* image, const Vertex& a, const Vertex& b,
                               const Vertex& c) {
    auto far = [](const Vertex& v) {
        return std::abs(v.x) > kGuardBand || std::abs(v.y) > kGuardBand;
    };
    if (!far(a) && !far(b) && !far(c)) {
        Triangle(rt, depth, states, clip, image, a, b, c);
        return;
    }
    // Clip in a space where every attribute is linear on the screen.
    const bool perspective = states.perspective && !(a.rhw == b.rhw && b.rhw == c.rhw);
    auto toLinear = [perspective](Vertex v) {
        if (perspective) {
            v.u *= v.rhw, v.v *= v.rhw, v.r *= v.rhw, v.g *= v.rhw, v.b *= v.rhw, v.a *= v.rhw;
        }
        return v;
    };
    auto fromLinear = [perspective](Vertex v) {
        if (perspective) {
            v.u /= v.rhw, v.v /= v.rhw, v.r /= v.rhw, v.g /= v.rhw, v.b /= v.rhw, v.a /= v.rhw;
        }
        return v;
    };
    std::vector<Vertex> polygon = ClipToGuardBand({toLinear(a), toLinear(b), toLinear(c)});
    for (std::size_t i = 2; i < polygon.size(); ++i)
        Triangle(rt, depth, states, clip, image, fromLinear(polygon[0]), fromLinear(polygon[i - 1]),
                 fromLinear(polygon[i]));
}

void Rasterizer::Impl::Triangle(const RasterTarget& rt, const RasterDepth* depth,
                                const RasterStates& states, const D3DRECT& clip,
                                const TexelImage* image, Vertex v0, Vertex v1, Vertex v2) {
    std::int64_t X[3] = {std::llround(v0.x * kSub), std::llround(v1.x * kSub),
                         std::llround(v2.x * kSub)};
    std::int64_t Y[3] = {std::llround(v0.y * kSub), std::llround(v1.y * kSub),
                         std::llround(v2.y * kSub)};
    const std::int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
    if (area == 0)
        return;
    // A positive area is clockwise on the screen (y grows downwards).
    if ((states.cullMode == D3DCULL_CCW && area < 0) || (states.cullMode == D3DCULL_CW && area > 0))
        return;
    if (area < 0) {
        std::swap(v1, v2);
        std::swap(X[1], X[2]);
        std::swap(Y[1], Y[2]);
    }

    Edge edges[3];
    for (int e = 0; e < 3; ++e) {
        const int a = e, b = (e + 1) % 3;
        Edge& edge = edges[e];
        edge.dx = X[b] - X[a];
        edge.dy = Y[b] - Y[a];
        edge.xa = X[a];
        edge.ya = Y[a];
        const bool topLeft = edge.dy < 0 || (edge.dy == 0 && edge.dx > 0);
        edge.bias = topLeft ? 0 : 1;
    }

    const std::int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
    const int yFirst = static_cast<int>(std::max<std::int64_t>(CeilDiv(minY, kSub), clip.y1));
    const int yLast = static_cast<int>(std::min<std::int64_t>(FloorDiv(maxY, kSub), clip.y2 - 1));
    if (yFirst > yLast)
        return;

    // Attribute planes from the snapped positions.
    TriangleSetup ts;
    const double x[3] = {double(X[0]) / kSub, double(X[1]) / kSub, double(X[2]) / kSub};
    const double y[3] = {double(Y[0]) / kSub, double(Y[1]) / kSub, double(Y[2]) / kSub};
    ts.x0 = x[0];
    ts.y0 = y[0];
    const double ex1 = x[1] - x[0], ey1 = y[1] - y[0], ex2 = x[2] - x[0], ey2 = y[2] - y[0];
    const double det = ex1 * ey2 - ex2 * ey1;
    auto plane = [&](double a0, double a1, double a2) {
        const double d1 = a1 - a0, d2 = a2 - a0;
        return Plane{a0, (d1 * ey2 - d2 * ey1) / det, (d2 * ex1 - d1 * ex2) / det};
    };
    const Vertex* vs[3] = {&v0, &v1, &v2};
    ts.perspective = states.perspective && !(v0.rhw == v1.rhw && v1.rhw == v2.rhw);
    if (ts.perspective && (v0.rhw <= 0 || v1.rhw <= 0 || v2.rhw <= 0))
        return; // behind the eye
    auto attribute = [&](double Vertex::*field) {
        double a[3];
        for (int i = 0; i < 3; ++i)
            a[i] = vs[i]->*field * (ts.perspective ? vs[i]->rhw : 1.0);
        return plane(a[0], a[1], a[2]);
    };
    ts.z = plane(v0.z, v1.z, v2.z);
    ts.rhw = plane(v0.rhw, v1.rhw, v2.rhw);
    ts.u = attribute(&Vertex::u);
    ts.v = attribute(&Vertex::v);
    ts.c[0] = attribute(&Vertex::b);
    ts.c[1] = attribute(&Vertex::g);
    ts.c[2] = attribute(&Vertex::r);
    ts.c[3] = attribute(&Vertex::a);

    ts.textured = image != nullptr;
    SampleFunction sample = nullptr;
    FusedFunction fused = nullptr;
    if (ts.textured) {
        ts.texWidth = image->source.width;
        ts.texHeight = image->source.height;
        // Texels per pixel decide between the magnification and minification filters.
        double dudx = ts.u.dx, dudy = ts.u.dy, dvdx = ts.v.dx, dvdy = ts.v.dy;
        if (ts.perspective) {
            const double cx = (x[0] + x[1] + x[2]) / 3 - ts.x0,
                         cy = (y[0] + y[1] + y[2]) / 3 - ts.y0;
            const double r = ts.rhw.At(cx, cy), u = ts.u.At(cx, cy) / r, v = ts.v.At(cx, cy) / r;
            dudx = (ts.u.dx - u * ts.rhw.dx) / r;
            dudy = (ts.u.dy - u * ts.rhw.dy) / r;
            dvdx = (ts.v.dx - v * ts.rhw.dx) / r;
            dvdy = (ts.v.dy - v * ts.rhw.dy) / r;
        }
        const double texelsPerPixel =
            std::abs(dudx * dvdy - dudy * dvdx) * ts.texWidth * ts.texHeight;
        const D3DTEXTUREFILTER filter = texelsPerPixel > 1.0 ? states.minFilter : states.magFilter;
        ts.bilinear = Bilinear(filter);
        sample = pipeline.sample[ts.bilinear];
        if (!ts.perspective)
            fused = pipeline.fused[ts.bilinear];
    }
    const CombineFunction combine = pipeline.combine;
    const WriteFunction write = pipeline.write;
    const DepthFunction depthTest = depth != nullptr ? pipeline.depth : nullptr;
    const TargetCodec& codec = target;
    const bool textureAlpha = pipeline.textureAlpha;

    // Runs of pixels through the stage functions, from span slot 0.
    auto stages = [&](Span& run, BYTE* line, int x0, int row, int n) {
        if (sample)
            sample(*image, states, n, run);
        combine(textureAlpha, n, run);
        if (depthTest)
            depthTest(*depth, ts.z, x0 - ts.x0, row - ts.y0, x0, row, n, run);
        write(codec, states, line, x0, n, run);
    };

    for (int row = yFirst; row <= yLast; ++row) {
        const std::int64_t py = std::int64_t{row} * kSub;
        std::int64_t lo = clip.x1, hi = clip.x2; // [lo, hi)
        for (const Edge& e : edges) {
            const std::int64_t c = e.dx * (py - e.ya) + e.dy * e.xa - e.bias;
            if (e.dy > 0)
                hi = std::min(hi, FloorDiv(c, kSub * e.dy) + 1);
            else if (e.dy < 0)
                lo = std::max(lo, CeilDiv(-c, -kSub * e.dy));
            else if (c < 0)
                hi = lo;
        }
        BYTE* line = rt.bits + std::ptrdiff_t{row} * rt.pitch;
        for (std::int64_t start = lo; start < hi; start += kChunk) {
            const int x0 = static_cast<int>(start);
            const int n = static_cast<int>(std::min<std::int64_t>(kChunk, hi - start));
            if (fused) {
                fused(*image, AffineStart(ts, x0, row), line, x0, n);
                continue;
            }
            std::memset(span.live, 1, n);
            if (ts.perspective)
                Interpolate<true>(ts, x0, row, n, span);
            else
                Interpolate<false>(ts, x0, row, n, span);
            stages(span, line, x0, row, n);
        }
    }
}

void Rasterizer::Impl::Choose(const RasterTarget& rt, const RasterDepth* depth,
                              const RasterStates& states, const TexelImage* image) {
    pipeline = Pipeline{};
    TexMode mode = TexMode::None;
    if (image != nullptr) {
        const int w = image->source.width, h = image->source.height;
        const bool fastWrap = states.addressU == D3DTADDRESS_WRAP &&
                              states.addressV == D3DTADDRESS_WRAP &&
                              std::has_single_bit(unsigned(w)) && std::has_single_bit(unsigned(h));
        const KeyKind key = !(image->keyed && image->anyTransparent) ? KeyKind::None
                            : image->hasAlpha                        ? KeyKind::List
                                                                     : KeyKind::Marker;
        pipeline.sample[0] = PickSample(false, fastWrap, key);
        pipeline.sample[1] = PickSample(true, fastWrap, key);
        switch (states.textureBlend) {
        case D3DTBLEND_DECAL:
        case D3DTBLEND_DECALMASK:
        case D3DTBLEND_COPY:
            mode = TexMode::Decal;
            break;
        case D3DTBLEND_DECALALPHA:
            mode = TexMode::DecalAlpha;
            break;
        case D3DTBLEND_MODULATEALPHA:
            mode = TexMode::ModulateAlpha;
            break;
        default:
            mode = TexMode::Modulate;
            break;
        }
        pipeline.textureAlpha = image->hasAlpha;
    }
    pipeline.combine = PickCombine(mode);

    BlendKind blend = BlendKind::Off;
    if (states.blendEnable) {
        if (states.srcBlend == D3DBLEND_ONE && states.destBlend == D3DBLEND_ZERO)
            blend = BlendKind::Off;
        else if (states.srcBlend == D3DBLEND_ONE && states.destBlend == D3DBLEND_ONE)
            blend = BlendKind::Add;
        else if ((states.srcBlend == D3DBLEND_SRCALPHA &&
                  states.destBlend == D3DBLEND_INVSRCALPHA) ||
                 states.srcBlend == D3DBLEND_BOTHSRCALPHA)
            blend = BlendKind::Alpha;
        else
            blend = BlendKind::Generic;
    }
    const bool rgb565 = rt.format.DirectLayout() == TPixelLayout::RGB565;
    switch (rt.format.BytesPerPixel()) {
    case 1:
        pipeline.write = PickWrite<1>(blend);
        break;
    case 2:
        pipeline.write = blend == BlendKind::Add && rgb565 ? &WriteAdd565 : PickWrite<2>(blend);
        break;
    case 3:
        pipeline.write = PickWrite<3>(blend);
        break;
    default:
        pipeline.write = PickWrite<4>(blend);
        break;
    }
    const bool useDepth = depth != nullptr && states.zEnable;
    if (useDepth)
        pipeline.depth = PickDepth(states.zFunc, depth->bitsPerCell == 32, states.zWrite);
#if defined(__x86_64__)
    // The fused loop covers the Direct3D test's own case: bilinear, wrapped, modulated into
    // 5-6-5, opaque or added, without a depth test.
    if (wide && image != nullptr && !image->padded.empty() && mode == TexMode::Modulate &&
        !useDepth && rgb565 && (blend == BlendKind::Off || blend == BlendKind::Add) &&
        states.addressU == D3DTADDRESS_WRAP && states.addressV == D3DTADDRESS_WRAP &&
        !(image->keyed && image->anyTransparent && image->hasAlpha))
        pipeline.fused[1] =
            PickFused(blend == BlendKind::Add, image->keyed && image->anyTransparent);
#endif
}

bool Rasterizer::Draw(const RasterTarget& target, const RasterDepth* depth,
                      const RasterStates& states, const D3DRECT& clip, D3DPRIMITIVETYPE type,
                      const D3DTLVERTEX* vertices, DWORD count) {
    if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLEFAN)
        return false;
    const int bpp = target.format.bitsPerPixel;
    if (target.bits == nullptr || target.width <= 0 || target.height <= 0 ||
        (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
        return false;
    if (count < 3 || vertices == nullptr)
        return true;

    D3DRECT area{std::max<LONG>(clip.x1, 0), std::max<LONG>(clip.y1, 0),
                 std::min<LONG>(clip.x2, target.width), std::min<LONG>(clip.y2, target.height)};
    if (depth != nullptr) {
        if (depth->bits == nullptr || (depth->bitsPerCell != 16 && depth->bitsPerCell != 32))
            depth = nullptr;
        else {
            area.x2 = std::min<LONG>(area.x2, depth->width);
            area.y2 = std::min<LONG>(area.y2, depth->height);
        }
    }
    if (area.x1 >= area.x2 || area.y1 >= area.y2)
        return true;

    impl_->CodecFor(target);
    const RasterTexture* texture = states.texture;
    const TexelImage* image = nullptr;
    if (texture != nullptr && texture->bits != nullptr && texture->width > 0 &&
        texture->height > 0) {
        const int tb = texture->format.bitsPerPixel;
        if (tb == 8 || tb == 16 || tb == 24 || tb == 32)
            image = &impl_->TexelsFor(*texture, states.colorKeyEnable && texture->hasColorKey);
    }

    impl_->wide = WideVectorsInUse();
    impl_->Choose(target, depth, states, image);

    auto triangle = [&](DWORD a, DWORD b, DWORD c) {
        const D3DTLVERTEX& va = vertices[a];
        const D3DTLVERTEX& vb = vertices[b];
        const D3DTLVERTEX& vc = vertices[c];
        if (!Finite(va) || !Finite(vb) || !Finite(vc))
            return;
        // Flat shading takes the colour of the triangle's first vertex.
        const bool flat = states.shadeMode == D3DSHADE_FLAT;
        impl_->Polygon(target, depth, states, area, image, MakeVertex(va, va.color),
                       MakeVertex(vb, flat ? va.color : vb.color),
                       MakeVertex(vc, flat ? va.color : vc.color));
    };
    switch (type) {
    case D3DPT_TRIANGLELIST:
        for (DWORD i = 0; i + 2 < count; i += 3)
            triangle(i, i + 1, i + 2);
        break;
    case D3DPT_TRIANGLESTRIP:
        // Every other triangle is taken in reverse so the whole strip keeps one winding.
        for (DWORD i = 0; i + 2 < count; ++i) {
            if (i % 2 == 0)
                triangle(i, i + 1, i + 2);
            else
                triangle(i + 1, i, i + 2);
        }
        break;
    default:
        for (DWORD i = 1; i + 1 < count; ++i)
            triangle(0, i, i + 1);
        break;
    }
    return true;
}

DWORD Rasterizer::PackColor(const RasterTarget& target, D3DCOLOR color) {
    const TargetCodec& codec = impl_->CodecFor(target);
    if (target.format.Palettized())
        return codec.index.Nearest(color);
    return codec.codec.FromArgb(color);
}

void Rasterizer::ClearTarget(const RasterTarget& target, const D3DRECT& rect, D3DCOLOR color) {
    const int bpp = target.format.bitsPerPixel;
    if (target.bits == nullptr || (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
        return;
    const LONG x1 = std::max<LONG>(rect.x1, 0), y1 = std::max<LONG>(rect.y1, 0);
    const LONG x2 = std::min<LONG>(rect.x2, target.width),
               y2 = std::min<LONG>(rect.y2, target.height);
    if (x1 >= x2 || y1 >= y2)
        return;
    const DWORD value = PackColor(target, color);
    const int bytes = target.format.BytesPerPixel();
    for (LONG y = y1; y < y2; ++y) {
        BYTE* p = target.bits + std::ptrdiff_t{y} * target.pitch + std::ptrdiff_t{x1} * bytes;
        switch (bytes) {
        case 1:
            std::memset(p, static_cast<int>(value), x2 - x1);
            break;
        case 2:
            for (LONG x = x1; x < x2; ++x, p += 2)
                StorePixel<2>(p, value);
            break;
        case 3:
            for (LONG x = x1; x < x2; ++x, p += 3)
                StorePixel<3>(p, value);
            break;
        default:
            for (LONG x = x1; x < x2; ++x, p += 4)
                StorePixel<4>(p, value);
            break;
        }
    }
}

void Rasterizer::ClearDepth(const RasterDepth& depth, const D3DRECT& rect, D3DVALUE z) {
    if (depth.bits == nullptr || (depth.bitsPerCell != 16 && depth.bitsPerCell != 32))
        return;
    const LONG x1 = std::max<LONG>(rect.x1, 0), y1 = std::max<LONG>(rect.y1, 0);
    const LONG x2 = std::min<LONG>(rect.x2, depth.width),
               y2 = std::min<LONG>(rect.y2, depth.height);
    if (x1 >= x2 || y1 >= y2)
        return;
    const double scale =
        depth.depthBits >= 32 ? 4294967295.0 : double((1ull << depth.depthBits) - 1);
    const double zc = std::isfinite(z) ? std::clamp<double>(z, 0.0, 1.0) : 1.0;
    const std::uint32_t value = static_cast<std::uint32_t>(zc * scale + 0.5);
    for (LONG y = y1; y < y2; ++y) {
        BYTE* p = depth.bits + std::ptrdiff_t{y} * depth.pitch;
        for (LONG x = x1; x < x2; ++x) {
            if (depth.bitsPerCell == 32)
                StorePixel<4>(p + x * 4, value);
            else
                StorePixel<2>(p + x * 2, value);
        }
    }
}

} // namespace directx
