#include "Rasterizer_stages.h"

#include <algorithm>
#include <cmath>

namespace directx::raster {

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

namespace {

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

} // namespace

void Interpolate(const TriangleSetup& ts, int x, int y, int n, Span& span) {
    if (ts.perspective)
        Interpolate<true>(ts, x, y, n, span);
    else
        Interpolate<false>(ts, x, y, n, span);
}

} // namespace directx::raster
