#include "forms/WindowCanvas.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// Whether the window shows exactly the canvas's picture once the display has refreshed.
::testing::AssertionResult ShowsThePicture(QWidget& window, const TWindowCanvas& screen) {
    const QImage shown = PresentedPicture(WindowHandle(&window));
    const QImage drawn = screen.Image().convertToFormat(QImage::Format_RGB32);
    if (shown.size() != drawn.size())
        return ::testing::AssertionFailure()
               << "shown " << shown.width() << "x" << shown.height() << ", drawn " << drawn.width()
               << "x" << drawn.height();
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (shown.pixel(x, y) != drawn.pixel(x, y))
                return ::testing::AssertionFailure()
                       << "(" << x << ", " << y << ") shows " << std::hex << shown.pixel(x, y)
                       << ", drawn " << drawn.pixel(x, y);
    return ::testing::AssertionSuccess();
}

// A window of the given size, shown, with its canvas filled with one colour.
struct FilledWindow {
    QWidget window;
    TWindowCanvas screen{&window};
    FilledWindow(int width, int height, TColor fill) {
        window.resize(width, height);
        window.show();
        screen.Fill(fill);
    }
};

} // namespace

TEST(WindowCanvas, TheWindowShowsWhatWasDrawnAtEachSizeAndAfterBeingShownAgain) {
    QWidget window;
    window.resize(64, 48);
    window.show();
    TWindowCanvas screen(&window);
    struct Step {
        const char* name;
        void (*change)(QWidget&, TWindowCanvas&);
        QSize size;
    } steps[] = {
        {"first shape",
         [](QWidget&, TWindowCanvas& s) {
             s.Canvas().Brush.Color = clRed;
             s.Canvas().FillRect(Rect(5, 5, 30, 20));
         },
         {64, 48}},
        {"a line after it",
         [](QWidget&, TWindowCanvas& s) {
             s.Canvas().MoveTo(0, 30);
             s.Canvas().LineTo(64, 30);
         },
         {64, 48}},
        {"a new size starts black",
         [](QWidget& w, TWindowCanvas& s) {
             w.resize(50, 40);
             s.Canvas();
         },
         {50, 40}},
        {"drawn at the new size",
         [](QWidget&, TWindowCanvas& s) { s.Canvas().Ellipse(10, 10, 40, 30); },
         {50, 40}},
        {"hidden, shown and filled",
         [](QWidget& w, TWindowCanvas& s) {
             // Hidden before the display read the change: the picture is shown again anyway.
             s.Canvas().FillRect(Rect(0, 0, 8, 8));
             w.hide();
             w.show();
             s.Fill(clTeal);
         },
         {50, 40}},
        {"a pixel after that",
         [](QWidget&, TWindowCanvas& s) { s.Canvas().SetPixel(3, 4, clYellow); },
         {50, 40}},
    };
    for (const Step& step : steps) {
        step.change(window, screen);
        EXPECT_EQ(screen.Image().size(), step.size) << step.name;
        EXPECT_TRUE(ShowsThePicture(window, screen)) << step.name;
    }
    EXPECT_EQ(screen.Canvas().Pixel(3, 4), clYellow);
    EXPECT_EQ(screen.Canvas().Pixel(0, 0), clTeal);
}

TEST(WindowCanvas, EachRefreshShowsEveryChangeSinceTheLastOneAndKeepsWhatDidNotChange) {
    FilledWindow filled(80, 60, clNavy);
    QWidget& window = filled.window;
    TWindowCanvas& screen = filled.screen;
    ASSERT_TRUE(ShowsThePicture(window, screen));
    struct Step {
        const char* name;
        void (*draw)(TCanvas&);
    } steps[] = {
        {"two shapes far apart before one refresh",
         [](TCanvas& c) {
             c.Brush.Color = clRed;
             c.FillRect(Rect(0, 0, 10, 10));
             c.Brush.Color = clLime;
             c.FillRect(Rect(70, 50, 80, 60));
         }},
        {"a shape over the last one's place",
         [](TCanvas& c) {
             c.Brush.Color = clYellow;
             c.FillRect(Rect(5, 5, 12, 12));
         }},
        {"shapes on the same rows at both ends",
         [](TCanvas& c) {
             c.Pen.Color = clWhite;
             c.MoveTo(0, 30);
             c.LineTo(3, 30);
             c.SetPixel(79, 30, clFuchsia);
         }},
        {"partly outside the picture",
         [](TCanvas& c) {
             c.Brush.Color = clAqua;
             c.Ellipse(60, -20, 100, 20);
             c.FillRect(Rect(-5, 55, 5, 70));
         }},
        {"a copy onto itself",
         [](TCanvas& c) { c.CopyRect(Rect(40, 0, 50, 10), c, Rect(0, 0, 10, 10)); }},
    };
    for (const Step& step : steps) {
        step.draw(screen.Canvas());
        EXPECT_TRUE(ShowsThePicture(window, screen)) << step.name;
    }
}

TEST(WindowCanvas, DrawingWhileACopyOfThePictureLivesIsShown) {
    FilledWindow filled(40, 30, clBlack);
    QWidget& window = filled.window;
    TWindowCanvas& screen = filled.screen;
    ASSERT_TRUE(ShowsThePicture(window, screen));
    {
        const QImage copy = screen.Image(); // shares the picture's memory
        screen.Canvas().SetPixel(3, 4, clWhite);
        EXPECT_TRUE(ShowsThePicture(window, screen));
        EXPECT_EQ(copy.pixel(3, 4), qRgb(0, 0, 0));
    }
    // The copy and the memory it kept are gone: the display reads the canvas's own.
    screen.Canvas().SetPixel(5, 6, clRed);
    EXPECT_TRUE(ShowsThePicture(window, screen));
}

TEST(WindowCanvas, TheDisplayCopiesWhatTheCanvasReportsNotTheWholePicture) {
    FilledWindow filled(40, 30, clBlack);
    QWidget& window = filled.window;
    TWindowCanvas& screen = filled.screen;
    ASSERT_TRUE(ShowsThePicture(window, screen));
    // A pixel changed behind the canvas's back is not shown while nothing reports it...
    const_cast<QImage&>(screen.Image()).setPixel(30, 25, qRgb(255, 0, 0));
    screen.Canvas().SetPixel(2, 2, clWhite);
    const QImage shown = PresentedPicture(WindowHandle(&window));
    EXPECT_EQ(shown.pixel(2, 2), qRgb(255, 255, 255));
    EXPECT_EQ(shown.pixel(30, 25), qRgb(0, 0, 0));
    // ...and is, once a drawing call on its row and column reports them.
    screen.Canvas().SetPixel(31, 25, clWhite);
    screen.Canvas().SetPixel(29, 25, clWhite);
    EXPECT_TRUE(ShowsThePicture(window, screen));
}

TEST(LivePicture, APublishedViewIsShownWholeThenOnlyWhatWritersReport) {
    constexpr int kWidth = 40, kHeight = 30;
    QWidget window;
    window.resize(kWidth, kHeight);
    window.show();
    const HWND handle = WindowHandle(&window);
    std::vector<std::uint32_t> first(kWidth * kHeight, 0xFF0000), second(kWidth * kHeight, 0xFF);
    auto live = std::make_shared<TLivePicture>();
    const auto view = [&](std::vector<std::uint32_t>& pixels) {
        return TPixelView{
            {reinterpret_cast<const std::uint8_t*>(pixels.data()), kWidth * 4, kWidth, kHeight},
            TPixelLayout::XRGB8888,
            nullptr};
    };
    struct Step {
        const char* name;
        std::function<void()> write;
        QRgb atOrigin, atFive, atCorner; // shown at (0, 0), (5, 0) and the last pixel after it
    } steps[] = {
        {"published: every pixel", [&] { live->Publish(view(first)); }, qRgb(255, 0, 0),
         qRgb(255, 0, 0), qRgb(255, 0, 0)},
        {"written, not reported", [&] { live->Write(RECT{}, [&] { first[0] = 0xFF00; }); },
         qRgb(255, 0, 0), qRgb(255, 0, 0), qRgb(255, 0, 0)},
        {"written and reported",
         [&] {
             live->Write(RECT{5, 0, 6, 1}, [&] { first[5] = 0xFFFFFF; });
         },
         qRgb(255, 0, 0), qRgb(255, 255, 255), qRgb(255, 0, 0)},
        {"the same memory published anew", [&] { live->Publish(view(first)); }, qRgb(0, 255, 0),
         qRgb(255, 255, 255), qRgb(255, 0, 0)},
        {"hidden, then other memory published",
         [&] {
             live->Hide();
             live->Publish(view(second));
         },
         qRgb(0, 0, 255), qRgb(0, 0, 255), qRgb(0, 0, 255)},
    };
    for (const Step& step : steps) {
        step.write();
        live->HandOver(handle);
        const QImage shown = PresentedPicture(handle);
        EXPECT_EQ(shown.pixel(0, 0), step.atOrigin) << step.name;
        EXPECT_EQ(shown.pixel(5, 0), step.atFive) << step.name;
        EXPECT_EQ(shown.pixel(kWidth - 1, kHeight - 1), step.atCorner) << step.name;
    }
    live->Hide(); // the memory goes before the presenter could read it again
}
