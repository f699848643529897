// The DirectDraw frame and the Direct3D test's third-phase frame on the GPU road against the same
// frames on the software layer (the emulation device for Direct3D), measured in one run: frames
// per second of each, their ratio, and the GPU frame's time split into the GPU's own (timer
// queries) and the drawing thread's processor time, so a reader sees which of the two bounds it.
// Headless: the GPU draws and fences, nothing is shown. Without a hardware renderer the GPU side
// runs on Mesa's llvmpipe, where the ratio is below 1.
#include "BenchApplication.h"
#include "Headline.h"
#include "directx/DisplayAdapter.h"
#include "directx/GpuBlitter.h"
#include "directx/GpuRaster.h"
#include "gfxbench/DetachedHost.h"
#include "gpu/Renderer.h"
#include "tests/gfxbench/SceneWindow.h"

#include <QDir>
#include <QFileInfo>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <ctime>

namespace {

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

struct FrameFigures {
    double fps = 0;
    double cpuMsPerFrame = 0;
    double gpuMsPerFrame = 0;
    double drawsPerFrame = 0;
    bool onGpu = false;
};

// The road for one side of the comparison; the process's road is chosen anew for each.
void ChooseRoad(bool gpu) {
    directx::GpuBlitter::ForgetForTests();
    gpu::ResetRendererForTests();
    if (gpu)
        setenv("ZELKA_GL_ALLOW_SOFTWARE", "1", 1); // a hardware renderer is still taken first
    else
        unsetenv("ZELKA_GL_ALLOW_SOFTWARE");
    gpu::SetRendererChoice(gpu ? gpu::RendererChoice::Auto : gpu::RendererChoice::Software);
    directx::Adapter().Reset();
}

// Frames of one test's scene for `seconds` of wall time on one road, after ten to warm up.
FrameFigures MeasureFrames(bool gpu, std::int32_t mode, double seconds) {
    ChooseRoad(gpu);
    FrameFigures figures;
    {
        QDir::setCurrent(QFileInfo(ZELKA_DAT_PATH).absolutePath());
        DetachedHost host;
        std::unique_ptr<TForm3> form = PreparedSceneWindow(host, mode);
        directx::GpuBlitter* blitter = directx::GpuBlitter::Get();
        figures.onGpu = mode == kTestModeDirect3D
                            ? form->DDDD1->D3DDeviceKind == TD3DDeviceKind::HAL
                            : blitter != nullptr;
        const auto frame = [&] {
            if (mode == kTestModeDirect3D) {
                form->DrawDirect3DScene(2);
                form->PresentScene();
                return;
            }
            form->DrawDirectDrawScene();
            form->DDDD1->Present();
            form->DDDD1->ClearBackBuffer();
        };
        for (int i = 0; i < 10; ++i)
            frame();
        if (blitter)
            blitter->Finish();
        const std::uint64_t gpuBefore = blitter ? blitter->GpuNanoseconds() : 0;
        // Draw calls of the blits and of the Direct3D device.
        const auto draws = [&] {
            const directx::GpuRaster* raster = directx::GpuRaster::Started();
            return (blitter ? blitter->DrawCalls() : 0) + (raster ? raster->DrawCalls() : 0);
        };
        const std::uint64_t drawsBefore = draws();
        const double cpuBefore = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        double elapsed = 0;
        long frames = 0;
        while (elapsed < seconds) {
            frame();
            ++frames;
            elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        if (blitter) // a frame counts once drawn
            blitter->Finish();
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        figures.fps = frames / elapsed;
        figures.cpuMsPerFrame = (ProcessCpuSeconds() - cpuBefore) * 1e3 / frames;
        if (blitter) {
            figures.gpuMsPerFrame = (blitter->GpuNanoseconds() - gpuBefore) * 1e-6 / frames;
            figures.drawsPerFrame = double(draws() - drawsBefore) / frames;
        }
        form->hide();
    }
    ChooseRoad(false);
    return figures;
}

// Both roads' figures of one scene as the benchmark's counters; false, skipped, without a GPU
// road.
bool Report(benchmark::State& state, const FrameFigures& soft, const FrameFigures& gl) {
    if (!gl.onGpu) {
        state.SkipWithError(("no OpenGL road: " + gpu::ChosenRoad().whyNotGpu).c_str());
        return false;
    }
    state.counters["fps_soft"] = soft.fps;
    state.counters["fps_gl"] = gl.fps;
    state.counters["ratio"] = gl.fps / soft.fps;
    state.counters["gl_cpu_ms"] = gl.cpuMsPerFrame;
    state.counters["gl_gpu_ms"] = gl.gpuMsPerFrame;
    state.counters["gl_draws"] = gl.drawsPerFrame;
    return true;
}

void BM_DirectDrawFrameGlVsSoft(benchmark::State& state) {
    bench::EnsureApplication();
    FrameFigures soft, gl;
    for (auto _ : state) {
        soft = MeasureFrames(false, kTestModeDirectDraw, 2.0);
        gl = MeasureFrames(true, kTestModeDirectDraw, 2.0);
    }
    Report(state, soft, gl);
}
BENCHMARK(BM_DirectDrawFrameGlVsSoft)->Unit(benchmark::kSecond);
bench::RegisterHeadline glFps("BM_DirectDrawFrameGlVsSoft",
                              {"fps.ddraw_frame_gl", bench::Figure::Counter, "fps_gl"});
bench::RegisterHeadline softFps("BM_DirectDrawFrameGlVsSoft",
                                {"fps.ddraw_frame_soft", bench::Figure::Counter, "fps_soft"});
bench::RegisterHeadline glRatio("BM_DirectDrawFrameGlVsSoft",
                                {"ratio.ddraw_frame_gl_vs_soft", bench::Figure::Counter, "ratio"});
bench::RegisterHeadline glCpu("BM_DirectDrawFrameGlVsSoft",
                              {"ms.ddraw_frame_gl_cpu", bench::Figure::Counter, "gl_cpu_ms"});
bench::RegisterHeadline glGpu("BM_DirectDrawFrameGlVsSoft",
                              {"ms.ddraw_frame_gl_gpu", bench::Figure::Counter, "gl_gpu_ms"});

// The Direct3D test's third phase: the hardware device on the GPU against RGB emulation.
void BM_Direct3DFrameGlVsSoft(benchmark::State& state) {
    bench::EnsureApplication();
    FrameFigures soft, gl;
    for (auto _ : state) {
        soft = MeasureFrames(false, kTestModeDirect3D, 2.0);
        gl = MeasureFrames(true, kTestModeDirect3D, 2.0);
    }
    Report(state, soft, gl);
}
BENCHMARK(BM_Direct3DFrameGlVsSoft)->Unit(benchmark::kSecond);
bench::RegisterHeadline d3dGlFps("BM_Direct3DFrameGlVsSoft",
                                 {"fps.d3d_phase3_frame_gl", bench::Figure::Counter, "fps_gl"});
bench::RegisterHeadline d3dSoftFps("BM_Direct3DFrameGlVsSoft",
                                   {"fps.d3d_phase3_frame_soft", bench::Figure::Counter,
                                    "fps_soft"});
bench::RegisterHeadline d3dRatio("BM_Direct3DFrameGlVsSoft",
                                 {"ratio.d3d_frame_gl_vs_soft", bench::Figure::Counter, "ratio"});
bench::RegisterHeadline d3dGlCpu("BM_Direct3DFrameGlVsSoft",
                                 {"ms.d3d_frame_gl_cpu", bench::Figure::Counter, "gl_cpu_ms"});
bench::RegisterHeadline d3dGlGpu("BM_Direct3DFrameGlVsSoft",
                                 {"ms.d3d_frame_gl_gpu", bench::Figure::Counter, "gl_gpu_ms"});

} // namespace
