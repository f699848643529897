// Whole frames of the two engine tests, in frames per second of wall time: the DirectDraw
// test's frame (four layers, 301 sprites, present, clear at 640x480x16 full screen).
#include "Headline.h"
#include "engine/dddd.h"
#include "engine/ddddut.h"
#include "forms/Forms.h"
#include "tests/engine/SceneSupport.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <chrono>

namespace {

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "zelka_bench";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
}

using WallClock = std::chrono::steady_clock;

void ReportFps(benchmark::State& state, WallClock::time_point start) {
    const double seconds = std::chrono::duration<double>(WallClock::now() - start).count();
    if (seconds > 0)
        state.counters["fps"] = double(state.iterations()) / seconds;
}

void BM_DirectDrawFrame(benchmark::State& state) {
    EnsureApplication();
    TForm form;
    form.resize(800, 600);
    TDDDD engine(&form);
    engine.SetDisplayMode(dmWin800x600x16);
    form.show();
    form.CreationEnded();
    engine.InitializeScreen(true, 640, 480, 16, 0, "");
    if (!engine.BackBuffer || !engine.FullScreen) {
        state.SkipWithError("no full-screen 640x480x16 set-up");
        return;
    }
    {
        RandSeed = 1;
        DirectDrawScene scene(engine, ZELKA_DAT_PATH);
        scene.Place();
        int frameNumber = 0;
        const auto start = WallClock::now();
        for (auto _ : state) {
            scene.Draw(++frameNumber);
            engine.Present();
            engine.ClearBackBuffer();
        }
        ReportFps(state, start);
    }
    engine.Destroying = true;
}
BENCHMARK(BM_DirectDrawFrame)->Unit(benchmark::kMillisecond);
bench::RegisterHeadline ddrawFrame("BM_DirectDrawFrame",
                                   {"fps.ddraw_frame", bench::Figure::Counter, "fps"});

} // namespace
