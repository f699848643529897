// The GDI test's own shapes through the test window's canvas, which draws into the picture the
// window shows (the presenter pushes it to the display meanwhile, as in the test), and its
// masked sprite against pixman compositing the same sprite. The window covers the screen, as
// the start command shows it; on the screen benchmarks' X server that is a real window.
#include "BenchApplication.h"
#include "Headline.h"
#include "forms/Controls.h"
#include "forms/Forms.h"
#include "gfxbench/DetachedHost.h"
#include "gfxbench/Unit2.h"
#include "platform/Random.h"

#include <QImage>
#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <pixman.h>
#include <vector>

namespace {

struct GdiWindow {
    GdiWindow() {
        form = std::make_unique<TForm2>(host);
        form->setGeometry(0, 0, ScreenWidth(), ScreenHeight());
        form->show();
        QApplication::processEvents();
        RandSeed = 1;
    }
    ~GdiWindow() {
        form->hide();
        QApplication::processEvents();
    }
    bool applicationReady = (bench::EnsureApplication(), true);
    DetachedHost host;
    std::unique_ptr<TForm2> form;
};

// The share of a 100 x 100 box at (x, y) that lies inside the window.
double Visible(int x, int y, int width, int height) {
    return double(std::min(x + 100, width) - x) * (std::min(y + 100, height) - y) / 1e4;
}

// One shape per iteration, at the test's random places and in its colours; the counter is the
// average share of the shape's box inside the window (its pixels against a whole shape's).
template <typename Draw> void Shapes(benchmark::State& state, Draw draw) {
    GdiWindow window;
    TCanvas& canvas = window.form->Canvas();
    const int w = window.form->width(), h = window.form->height();
    double visible = 0;
    std::size_t colour = 0;
    for (auto _ : state) {
        const int x = Random(w), y = Random(h);
        colour = (colour + 1) % kColorCycle.size();
        visible += draw(canvas, x, y, w, h, kColorCycle[colour]);
    }
    state.counters["visible"] =
        visible / double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["width"] = w;
}

void BM_GdiWindowLine(benchmark::State& state) {
    Shapes(state, [](TCanvas& canvas, int, int y, int w, int, TColor colour) {
        canvas.Pen.Color = colour;
        canvas.MoveTo(0, y);
        canvas.LineTo(w, y);
        return 1.0;
    });
}
BENCHMARK(BM_GdiWindowLine);
bench::RegisterHeadline lineNs("BM_GdiWindowLine",
                               {"gdi.line_ns", bench::Figure::NanosecondsPerIteration, ""});
bench::RegisterHeadline lineWidth("BM_GdiWindowLine",
                                  {"gdi.line_pixels", bench::Figure::Counter, "width"});

void BM_GdiWindowRect(benchmark::State& state) {
    Shapes(state, [](TCanvas& canvas, int x, int y, int w, int h, TColor colour) {
        canvas.Brush.Color = colour;
        canvas.FillRect(Rect(x, y, x + 100, y + 100));
        return Visible(x, y, w, h);
    });
}
BENCHMARK(BM_GdiWindowRect);
bench::RegisterHeadline rectNs("BM_GdiWindowRect",
                               {"gdi.rect_100_ns", bench::Figure::NanosecondsPerIteration, ""});
bench::RegisterHeadline rectVisible("BM_GdiWindowRect",
                                    {"gdi.rect_visible", bench::Figure::Counter, "visible"});

void BM_GdiWindowEllipse(benchmark::State& state) {
    Shapes(state, [](TCanvas& canvas, int x, int y, int w, int h, TColor colour) {
        canvas.Brush.Color = colour;
        canvas.Ellipse(x, y, x + 100, y + 100);
        return Visible(x, y, w, h);
    });
}
BENCHMARK(BM_GdiWindowEllipse);
bench::RegisterHeadline ellipseNs("BM_GdiWindowEllipse",
                                  {"gdi.ellipse_100_ns", bench::Figure::NanosecondsPerIteration,
                                   ""});
bench::RegisterHeadline ellipseVisible("BM_GdiWindowEllipse",
                                       {"gdi.ellipse_visible", bench::Figure::Counter, "visible"});

// The sprite phase's picture, sprites and places: the program's sprite and mask on a
// 1024 x 768 image, at the places the moving sprites take.
struct SpriteScene {
    static constexpr int kWidth = 1024, kHeight = 768;
    SpriteScene() {
        bench::EnsureApplication();
        sprite.SetPicture(QPixmap::fromImage(QImage(":/skin/mine1.bmp")));
        mask.SetPicture(QPixmap::fromImage(QImage(":/skin/mine2.bmp")));
        image.resize(kWidth, kHeight);
        RandSeed = 1;
        TSpriteTable sprites;
        SetUpSprites(sprites, kWidth, kHeight);
        for (int step = 0; places.size() < 8192; ++step)
            for (TSprite& s : sprites) {
                places.push_back({s.x, s.y});
                MoveSprite(s, kWidth, kHeight);
            }
    }
    bool Loaded() { return sprite.Canvas().Width() == 100 && mask.Canvas().Width() == 100; }
    TImage sprite, mask, image;
    std::vector<std::pair<int, int>> places;
};

void BM_CanvasMaskedSprite(benchmark::State& state) {
    SpriteScene scene;
    if (!scene.Loaded()) {
        state.SkipWithError("no sprite pictures");
        return;
    }
    TCanvas& target = scene.image.Canvas();
    TCanvas& mask = scene.mask.Canvas();
    TCanvas& sprite = scene.sprite.Canvas();
    std::size_t i = 0;
    for (auto _ : state) {
        const auto [x, y] = scene.places[i++ % scene.places.size()];
        BitBlt(target, x, y, kSpriteBlock, kSpriteBlock, mask, 0, 0, SRCAND);
        BitBlt(target, x, y, kSpriteBlock, kSpriteBlock, sprite, 0, 0, SRCPAINT);
    }
}
BENCHMARK(BM_CanvasMaskedSprite);
bench::RegisterHeadline canvasSprite("BM_CanvasMaskedSprite",
                                     {"gdi.masked_sprite_101_ns",
                                      bench::Figure::NanosecondsPerIteration, ""});

// pixman drawing the same: the sprite premultiplied with the mask as its alpha (opaque where
// the mask is black), composited over the picture, the same block at the same places.
void BM_PixmanMaskedSprite(benchmark::State& state) {
    SpriteScene scene;
    if (!scene.Loaded()) {
        state.SkipWithError("no sprite pictures");
        return;
    }
    std::vector<std::uint32_t> texels(100 * 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            texels[std::size_t(y) * 100 + std::size_t(x)] =
                scene.mask.Canvas().Pixel(x, y) == clBlack
                    ? 0xFF000000u | (scene.sprite.Bitmap().Image().pixel(x, y) & 0xFFFFFF)
                    : 0u;
    QImage& picture = scene.image.Bitmap().Image();
    pixman_image_t* source =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, 100, 100, texels.data(), 100 * 4);
    pixman_image_t* destination = pixman_image_create_bits(
        PIXMAN_x8r8g8b8, picture.width(), picture.height(),
        reinterpret_cast<std::uint32_t*>(picture.bits()), int(picture.bytesPerLine()));
    std::size_t i = 0;
    for (auto _ : state) {
        const auto [x, y] = scene.places[i++ % scene.places.size()];
        pixman_image_composite32(PIXMAN_OP_OVER, source, nullptr, destination, 0, 0, 0, 0, x, y,
                                 kSpriteBlock, kSpriteBlock);
    }
    pixman_image_unref(destination);
    pixman_image_unref(source);
}
BENCHMARK(BM_PixmanMaskedSprite);
bench::RegisterHeadline pixmanSprite("BM_PixmanMaskedSprite",
                                     {"pixman.masked_sprite_101_ns",
                                      bench::Figure::NanosecondsPerIteration, ""});

// The whole GDI test on a window covering the screen, its sprite pictures the program's own.
// Arg 1: the picture is handed to the display as in the program; arg 0: it never is. Counters:
// the score, and per phase the share of the phase's time the drawing waited for the picture's
// lock (the display's copies).
class SpriteHost : public DetachedHost {
public:
    SpriteHost() {
        sprite.SetPicture(QPixmap::fromImage(QImage(":/skin/mine1.bmp")));
        mask.SetPicture(QPixmap::fromImage(QImage(":/skin/mine2.bmp")));
    }
    TImage& SpritePicture() override { return sprite; }
    TImage& SpriteMask() override { return mask; }
    TImage sprite, mask;
};

void BM_GdiTest(benchmark::State& state) {
    bench::EnsureApplication();
    SpriteHost host;
    TForm2 form(host);
    form.setGeometry(0, 0, ScreenWidth(), ScreenHeight());
    form.show();
    QApplication::processEvents();
    form.Screen().SetHandingOver(state.range(0) != 0);
    using Clock = std::chrono::steady_clock;
    struct Mark {
        Clock::time_point at;
        std::uint64_t waitedNs;
    };
    std::vector<Mark> marks;
    const auto mark = [&] { marks.push_back({Clock::now(), form.Screen().LockWaitedNs()}); };
    form.StageHook = [&](TGdiStage stage) {
        if (stage != TGdiStage::FrameShown)
            mark();
    };
    double score = 0;
    for (auto _ : state) {
        marks.clear();
        mark();
        form.DrawProc();
        mark();
        score = host.gdi.text().toDouble();
    }
    form.hide();
    QApplication::processEvents();
    state.counters["score"] = score;
    state.counters["lines"] = form.LastRun().Lines;
    state.counters["rects"] = form.LastRun().Rectangles;
    state.counters["ellipses"] = form.LastRun().Ellipses;
    state.counters["frames"] = form.LastRun().Frames;
    state.counters["width"] = form.width();
    if (marks.size() != 5)
        return;
    const char* phases[] = {"wait_lines", "wait_rects", "wait_ellipses", "wait_sprites"};
    for (std::size_t i = 0; i + 1 < marks.size(); ++i) {
        const double span =
            std::chrono::duration<double, std::nano>(marks[i + 1].at - marks[i].at).count();
        state.counters[phases[i]] = double(marks[i + 1].waitedNs - marks[i].waitedNs) / span;
    }
    const double all =
        std::chrono::duration<double, std::nano>(marks.back().at - marks.front().at).count();
    state.counters["wait"] = double(marks.back().waitedNs - marks.front().waitedNs) / all;
}
BENCHMARK(BM_GdiTest)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);
const bench::RegisterHeadline gdiTestFigures[] = {
    {"BM_GdiTest/1/iterations:1", {"gdi.score_presented", bench::Figure::Counter, "score"}},
    {"BM_GdiTest/0/iterations:1", {"gdi.score_not_presented", bench::Figure::Counter, "score"}},
    {"BM_GdiTest/1/iterations:1", {"gdi.lock_wait", bench::Figure::Counter, "wait"}},
    {"BM_GdiTest/1/iterations:1", {"gdi.lock_wait_lines", bench::Figure::Counter, "wait_lines"}},
    {"BM_GdiTest/1/iterations:1", {"gdi.lock_wait_rects", bench::Figure::Counter, "wait_rects"}},
    {"BM_GdiTest/1/iterations:1",
     {"gdi.lock_wait_ellipses", bench::Figure::Counter, "wait_ellipses"}},
    {"BM_GdiTest/1/iterations:1",
     {"gdi.lock_wait_sprites", bench::Figure::Counter, "wait_sprites"}},
};

} // namespace
