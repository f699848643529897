#pragma once
// The quad the rasteriser's fill-rate benchmarks draw, shared with the renderers they are
// measured against: a 400 x 400 5-6-5 target, a 256 x 256 5-6-5 texture keyed on its black
// texels, bilinear, tinted 0xC0A080 and added to the target.
#include "directx/Rasterizer.h"
#include "directx/d3d.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <numbers>
#include <vector>

namespace quad {

using namespace directx;

inline constexpr int kSize = 400;
inline constexpr int kTexture = 256;
inline constexpr DWORD kTint = 0xFFC0A080;

inline const PixelFormat kRGB565 = PixelFormat::Masks(16, 0xF800, 0x07E0, 0x001F, 0);

// A 256 x 256 5-6-5 picture with some structure, so filtering has work to do.
inline std::vector<std::uint16_t> TexturePixels() {
    std::vector<std::uint16_t> pixels(kTexture * kTexture);
    for (int y = 0; y < kTexture; ++y)
        for (int x = 0; x < kTexture; ++x) {
            const int r = (x * 31 / 255) ^ (y & 7), g = (y * 63 / 255), b = ((x + y) & 31);
            pixels[y * kTexture + x] = static_cast<std::uint16_t>((r << 11) | (g << 5) | b);
        }
    return pixels;
}

struct Scene {
    std::vector<std::uint16_t> texels = TexturePixels();
    std::vector<std::uint16_t> target = std::vector<std::uint16_t>(kSize * kSize);
    RasterTexture texture;
    RasterTarget rt;
    RasterStates states;
    Rasterizer rasterizer;

    Scene() {
        texture.bits = reinterpret_cast<const BYTE*>(texels.data());
        texture.pitch = kTexture * 2;
        texture.width = texture.height = kTexture;
        texture.format = kRGB565;
        // The engine keys its textures on their top-left texel, which is 0 here.
        texture.hasColorKey = true;
        texture.keyLow = texture.keyHigh = texels[0];
        rt = {reinterpret_cast<BYTE*>(target.data()), kSize * 2, kSize, kSize, kRGB565, nullptr};
        states.texture = &texture;
        states.magFilter = states.minFilter = D3DFILTER_LINEAR;
        states.textureBlend = D3DTBLEND_MODULATE;
        states.blendEnable = true;
        states.srcBlend = states.destBlend = D3DBLEND_ONE;
        states.colorKeyEnable = true;
    }
};

inline D3DTLVERTEX Vertex(float x, float y, DWORD color, float u, float v) {
    return {x, y, 2.0f, 0.5f, color, 0, u, v};
}

// The engine's spinning square: TL, TR, BL, BR of a square of half-size h at angle a (4096ths
// of a turn) around the target's centre.
inline void SpinningSquare(D3DTLVERTEX out[4], float half, DWORD angle, DWORD color) {
    const double a = (angle & 4095) * std::numbers::pi / 2048;
    const double bx = half * std::sin(a), by = -half * std::cos(a);
    const double ex = -by, ey = bx;
    const double c = kSize / 2.0;
    out[0] = Vertex(float(c + bx - ex), float(c + by - ey), color, 0, 0);
    out[1] = Vertex(float(c + bx + ex), float(c + by + ey), color, 1, 0);
    out[2] = Vertex(float(c - bx - ex), float(c - by - ey), color, 0, 1);
    out[3] = Vertex(float(c - bx + ex), float(c - by + ey), color, 1, 1);
}

inline const D3DRECT kViewport{0, 0, kSize, kSize};

inline void DrawQuad(Scene& scene) {
    const D3DTLVERTEX quad[4] = {Vertex(0, 0, kTint, 0, 0), Vertex(kSize, 0, kTint, 1, 0),
                                 Vertex(0, kSize, kTint, 0, 1), Vertex(kSize, kSize, kTint, 1, 1)};
    scene.rasterizer.Draw(scene.rt, nullptr, scene.states, kViewport, D3DPT_TRIANGLESTRIP, quad, 4);
}

// A texel of the 5-6-5 texture as 0xAARRGGBB, each channel widened with rounding.
inline std::uint32_t Widen(std::uint16_t v) {
    const std::uint32_t r = ((v >> 11) * 255 + 15) / 31, g = (((v >> 5) & 63) * 255 + 31) / 63,
                        b = ((v & 31) * 255 + 15) / 31;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// Thread CPU time: the machine may be shared, and each side of a ratio counts its own work.
inline double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

inline double WallSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Whether two pictures of the quad are the same picture: channels of 0xAARRGGBB pixels within
// a few units except for a small share of pixels (filter phase and key edges differ a little
// between renderers).
inline bool SamePicture(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    if (a.size() != b.size())
        return false;
    std::size_t off = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int c = 0; c < 24; c += 8) {
            const int d = int((a[i] >> c) & 0xFF) - int((b[i] >> c) & 0xFF);
            if (d > 24 || d < -24) {
                ++off;
                break;
            }
        }
    return off * 20 < a.size();
}

// Our quad drawn once onto black, as 0xAARRGGBB.
inline std::vector<std::uint32_t> OurPicture() {
    Scene scene;
    DrawQuad(scene);
    std::vector<std::uint32_t> out;
    for (std::uint16_t p : scene.target)
        out.push_back(Widen(p));
    return out;
}

} // namespace quad
