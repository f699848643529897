// Whole frames of the two engine tests, in frames per second of wall time: the DirectDraw
// test's frame (four layers, 301 sprites, present, clear at 640x480x16 full screen) and the
// Direct3D test's third-phase frame (clear, six additive textured squares, present of the
// 400x400 target into the window).
#include "Headline.h"
#include "engine/Primitives.h"
#include "engine/dddd.h"
#include "engine/ddddut.h"
#include "forms/Forms.h"
#include "forms/Windows.h"
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

void BM_Direct3DPhase3Frame(benchmark::State& state) {
    EnsureApplication();
    TForm form;
    form.resize(400, 400);
    form.show();
    TDDDD engine(&form);
    engine.Use3D = true;
    engine.D3DOptions = DontUseMMX;
    engine.AutoDisplayModeInitialize = false;
    form.CreationEnded();
    engine.InitializeScreen(false, 400, 400, engine.GetDesktopBitCount(), 0, "");
    IDirect3DViewport2* viewport = nullptr;
    if (!engine.D3DDevice || engine.Direct3D->CreateViewport(&viewport, nullptr) != D3D_OK) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    engine.D3DDevice->AddViewport(viewport);
    engine.D3DDevice->SetCurrentViewport(viewport);
    D3DVIEWPORT2 vp{44, 0, 0, 400, 400, 0, 0, 400, 400, 0, 1};
    viewport->SetViewport2(&vp);
    InitMathTables();
    {
        TDDDDTexture texture(&engine);
        texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
        TPrimitiveRenderer renderer(&engine, 16, 1);
        renderer.SetMaxZ(2);
        renderer.SetTextureSlot(0, &texture, RECT{0, 0, 256, 256});
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        DWORD spinClock = 10000; // the phase starts ten seconds into the test
        const auto start = WallClock::now();
        for (auto _ : state) {
            D3DRECT all{0, 0, engine.BackBuffer->Width, engine.BackBuffer->Height};
            viewport->Clear(1, &all, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
            spinClock += 16;
            AddSixSquares(renderer, spinClock);
            renderer.RenderAll();
            RECT client{};
            GetClientRect(engine.Window, &client);
            POINT topLeft{0, 0}, bottomRight{client.right, client.bottom};
            ClientToScreen(engine.Window, &topLeft);
            ClientToScreen(engine.Window, &bottomRight);
            RECT dst{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
            RECT src{0, 0, 400, 400};
            engine.PrimarySurface->Surface->Blt(&dst, engine.BackBuffer->Surface, &src, DDBLT_WAIT,
                                                &fx);
        }
        ReportFps(state, start);
    }
    viewport->Release();
    engine.Destroying = true;
}
BENCHMARK(BM_Direct3DPhase3Frame)->Unit(benchmark::kMillisecond);
bench::RegisterHeadline d3dFrame("BM_Direct3DPhase3Frame",
                                 {"fps.d3d_phase3_frame", bench::Figure::Counter, "fps"});

} // namespace
