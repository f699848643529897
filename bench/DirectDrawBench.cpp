// Software DirectDraw throughput, each figure as a ratio to memcpy of the same bytes measured
// in the same run: a 16-bit colour fill, opaque and keyed 256x256 tiles over 640x480, a
// 400x400 picture stretched over 1920x1080, 301 keyed 32x32 sprites, and a full-screen present.
#include "Headline.h"
#include "directx/ddraw.h"
#include "forms/Forms.h"
#include "tests/directx/SurfaceDesc.h"

#include <QApplication>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

// Process CPU time: the machine may be shared, and both sides of a ratio should count only
// the work they do (the present may use helper threads).
struct Clock {
    static double Now() {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + t.tv_nsec * 1e-9;
    }
};

// memcpy bandwidth in bytes per second for a block of this size, measured right after the
// operation it is compared with; the best of a few rounds.
double MemcpyRate(std::size_t bytes) {
    std::vector<char> from(bytes, 1), to(bytes);
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        int copies = 0;
        const double start = Clock::Now();
        double now = start;
        do {
            std::memcpy(to.data(), from.data(), bytes);
            benchmark::DoNotOptimize(to.data());
            benchmark::ClobberMemory();
            ++copies;
            now = Clock::Now();
        } while (now - start < 0.02);
        best = std::max(best, copies * double(bytes) / (now - start));
    }
    return best;
}

struct Scene {
    IDirectDraw* dd1 = nullptr;
    IDirectDraw2* dd = nullptr;
    IDirectDrawSurface* back = nullptr;
    IDirectDrawSurface* tile = nullptr;
    IDirectDrawSurface* sprite = nullptr;

    Scene() {
        DirectDrawCreate(nullptr, &dd1, nullptr);
        dd1->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&dd));
        dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
        back = Create(640, 480);
        tile = Create(256, 256);
        sprite = Create(32, 32);
        // Round shapes on the key colour 0, as sprites are.
        Paint(tile, 256, 120);
        Paint(sprite, 32, 15);
        DDCOLORKEY key{0, 0};
        tile->SetColorKey(DDCKEY_SRCBLT, &key);
        sprite->SetColorKey(DDCKEY_SRCBLT, &key);
    }
    ~Scene() {
        sprite->Release();
        tile->Release();
        back->Release();
        dd->Release();
        dd1->Release();
    }
    IDirectDrawSurface* Create(int w, int h) {
        DDSURFACEDESC desc = SurfaceDesc(w, h, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, 16);
        IDirectDrawSurface* s = nullptr;
        dd->CreateSurface(&desc, &s, nullptr);
        return s;
    }
    static void Paint(IDirectDrawSurface* s, int size, int radius) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
        for (int y = 0; y < size; ++y) {
            auto* row =
                reinterpret_cast<WORD*>(static_cast<BYTE*>(desc.lpSurface) + y * desc.lPitch);
            for (int x = 0; x < size; ++x) {
                const int dx = x - size / 2, dy = y - size / 2;
                row[x] = dx * dx + dy * dy <= radius * radius ? WORD(0x1234 + x + y) : 0;
            }
        }
        s->Unlock(nullptr);
    }
};

void Report(benchmark::State& state, double bytesPerIteration, double seconds) {
    const double rate = bytesPerIteration * double(state.iterations()) / seconds;
    state.counters["ratio"] = rate / MemcpyRate(std::size_t(bytesPerIteration));
    state.SetBytesProcessed(std::int64_t(bytesPerIteration) * state.iterations());
}

constexpr double Screen16 = 640.0 * 480 * 2;

void BM_Fill16(benchmark::State& state) {
    Scene scene;
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = 0x1234;
    const double start = Clock::Now();
    for (auto _ : state)
        scene.back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    Report(state, Screen16, Clock::Now() - start);
}
BENCHMARK(BM_Fill16);
bench::RegisterHeadline fill("BM_Fill16",
                             {"ratio.fill16_vs_memcpy", bench::Figure::Counter, "ratio"});

void Tiles(Scene& scene, DWORD flags) {
    for (int y = 0; y < 480; y += 256)
        for (int x = 0; x < 640; x += 256) {
            RECT src{0, 0, std::min(256, 640 - x), std::min(256, 480 - y)};
            scene.back->BltFast(x, y, scene.tile, &src, flags);
        }
}

void BM_BltFastOpaque16(benchmark::State& state) {
    Scene scene;
    const double start = Clock::Now();
    for (auto _ : state)
        Tiles(scene, DDBLTFAST_NOCOLORKEY | DDBLTFAST_WAIT);
    Report(state, Screen16, Clock::Now() - start);
}
BENCHMARK(BM_BltFastOpaque16);
bench::RegisterHeadline opaque("BM_BltFastOpaque16",
                               {"ratio.blt_opaque16_vs_memcpy", bench::Figure::Counter, "ratio"});

void BM_BltFastKeyed16(benchmark::State& state) {
    Scene scene;
    const double start = Clock::Now();
    for (auto _ : state)
        Tiles(scene, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT);
    Report(state, Screen16, Clock::Now() - start);
}
BENCHMARK(BM_BltFastKeyed16);
bench::RegisterHeadline keyed("BM_BltFastKeyed16",
                              {"ratio.blt_keyed16_vs_memcpy", bench::Figure::Counter, "ratio"});

// The Direct3D test's 400x400 picture stretched over a 1920x1080 surface, as its present does.
void BM_Stretch16(benchmark::State& state) {
    Scene scene;
    IDirectDrawSurface* picture = scene.Create(400, 400);
    IDirectDrawSurface* screen = scene.Create(1920, 1080);
    Scene::Paint(picture, 400, 190);
    RECT from{0, 0, 400, 400}, to{0, 0, 1920, 1080};
    const double start = Clock::Now();
    for (auto _ : state)
        screen->Blt(&to, picture, &from, DDBLT_WAIT, nullptr);
    const double seconds = Clock::Now() - start;
    Report(state, 1920.0 * 1080 * 2, seconds);
    state.counters["mpix_per_s"] = 1920.0 * 1080 * double(state.iterations()) / seconds / 1e6;
    screen->Release();
    picture->Release();
}
BENCHMARK(BM_Stretch16);
bench::RegisterHeadline stretch("BM_Stretch16",
                                {"ratio.stretch16_vs_memcpy", bench::Figure::Counter, "ratio"});
bench::RegisterHeadline stretchRate("BM_Stretch16",
                                    {"mpix.stretch16", bench::Figure::Counter, "mpix_per_s"});

void BM_Sprites301(benchmark::State& state) {
    Scene scene;
    std::vector<POINT> at;
    DWORD seed = 1;
    for (int i = 0; i < 301; ++i) {
        seed = seed * 134775813u + 1;
        const LONG x = LONG((std::uint64_t(seed) * (640 - 32)) >> 32);
        seed = seed * 134775813u + 1;
        const LONG y = LONG((std::uint64_t(seed) * (480 - 32)) >> 32);
        at.push_back(POINT{x, y});
    }
    const double start = Clock::Now();
    for (auto _ : state)
        for (const POINT& p : at)
            scene.back->BltFast(p.x, p.y, scene.sprite, nullptr, DDBLTFAST_SRCCOLORKEY);
    Report(state, 301.0 * 32 * 32 * 2, Clock::Now() - start);
}
BENCHMARK(BM_Sprites301);
bench::RegisterHeadline sprites("BM_Sprites301",
                                {"ratio.sprites301_vs_memcpy", bench::Figure::Counter, "ratio"});

// A full-screen present: the flip of a 640x480x16 chain shown scaled on the covering window.
void BM_PresentFullScreen16(benchmark::State& state) {
    static int argc = 1;
    static char name[] = "zelka_bench";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        if (qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
    TForm form;
    form.show();
    IDirectDraw* dd = nullptr;
    DirectDrawCreate(nullptr, &dd, nullptr);
    dd->SetCooperativeLevel(WindowHandle(&form), 0x53);
    dd->SetDisplayMode(640, 480, 16);
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    desc.dwBackBufferCount = 1;
    IDirectDrawSurface* front = nullptr;
    if (dd->CreateSurface(&desc, &front, nullptr) != DD_OK) {
        state.SkipWithError("no full-screen chain");
        dd->Release();
        return;
    }
    const double start = Clock::Now();
    for (auto _ : state)
        front->Flip(nullptr, DDFLIP_WAIT);
    Report(state, Screen16, Clock::Now() - start);
    front->Release();
    dd->Release();
}
BENCHMARK(BM_PresentFullScreen16);
bench::RegisterHeadline present("BM_PresentFullScreen16", {"ratio.present_fullscreen16_vs_memcpy",
                                                           bench::Figure::Counter, "ratio"});

} // namespace
