// The canvas calls the GDI test is made of, on an 800 × 600 picture without a window: what
// the drawing itself costs, apart from showing it.
#include "Headline.h"
#include "forms/Graphics.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kWidth = 800, kHeight = 600;

void BM_CanvasLine(benchmark::State& state) {
    TBitmap target(kWidth, kHeight);
    TCanvas& canvas = target.Canvas();
    int y = 0;
    for (auto _ : state) {
        canvas.Pen.Color = (y & 1) ? clAqua : clRed;
        canvas.MoveTo(0, y);
        canvas.LineTo(kWidth, y);
        y = (y + 7) % kHeight;
    }
}
BENCHMARK(BM_CanvasLine);
bench::RegisterHeadline lineHeadline("BM_CanvasLine", {"canvas.line_800_ns",
                                                       bench::Figure::NanosecondsPerIteration, ""});

// 100 x 100 shapes at places spread over the target, in two colours by turns.
template <class Draw> void CanvasShapes(benchmark::State& state, Draw draw) {
    TBitmap target(kWidth, kHeight);
    TCanvas& canvas = target.Canvas();
    int i = 0;
    for (auto _ : state) {
        const int x = (i * 37) % kWidth, y = (i * 53) % kHeight;
        canvas.Brush.Color = (i & 1) ? clBlue : clLime;
        draw(canvas, x, y);
        ++i;
    }
}

void BM_CanvasFillRect(benchmark::State& state) {
    CanvasShapes(state, [](TCanvas& canvas, int x, int y) {
        canvas.FillRect(Rect(x, y, x + 100, y + 100));
    });
}
BENCHMARK(BM_CanvasFillRect);
bench::RegisterHeadline fillHeadline("BM_CanvasFillRect",
                                     {"canvas.fillrect_100_ns",
                                      bench::Figure::NanosecondsPerIteration, ""});

void BM_CanvasEllipse(benchmark::State& state) {
    CanvasShapes(state,
                 [](TCanvas& canvas, int x, int y) { canvas.Ellipse(x, y, x + 100, y + 100); });
}
BENCHMARK(BM_CanvasEllipse);
bench::RegisterHeadline ellipseHeadline("BM_CanvasEllipse",
                                        {"canvas.ellipse_100_ns",
                                         bench::Figure::NanosecondsPerIteration, ""});

// One sprite of the sprite phase: its mask with SRCAND, then its picture with SRCPAINT.
void BM_MaskedSprite(benchmark::State& state) {
    TBitmap target(kWidth, kHeight), mask(100, 100), sprite(100, 100);
    mask.Canvas().Brush.Color = clWhite;
    mask.Canvas().FillRect(Rect(0, 0, 100, 100));
    mask.Canvas().Brush.Color = clBlack;
    mask.Canvas().Ellipse(10, 10, 90, 90);
    sprite.Canvas().Brush.Color = clRed;
    sprite.Canvas().Ellipse(10, 10, 90, 90);
    int i = 0;
    for (auto _ : state) {
        const int x = (i * 37) % kWidth - 50, y = (i * 53) % kHeight - 50;
        BitBlt(target.Canvas(), x, y, 101, 101, mask.Canvas(), 0, 0, SRCAND);
        BitBlt(target.Canvas(), x, y, 101, 101, sprite.Canvas(), 0, 0, SRCPAINT);
        ++i;
    }
}
BENCHMARK(BM_MaskedSprite);
bench::RegisterHeadline spriteHeadline("BM_MaskedSprite",
                                       {"canvas.masked_sprite_101_ns",
                                        bench::Figure::NanosecondsPerIteration, ""});

} // namespace
