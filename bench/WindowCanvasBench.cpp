// A drawing call on a window's canvas (the picture the window shows, read by the presenter
// between calls) against the same call on a bitmap's canvas, timed by turns in one run: what
// showing adds to each call beside its pixels. One-pixel calls, so the call's own cost is all
// there is; the ratio is the bitmap's time over the window's (1 when showing costs nothing).
#include "BenchApplication.h"
#include "Headline.h"
#include "forms/Graphics.h"
#include "forms/WindowCanvas.h"

#include <QWidget>
#include <benchmark/benchmark.h>
#include <chrono>

namespace {

constexpr int kWidth = 800, kHeight = 600, kCalls = 4096;

double SecondsForCalls(TCanvas& canvas, int round) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) {
        const int at = round * kCalls + i;
        canvas.SetPixel(at % kWidth, (at / kWidth) % kHeight, (at & 1) ? clRed : clAqua);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_WindowCanvasCallVsBitmap(benchmark::State& state) {
    bench::EnsureApplication();
    QWidget window;
    window.resize(kWidth, kHeight);
    window.show();
    QApplication::processEvents();
    TWindowCanvas shown(&window);
    TBitmap bitmap(kWidth, kHeight);
    double onWindow = 0, onBitmap = 0;
    int round = 0;
    for (auto _ : state) {
        onWindow += SecondsForCalls(shown.Canvas(), round);
        onBitmap += SecondsForCalls(bitmap.Canvas(), round);
        ++round;
    }
    state.counters["window_call_ns"] = onWindow * 1e9 / (double(round) * kCalls);
    state.counters["ratio"] = onWindow > 0 ? onBitmap / onWindow : 0;
}
BENCHMARK(BM_WindowCanvasCallVsBitmap)->Unit(benchmark::kMillisecond);
bench::RegisterHeadline windowCallRatio("BM_WindowCanvasCallVsBitmap",
                                        {"ratio.window_canvas_call_vs_bitmap",
                                         bench::Figure::Counter, "ratio"});

} // namespace
