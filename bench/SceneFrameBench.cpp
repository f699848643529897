// Whole frames of the two engine tests, in frames per second of wall time, on the shipped
// scene: the test window TForm3 is set up as the main window sets it up, and its own frames
// run (the DirectDraw frame: four layers, 301 sprites, present, clear at 640x480x16 full
// screen; the Direct3D third-phase frame: clear, six additive textured squares, the present of
// the 400x400 target stretched over the screen).
#include "BenchApplication.h"
#include "Headline.h"
#include "forms/Controls.h"
#include "forms/Forms.h"
#include "gfxbench/DetachedHost.h"
#include "gfxbench/Unit3.h"
#include "platform/Random.h"
#include "tests/gfxbench/SceneWindow.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>

namespace {

// The test window as a test finds it when it starts.
struct SceneWindow {
    explicit SceneWindow(std::int32_t mode) {
        // The scene loads "Zelka.dat" from the current folder.
        QDir::setCurrent(QFileInfo(ZELKA_DAT_PATH).absolutePath());
        form = PreparedSceneWindow(host, mode);
    }
    ~SceneWindow() {
        form->hide();
        form.reset();
    }
    // The application exists before the host's panels.
    bool applicationReady = (bench::EnsureApplication(), true);
    DetachedHost host;
    std::unique_ptr<TForm3> form;
};

using WallClock = std::chrono::steady_clock;

// Frames per second, and the share of the frame time the test's thread spent presenting.
void ReportFps(benchmark::State& state, WallClock::time_point start,
               WallClock::duration presenting) {
    const double seconds = std::chrono::duration<double>(WallClock::now() - start).count();
    if (seconds <= 0)
        return;
    state.counters["fps"] = double(state.iterations()) / seconds;
    state.counters["present_share"] = std::chrono::duration<double>(presenting).count() / seconds;
}

void BM_DirectDrawFrame(benchmark::State& state) {
    SceneWindow window(1);
    TForm3& form = *window.form;
    if (!form.DDDD1->BackBuffer || !form.DDDD1->FullScreen || !form.Sprites) {
        state.SkipWithError("no full-screen 640x480x16 scene");
        return;
    }
    // DirectDrawFrame's steps, the present timed.
    WallClock::duration presenting{};
    const auto start = WallClock::now();
    for (auto _ : state) {
        form.DrawDirectDrawScene();
        const auto before = WallClock::now();
        form.DDDD1->Present();
        presenting += WallClock::now() - before;
        form.DDDD1->ClearBackBuffer();
    }
    ReportFps(state, start, presenting);
}
BENCHMARK(BM_DirectDrawFrame)->Unit(benchmark::kMillisecond);
bench::RegisterHeadline ddrawFrame("BM_DirectDrawFrame",
                                   {"fps.ddraw_frame", bench::Figure::Counter, "fps"});
bench::RegisterHeadline ddrawShare("BM_DirectDrawFrame", {"share.ddraw_present",
                                                          bench::Figure::Counter, "present_share"});

void BM_Direct3DPhase3Frame(benchmark::State& state) {
    SceneWindow window(2);
    TForm3& form = *window.form;
    if (!form.DDDD1->D3DDevice || !form.SceneViewport || !form.Renderer) {
        state.SkipWithError("no Direct3D scene");
        return;
    }
    // Direct3DFrame's steps, the present timed.
    WallClock::duration presenting{};
    const auto start = WallClock::now();
    for (auto _ : state) {
        form.DrawDirect3DScene(2);
        const auto before = WallClock::now();
        form.PresentScene();
        presenting += WallClock::now() - before;
    }
    ReportFps(state, start, presenting);
}
BENCHMARK(BM_Direct3DPhase3Frame)->Unit(benchmark::kMillisecond);
bench::RegisterHeadline d3dFrame("BM_Direct3DPhase3Frame",
                                 {"fps.d3d_phase3_frame", bench::Figure::Counter, "fps"});
bench::RegisterHeadline d3dShare("BM_Direct3DPhase3Frame",
                                 {"share.d3d_present", bench::Figure::Counter, "present_share"});

} // namespace
