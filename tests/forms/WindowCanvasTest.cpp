#include "forms/WindowCanvas.h"

#include <QWidget>
#include <gtest/gtest.h>

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
