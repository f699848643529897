// The software Direct3D rasteriser's fill rate and the Direct3D test's heaviest frame, with
// SDL 2's software renderer drawing the same quad in the same run as the yardstick.
#include "Headline.h"
#include "directx/Rasterizer.h"

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

using namespace directx;

namespace {

constexpr int kSize = 400;
constexpr int kTexture = 256;
constexpr DWORD kTint = 0xFFC0A080;

const RasterFormat kRGB565{16, 0xF800, 0x07E0, 0x001F, 0};

// A 256 x 256 5-6-5 picture with some structure, so filtering has work to do.
std::vector<std::uint16_t> TexturePixels() {
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
    std::vector<std::uint16_t> depthCells = std::vector<std::uint16_t>(kSize * kSize);
    RasterTexture texture;
    RasterTarget rt;
    RasterDepth depth;
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
        depth = {reinterpret_cast<BYTE*>(depthCells.data()), kSize * 2, kSize, kSize, 16, 16};
        states.texture = &texture;
        states.magFilter = states.minFilter = D3DFILTER_LINEAR;
        states.textureBlend = D3DTBLEND_MODULATE;
        states.blendEnable = true;
        states.srcBlend = states.destBlend = D3DBLEND_ONE;
        states.colorKeyEnable = true;
    }
};

D3DTLVERTEX Vertex(float x, float y, DWORD color, float u, float v) {
    return {x, y, 2.0f, 0.5f, color, 0, u, v};
}

// The engine's spinning square: TL, TR, BL, BR of a square of half-size h at angle a (4096ths
// of a turn) around the target's centre.
void SpinningSquare(D3DTLVERTEX out[4], float half, DWORD angle, DWORD color) {
    const double a = (angle & 4095) * std::numbers::pi / 2048;
    const double bx = half * std::sin(a), by = -half * std::cos(a);
    const double ex = -by, ey = bx;
    const double c = kSize / 2.0;
    out[0] = Vertex(float(c + bx - ex), float(c + by - ey), color, 0, 0);
    out[1] = Vertex(float(c + bx + ex), float(c + by + ey), color, 1, 0);
    out[2] = Vertex(float(c - bx - ex), float(c - by - ey), color, 0, 1);
    out[3] = Vertex(float(c - bx + ex), float(c - by + ey), color, 1, 1);
}

const D3DRECT kViewport{0, 0, kSize, kSize};

void DrawQuad(Scene& scene) {
    const D3DTLVERTEX quad[4] = {Vertex(0, 0, kTint, 0, 0), Vertex(kSize, 0, kTint, 1, 0),
                                 Vertex(0, kSize, kTint, 0, 1), Vertex(kSize, kSize, kTint, 1, 1)};
    scene.rasterizer.Draw(scene.rt, nullptr, scene.states, kViewport, D3DPT_TRIANGLESTRIP, quad, 4);
}

// SDL 2's software renderer on a 16-bit surface, with the same texture, tint and blend.
struct SdlScene {
    std::vector<std::uint16_t> texels = TexturePixels();
    SDL_Surface* target = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;

    SdlScene() {
        target = SDL_CreateRGBSurfaceWithFormat(0, kSize, kSize, 16, SDL_PIXELFORMAT_RGB565);
        renderer = SDL_CreateSoftwareRenderer(target);
        SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(
            texels.data(), kTexture, kTexture, 16, kTexture * 2, SDL_PIXELFORMAT_RGB565);
        texture = SDL_CreateTextureFromSurface(renderer, source);
        SDL_FreeSurface(source);
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_ADD);
        SDL_SetTextureScaleMode(texture, SDL_ScaleModeLinear);
    }
    ~SdlScene() {
        SDL_DestroyTexture(texture);
        SDL_DestroyRenderer(renderer);
        SDL_FreeSurface(target);
    }
    bool Ready() const { return target && renderer && texture; }
    void Draw() {
        const SDL_Color tint{0xC0, 0xA0, 0x80, 0xFF};
        const SDL_Vertex v[4] = {{{0, 0}, tint, {0, 0}},
                                 {{kSize, 0}, tint, {1, 0}},
                                 {{0, kSize}, tint, {0, 1}},
                                 {{kSize, kSize}, tint, {1, 1}}};
        const int indices[6] = {0, 1, 2, 1, 3, 2};
        SDL_RenderGeometry(renderer, texture, v, 4, indices, 6);
    }
};

void BM_QuadBilinearAdd16(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        DrawQuad(scene);
        benchmark::DoNotOptimize(scene.target.data());
    }
    state.counters["mpix_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSize * kSize / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_QuadBilinearAdd16)->Unit(benchmark::kMillisecond);

void BM_Sdl2QuadAdd(benchmark::State& state) {
    SdlScene sdl;
    if (!sdl.Ready()) {
        state.SkipWithError(SDL_GetError());
        return;
    }
    for (auto _ : state) {
        sdl.Draw();
        benchmark::DoNotOptimize(sdl.target->pixels);
    }
    state.counters["mpix_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSize * kSize / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Sdl2QuadAdd)->Unit(benchmark::kMillisecond);

// Both renderers in turn, so the ratio is taken under the same machine load.
void BM_QuadVsSdl2(benchmark::State& state) {
    Scene scene;
    SdlScene sdl;
    if (!sdl.Ready()) {
        state.SkipWithError(SDL_GetError());
        return;
    }
    using Clock = std::chrono::steady_clock;
    Clock::duration ours{}, theirs{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        DrawQuad(scene);
        const auto t1 = Clock::now();
        sdl.Draw();
        const auto t2 = Clock::now();
        ours += t1 - t0;
        theirs += t2 - t1;
        benchmark::DoNotOptimize(scene.target.data());
        benchmark::DoNotOptimize(sdl.target->pixels);
    }
    state.counters["speed_ratio"] =
        std::chrono::duration<double>(theirs).count() / std::chrono::duration<double>(ours).count();
}
BENCHMARK(BM_QuadVsSdl2)->Unit(benchmark::kMillisecond);

// The Direct3D test's third phase: clear, then six 256 x 256-textured squares of half-size
// 200, additive, at six speeds of rotation.
void BM_D3DSixSquares(benchmark::State& state) {
    Scene scene;
    const DWORD colors[6] = {0xFFFF0000, 0xFF00FF00, 0x000000FF,
                             0x88888888, 0x00FFFF00, 0xFF0000FF};
    DWORD clock = 10000;
    for (auto _ : state) {
        scene.rasterizer.ClearTarget(scene.rt, kViewport, 0);
        Rasterizer::ClearDepth(scene.depth, kViewport, 1.0f);
        for (DWORD i = 0; i < 6; ++i) {
            D3DTLVERTEX quad[4];
            SpinningSquare(quad, 200, clock * (i + 1), colors[i]);
            scene.rasterizer.Draw(scene.rt, &scene.depth, scene.states, kViewport,
                                  D3DPT_TRIANGLESTRIP, quad, 4);
        }
        clock += 16;
        benchmark::DoNotOptimize(scene.target.data());
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_D3DSixSquares)->Unit(benchmark::kMillisecond);

} // namespace

static bench::RegisterHeadline quadFill("BM_QuadBilinearAdd16",
                                        {"mpix.quad_bilinear_add16", bench::Figure::Counter,
                                         "mpix_per_s"});
static bench::RegisterHeadline sdlFill("BM_Sdl2QuadAdd", {"mpix.sdl2_quad_add",
                                                          bench::Figure::Counter, "mpix_per_s"});
static bench::RegisterHeadline quadRatio("BM_QuadVsSdl2", {"ratio.quad_vs_sdl2",
                                                           bench::Figure::Counter, "speed_ratio"});
static bench::RegisterHeadline
    sixSquares("BM_D3DSixSquares", {"fps.d3d_six_squares", bench::Figure::Counter, "frames_per_s"});
