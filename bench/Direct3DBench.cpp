// The software Direct3D rasteriser's fill rate and the Direct3D test's heaviest frame, with
// SDL 2's software renderer drawing the same quad in the same run as the yardstick.
#include "Headline.h"
#include "QuadScene.h"
#include "directx/Rasterizer.h"
#include "directx/d3d.h"
#include "tests/directx/SurfaceDesc.h"

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <numbers>
#include <utility>
#include <vector>

using namespace directx;

namespace {

using namespace quad;

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
    // Thread CPU time: the machine may be shared, and each side should count its own work.
    auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + t.tv_nsec * 1e-9;
    };
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const double t0 = now();
        DrawQuad(scene);
        const double t1 = now();
        sdl.Draw();
        const double t2 = now();
        ours += t1 - t0;
        theirs += t2 - t1;
        benchmark::DoNotOptimize(scene.target.data());
        benchmark::DoNotOptimize(sdl.target->pixels);
    }
    state.counters["speed_ratio"] = theirs / ours;
}
BENCHMARK(BM_QuadVsSdl2)->Unit(benchmark::kMillisecond);

// The Direct3D test's third phase through the device, as the engine sets it up in a 16-bit
// window: clear target and Z-buffer, then six 256 x 256-textured squares of half-size 200,
// additive, at six speeds of rotation.
class SixSquares {
public:
    SixSquares() {
        if (DirectDrawCreate(nullptr, &dd1_, nullptr) != DD_OK ||
            dd1_->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&dd_)) != DD_OK ||
            dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL) != DD_OK)
            return;
        back_ = Create(kSize, kSize, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE, false);
        z_ = Create(kSize, kSize, DDSCAPS_ZBUFFER, true);
        texture_ = Create(kTexture, kTexture, DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY, false);
        if (!back_ || !z_ || !texture_ || back_->AddAttachedSurface(z_) != DD_OK)
            return;
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        if (texture_->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK)
            return;
        const auto pixels = TexturePixels();
        for (int y = 0; y < kTexture; ++y)
            std::memcpy(static_cast<BYTE*>(desc.lpSurface) + y * desc.lPitch,
                        pixels.data() + y * kTexture, kTexture * 2);
        texture_->Unlock(nullptr);
        DDCOLORKEY key{pixels[0], pixels[0]};
        texture_->SetColorKey(DDCKEY_SRCBLT, &key);
        if (dd_->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&d3d_)) != DD_OK)
            return;
        for (const IID* kind : {&IID_IDirect3DHALDevice, &IID_IDirect3DMMXDevice,
                                &IID_IDirect3DRGBDevice, &IID_IDirect3DRampDevice})
            if (d3d_->CreateDevice(*kind, back_, &device_) == DD_OK)
                break;
        if (!device_ || d3d_->CreateViewport(&viewport_, nullptr) != DD_OK)
            return;
        device_->AddViewport(viewport_);
        device_->SetCurrentViewport(viewport_);
        D3DVIEWPORT2 vp{44, 0, 0, kSize, kSize, 0, 0, kSize, kSize, 0, 1};
        viewport_->SetViewport2(&vp);
        IDirect3DTexture2* texture = nullptr;
        texture_->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture));
        D3DTEXTUREHANDLE handle = 0;
        texture->GetHandle(device_, &handle);
        texture->Release();
        // The primitive renderer's states for an additive level.
        const std::pair<D3DRENDERSTATETYPE, DWORD> states[] = {
            {D3DRENDERSTATE_TEXTUREHANDLE, handle},
            {D3DRENDERSTATE_ZENABLE, FALSE},
            {D3DRENDERSTATE_ZWRITEENABLE, FALSE},
            {D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR},
            {D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEAR},
            {D3DRENDERSTATE_STIPPLEDALPHA, FALSE},
            {D3DRENDERSTATE_DITHERENABLE, FALSE},
            {D3DRENDERSTATE_COLORKEYENABLE, TRUE},
            {D3DRENDERSTATE_BLENDENABLE, TRUE},
            {D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE},
            {D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE},
            {D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE},
        };
        for (const auto& [state, value] : states)
            device_->SetRenderState(state, value);
        ready_ = true;
    }
    ~SixSquares() {
        for (IUnknown* object : std::initializer_list<IUnknown*>{viewport_, device_, d3d_, texture_,
                                                                 z_, back_, dd_, dd1_})
            if (object)
                object->Release();
    }
    bool Ready() const { return ready_; }

    void Frame(DWORD clock) {
        static const DWORD colors[6] = {0xFFFF0000, 0xFF00FF00, 0x000000FF,
                                        0x88888888, 0x00FFFF00, 0xFF0000FF};
        D3DRECT all{0, 0, kSize, kSize};
        viewport_->Clear(1, &all, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
        for (DWORD i = 0; i < 6; ++i) {
            D3DTLVERTEX quad[4];
            SpinningSquare(quad, 200, clock * (i + 1), colors[i]);
            device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad, 4, D3DDP_WAIT);
        }
    }

private:
    IDirectDrawSurface* Create(int width, int height, DWORD caps, bool depth) {
        DDSURFACEDESC desc = SurfaceDesc(width, height, caps, depth ? 0 : 16);
        if (depth) {
            desc.dwFlags |= DDSD_ZBUFFERBITDEPTH;
            desc.dwZBufferBitDepth = 16;
        }
        IDirectDrawSurface* surface = nullptr;
        return dd_->CreateSurface(&desc, &surface, nullptr) == DD_OK ? surface : nullptr;
    }
    IDirectDraw* dd1_ = nullptr;
    IDirectDraw2* dd_ = nullptr;
    IDirectDrawSurface* back_ = nullptr;
    IDirectDrawSurface* z_ = nullptr;
    IDirectDrawSurface* texture_ = nullptr;
    IDirect3D2* d3d_ = nullptr;
    IDirect3DDevice2* device_ = nullptr;
    IDirect3DViewport2* viewport_ = nullptr;
    bool ready_ = false;
};

void BM_D3DSixSquares(benchmark::State& state) {
    SixSquares scene;
    if (!scene.Ready()) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    DWORD clock = 10000;
    for (auto _ : state) {
        scene.Frame(clock);
        clock += 16;
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
