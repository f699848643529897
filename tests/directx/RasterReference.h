#pragma once
// A slow, independent per-pixel renderer of what the rasteriser is meant to draw: every pixel
// centre is tested against every triangle in floating point, attributes come from
// barycentric weights, texels from a direct reading of the texture bytes.
#include "directx/Rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace reference {

using directx::PixelFormat;
using directx::RasterStates;
using directx::RasterTexture;

struct Color {
    double b = 0, g = 0, r = 0, a = 0;
};

struct ChannelInfo {
    int shift = 0, bits = 0;
};

inline ChannelInfo Info(DWORD mask) {
    ChannelInfo c;
    if (!mask)
        return c;
    while (!((mask >> c.shift) & 1))
        ++c.shift;
    while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1))
        ++c.bits;
    if (c.bits > 8) {
        c.shift += c.bits - 8;
        c.bits = 8;
    }
    return c;
}

inline std::uint32_t ReadRaw(const BYTE* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= std::uint32_t{p[i]} << (8 * i);
    return v;
}

inline void WriteRaw(BYTE* p, int bytes, std::uint32_t v) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<BYTE>(v >> (8 * i));
}

// A raw pixel as 0..255 channels.
inline Color Decode(std::uint32_t pixel, const PixelFormat& f, const DWORD* palette) {
    if (f.Palettized()) {
        const DWORD c = palette[pixel & 0xFF];
        return {double(c & 0xFF), double((c >> 8) & 0xFF), double((c >> 16) & 0xFF), 255};
    }
    auto channel = [&](DWORD mask, double none) {
        const ChannelInfo c = Info(mask);
        if (!c.bits)
            return none;
        const double max = (1 << c.bits) - 1;
        return std::round(((pixel >> c.shift) & ((1u << c.bits) - 1)) * 255.0 / max);
    };
    return {channel(f.bMask, 0), channel(f.gMask, 0), channel(f.rMask, 0),
            channel(f.alphaMask, 255)};
}

inline std::uint32_t Encode(const Color& c, const PixelFormat& f) {
    auto channel = [&](DWORD mask, double v) -> std::uint32_t {
        const ChannelInfo ch = Info(mask);
        if (!ch.bits)
            return 0;
        const double max = (1 << ch.bits) - 1;
        const double q = std::round(std::clamp(v, 0.0, 255.0) * max / 255.0);
        return static_cast<std::uint32_t>(q) << ch.shift;
    };
    return channel(f.bMask, c.b) | channel(f.gMask, c.g) | channel(f.rMask, c.r) |
           channel(f.alphaMask, c.a);
}

inline Color FromArgb(DWORD argb) {
    return {double(argb & 0xFF), double((argb >> 8) & 0xFF), double((argb >> 16) & 0xFF),
            double(argb >> 24)};
}

struct Picture {
    int width = 0, height = 0;
    std::vector<Color> pixels;
    std::vector<bool> touched;
    std::vector<bool> ambiguous; // a texel choice sits on a boundary; either answer is right
    Color& At(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

inline int WrapIndex(long long i, int n) {
    long long m = i % n;
    return static_cast<int>(m < 0 ? m + n : m);
}

struct TexelReader {
    const RasterTexture* t;
    bool keyOn;
    bool Transparent(int x, int y) const {
        if (!keyOn || !t->hasColorKey)
            return false;
        const int bytes = t->format.BytesPerPixel();
        std::uint32_t raw = ReadRaw(t->bits + y * t->pitch + x * bytes, bytes);
        const DWORD bits =
            t->format.Palettized()
                ? 0xFF
                : (t->format.rMask | t->format.gMask | t->format.bMask | t->format.alphaMask);
        raw &= bits;
        return raw >= (t->keyLow & bits) && raw <= (t->keyHigh & bits);
    }
    Color Get(int x, int y) const {
        const int bytes = t->format.BytesPerPixel();
        return Decode(ReadRaw(t->bits + y * t->pitch + x * bytes, bytes), t->format, t->palette);
    }
};

inline double Cross(double ax, double ay, double bx, double by) {
    return ax * by - ay * bx;
}
inline double Snap(double v) {
    return std::round(v * 16) / 16;
}

// Draws one triangle into the picture.
inline void Triangle(Picture& pic, const RasterStates& s, const D3DRECT& clip, D3DTLVERTEX a,
                     D3DTLVERTEX b, D3DTLVERTEX c) {
    D3DTLVERTEX v[3] = {a, b, c};
    double x[3], y[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = Snap(v[i].sx);
        y[i] = Snap(v[i].sy);
    }
    double area = Cross(x[1] - x[0], y[1] - y[0], x[2] - x[0], y[2] - y[0]);
    if (area == 0)
        return;
    if ((s.cullMode == D3DCULL_CCW && area < 0) || (s.cullMode == D3DCULL_CW && area > 0))
        return;
    if (area < 0) {
        std::swap(v[1], v[2]);
        std::swap(x[1], x[2]);
        std::swap(y[1], y[2]);
        area = -area;
    }
    const bool keyOn = s.colorKeyEnable;
    const TexelReader tex{s.texture, keyOn};
    for (int py = std::max<LONG>(clip.y1, 0); py < std::min<LONG>(clip.y2, pic.height); ++py) {
        for (int px = std::max<LONG>(clip.x1, 0); px < std::min<LONG>(clip.x2, pic.width); ++px) {
            double lambda[3];
            bool inside = true;
            for (int e = 0; e < 3; ++e) {
                const int i = e, j = (e + 1) % 3;
                const double dx = x[j] - x[i], dy = y[j] - y[i];
                const double w = dx * (py - y[i]) - dy * (px - x[i]);
                const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
                if (w < 0 || (w == 0 && !topLeft))
                    inside = false;
                lambda[(e + 2) % 3] = w / area;
            }
            if (!inside)
                continue;
            double sum = 0, u = 0, vv = 0, col[4] = {};
            for (int i = 0; i < 3; ++i) {
                const double wgt = lambda[i] * (s.perspective ? v[i].rhw : 1.0);
                sum += wgt;
                u += wgt * v[i].tu;
                vv += wgt * v[i].tv;
                const DWORD cc = s.shadeMode == D3DSHADE_FLAT ? a.color : v[i].color;
                for (int k = 0; k < 4; ++k)
                    col[k] += wgt * ((cc >> (8 * k)) & 0xFF);
            }
            u /= sum;
            vv /= sum;
            Color vertex{col[0] / sum, col[1] / sum, col[2] / sum, col[3] / sum};
            Color src = vertex;
            const std::size_t at = static_cast<std::size_t>(py) * pic.width + px;
            if (s.texture) {
                const int W = s.texture->width, H = s.texture->height;
                const bool bilinear = s.magFilter == D3DFILTER_LINEAR;
                Color t;
                if (!bilinear) {
                    const double su = u * W, sv = vv * H;
                    if (std::abs(su - std::round(su)) < 1e-3 ||
                        std::abs(sv - std::round(sv)) < 1e-3)
                        pic.ambiguous[at] = true;
                    const int tx = WrapIndex(static_cast<long long>(std::floor(su)), W);
                    const int ty = WrapIndex(static_cast<long long>(std::floor(sv)), H);
                    if (tex.Transparent(tx, ty))
                        continue;
                    t = tex.Get(tx, ty);
                } else {
                    const double su = u * W - 0.5, sv = vv * H - 0.5;
                    const double fx = su - std::floor(su), fy = sv - std::floor(sv);
                    const long long ix = static_cast<long long>(std::floor(su));
                    const long long iy = static_cast<long long>(std::floor(sv));
                    const int xs[2] = {WrapIndex(ix, W), WrapIndex(ix + 1, W)};
                    const int ys[2] = {WrapIndex(iy, H), WrapIndex(iy + 1, H)};
                    const double w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy,
                                         fx * fy};
                    double total = 0;
                    for (int k = 0; k < 4; ++k) {
                        const int tx = xs[k & 1], ty = ys[k >> 1];
                        if (tex.Transparent(tx, ty))
                            continue;
                        const Color c = tex.Get(tx, ty);
                        total += w[k];
                        t.b += w[k] * c.b, t.g += w[k] * c.g, t.r += w[k] * c.r, t.a += w[k] * c.a;
                    }
                    if (total < 0.5)
                        continue;
                    t.b /= total, t.g /= total, t.r /= total, t.a /= total;
                }
                const bool texAlpha =
                    !s.texture->format.Palettized() && s.texture->format.alphaMask;
                if (s.textureBlend == D3DTBLEND_DECAL) {
                    src = t;
                } else {
                    src = {t.b * vertex.b / 255, t.g * vertex.g / 255, t.r * vertex.r / 255,
                           texAlpha ? t.a : vertex.a};
                }
            }
            Color& d = pic.pixels[at];
            Color out = src;
            if (s.blendEnable && s.srcBlend == D3DBLEND_ONE && s.destBlend == D3DBLEND_ONE) {
                out = {std::min(255.0, src.b + d.b), std::min(255.0, src.g + d.g),
                       std::min(255.0, src.r + d.r), std::min(255.0, src.a + d.a)};
            } else if (s.blendEnable && s.srcBlend == D3DBLEND_SRCALPHA &&
                       s.destBlend == D3DBLEND_INVSRCALPHA) {
                const double al = src.a / 255;
                out = {src.b * al + d.b * (1 - al), src.g * al + d.g * (1 - al),
                       src.r * al + d.r * (1 - al), src.a * al + d.a * (1 - al)};
            }
            d = out;
            pic.touched[at] = true;
        }
    }
}

// Replays a primitive the way Direct3D assembles it.
inline void Draw(Picture& pic, const RasterStates& s, const D3DRECT& clip, D3DPRIMITIVETYPE type,
                 const std::vector<D3DTLVERTEX>& v) {
    const std::size_t n = v.size();
    if (type == D3DPT_TRIANGLELIST) {
        for (std::size_t i = 0; i + 2 < n; i += 3)
            Triangle(pic, s, clip, v[i], v[i + 1], v[i + 2]);
    } else if (type == D3DPT_TRIANGLESTRIP) {
        for (std::size_t i = 0; i + 2 < n; ++i)
            if (i % 2 == 0)
                Triangle(pic, s, clip, v[i], v[i + 1], v[i + 2]);
            else
                Triangle(pic, s, clip, v[i + 1], v[i], v[i + 2]);
    } else {
        for (std::size_t i = 1; i + 1 < n; ++i)
            Triangle(pic, s, clip, v[0], v[i], v[i + 1]);
    }
}

} // namespace reference
