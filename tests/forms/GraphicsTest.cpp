#include "forms/Graphics.h"

#include "forms/Controls.h"
#include "platform/SysUtils.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr TColor kBackground = RGB(0x12, 0x34, 0x56);

struct PixelExpectation {
    int x, y;
    TColor color;
};

void ExpectPixels(const TCanvas& canvas, const std::vector<PixelExpectation>& pixels,
                  const char* what) {
    for (const PixelExpectation& p : pixels)
        EXPECT_EQ(canvas.Pixel(p.x, p.y), p.color) << what << " at (" << p.x << ", " << p.y << ")";
}

} // namespace

TEST(Canvas, ShapesCoverTheirRectangleWithoutTheRightAndBottomEdges) {
    constexpr TColor pen = clRed, brush = clBlue;
    struct Case {
        const char* name;
        void (*draw)(TCanvas&);
        std::vector<PixelExpectation> pixels;
    } cases[] = {
        {"FillRect",
         [](TCanvas& c) { c.FillRect(Rect(5, 5, 15, 10)); },
         {{5, 5, brush}, {14, 9, brush}, {15, 9, clBlack}, {14, 10, clBlack}, {4, 5, clBlack}}},
        {"Rectangle",
         [](TCanvas& c) { c.Rectangle(5, 5, 15, 10); },
         {{5, 5, pen},
          {14, 9, pen},
          {10, 5, pen},
          {10, 7, brush},
          {15, 9, clBlack},
          {14, 10, clBlack}}},
        {"Ellipse",
         [](TCanvas& c) { c.Ellipse(0, 0, 21, 21); },
         {{10, 10, brush},
          {10, 0, pen},
          {0, 10, pen},
          {20, 10, pen},
          {10, 20, pen},
          {0, 0, clBlack},
          {21, 10, clBlack},
          {10, 21, clBlack}}},
        {"empty shapes draw nothing",
         [](TCanvas& c) {
             c.FillRect(Rect(8, 8, 8, 20));
             c.Rectangle(10, 10, 5, 20);
             c.Ellipse(3, 3, 30, 3);
         },
         {{8, 8, clBlack}, {7, 12, clBlack}, {10, 3, clBlack}}},
    };
    for (const Case& c : cases) {
        TBitmap bitmap(40, 40);
        TCanvas& canvas = bitmap.Canvas();
        canvas.Pen.Color = pen;
        canvas.Brush.Color = brush;
        c.draw(canvas);
        ExpectPixels(canvas, c.pixels, c.name);
    }
}

TEST(Canvas, LinesLeaveOutTheEndPointAndMoveThePen) {
    TBitmap bitmap(20, 20);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Pen.Color = clLime;
    canvas.MoveTo(2, 5);
    canvas.LineTo(10, 5);
    canvas.Pen.Color = clYellow;
    canvas.LineTo(10, 9); // from the end of the first line
    ExpectPixels(canvas,
                 {{1, 5, clBlack},
                  {2, 5, clLime},
                  {9, 5, clLime},
                  {10, 5, clYellow},
                  {10, 8, clYellow},
                  {10, 9, clBlack}},
                 "lines");
    // A line to the picture's width reaches its last column.
    canvas.MoveTo(0, 15);
    canvas.LineTo(20, 15);
    EXPECT_EQ(canvas.Pixel(19, 15), clYellow);
}

TEST(Canvas, ReportsTheChangedPixelsClippedToThePicture) {
    struct Case {
        const char* name;
        void (*draw)(TCanvas&);
        std::vector<TRect> reported;
    } cases[] = {
        {"inside", [](TCanvas& c) { c.FillRect(Rect(2, 3, 12, 13)); }, {Rect(2, 3, 12, 13)}},
        {"over the edge", [](TCanvas& c) { c.Ellipse(-5, 25, 15, 45); }, {Rect(0, 25, 15, 30)}},
        {"outside", [](TCanvas& c) { c.Rectangle(31, 0, 40, 10); }, {}},
        {"move only", [](TCanvas& c) { c.MoveTo(3, 3); }, {}},
        {"line",
         [](TCanvas& c) {
             c.MoveTo(0, 10);
             c.LineTo(30, 10);
         },
         {Rect(0, 9, 30, 12)}},
        {"pixel", [](TCanvas& c) { c.SetPixel(4, 4, clWhite); }, {Rect(4, 4, 5, 5)}},
    };
    for (const Case& c : cases) {
        TBitmap bitmap(30, 30);
        std::vector<TRect> seen;
        bitmap.Canvas().OnChange = [&seen](const TRect& r) { seen.push_back(r); };
        c.draw(bitmap.Canvas());
        EXPECT_EQ(seen, c.reported) << c.name;
    }
}

// The canvas writes most shapes' pixels itself: they must be the ones the raster painter draws
// with the same pen and brush, at every size and position, also cut by the picture's edges.
TEST(Canvas, DrawsTheSamePixelsAsThePainter) {
    constexpr TColor pen = RGB(0xE0, 0x20, 0x40), brush = RGB(0x10, 0xC0, 0x90);
    struct Shape {
        enum Kind { Line, Rectangle, Fill } kind;
        int a, b, c, d;
        int penWidth = 1;
    };
    std::vector<Shape> shapes = {
        {Shape::Line, 2, 5, 30, 5},         {Shape::Line, 30, 6, 2, 6},
        {Shape::Line, 7, 1, 7, 33},         {Shape::Line, 8, 33, 8, 1},
        {Shape::Line, -9, 9, 50, 9},        {Shape::Line, 11, -4, 11, 60},
        {Shape::Line, 3, 3, 3, 3},          {Shape::Line, 2, 2, 25, 17},
        {Shape::Line, 1, 20, 30, 20, 3},    {Shape::Rectangle, 2, 2, 4, 4},
        {Shape::Rectangle, 6, 7, 33, 30},   {Shape::Rectangle, 3, 4, 20, 5},
        {Shape::Rectangle, 3, 4, 4, 20},    {Shape::Rectangle, -5, -6, 12, 9},
        {Shape::Rectangle, 20, 30, 50, 45}, {Shape::Rectangle, 4, 4, 30, 30, 3},
        {Shape::Fill, 3, 4, 5, 9},          {Shape::Fill, 1, 2, 39, 3},
        {Shape::Fill, -7, -3, 12, 30},      {Shape::Fill, 25, 20, 60, 50},
        {Shape::Fill, -10, 5, 70, 6},       {Shape::Fill, 41, 2, 60, 9},
    };
    for (const Shape& s : shapes) {
        TBitmap bitmap(40, 36);
        bitmap.Canvas().Brush.Color = kBackground;
        bitmap.Canvas().FillRect(Rect(0, 0, 40, 36));
        QImage reference = bitmap.Image().copy();
        TCanvas& canvas = bitmap.Canvas();
        canvas.Pen = TPen{pen, s.penWidth};
        canvas.Brush.Color = brush;
        {
            QPainter painter(&reference);
            painter.setPen(QPen(QColor(0xE0, 0x20, 0x40), s.penWidth, Qt::SolidLine, Qt::FlatCap,
                                Qt::MiterJoin));
            painter.setBrush(QColor(0x10, 0xC0, 0x90));
            switch (s.kind) {
            case Shape::Line:
                canvas.MoveTo(s.a, s.b);
                canvas.LineTo(s.c, s.d);
                painter.drawLine(s.a, s.b, s.c, s.d);
                break;
            case Shape::Rectangle:
                canvas.Rectangle(s.a, s.b, s.c, s.d);
                painter.drawRect(s.a, s.b, s.c - s.a - 1, s.d - s.b - 1);
                break;
            case Shape::Fill:
                canvas.FillRect(Rect(s.a, s.b, s.c, s.d));
                painter.fillRect(s.a, s.b, s.c - s.a, s.d - s.b, QColor(0x10, 0xC0, 0x90));
                break;
            }
        }
        int differ = 0;
        for (int y = 0; y < reference.height(); ++y)
            for (int x = 0; x < reference.width(); ++x)
                differ += reference.pixel(x, y) != bitmap.Image().pixel(x, y);
        EXPECT_EQ(differ, 0) << "shape " << s.kind << " (" << s.a << ", " << s.b << ", " << s.c
                             << ", " << s.d << ") pen " << s.penWidth;
    }
}

// Ellipses are rasterised at every call: along the edge each pixel is within one pixel of the
// painter's (each picture's colour there is found within a pixel in the other), anywhere else
// the same. Sizes from 1 x 1 up, thin and wide pens, boxes cut by the picture's edges.
TEST(Canvas, EllipsesAreWithinAPixelOfThePaintersAlongTheEdgeAndTheSameInside) {
    constexpr QRgb kPen = qRgb(0xE0, 0x20, 0x40), kBrush = qRgb(0x10, 0xC0, 0x90);
    struct Case {
        int left, top, right, bottom, pen;
    };
    std::vector<Case> cases = {
        {10, 10, 11, 11, 1}, {10, 10, 12, 11, 1},   {10, 10, 11, 14, 1},  {5, 6, 30, 26, 3},
        {5, 6, 30, 26, 2},   {8, 8, 40, 20, 5},     {10, 10, 34, 30, 6},  {30, 30, 39, 42, 3},
        {20, 20, 23, 40, 4}, {-20, 10, 80, 110, 1}, {30, -30, 90, 30, 3}, {-50, -40, 150, 140, 1},
        {2, 2, 58, 58, 20},  {0, 0, 100, 100, 1},   {40, 0, 141, 65, 1},
    };
    for (const int size : {1, 2, 3, 4, 5, 7, 10, 15, 21, 32, 33, 64, 100})
        for (const int x : {-size / 2, 0, 3, 60 - size / 2})
            cases.push_back({x, 1 - size / 3, x + size, 1 - size / 3 + size * 3 / 4 + 1, 1});
    const auto found = [](const QImage& image, int x, int y, QRgb colour) {
        // What lies outside the picture is not known: it may be anything.
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (!image.valid(x + dx, y + dy) || image.pixel(x + dx, y + dy) == colour)
                    return true;
        return false;
    };
    for (const Case& c : cases) {
        TBitmap bitmap(60, 50);
        bitmap.Canvas().Brush.Color = kBackground;
        bitmap.Canvas().FillRect(Rect(0, 0, 60, 50));
        QImage reference = bitmap.Image().copy();
        TCanvas& canvas = bitmap.Canvas();
        canvas.Pen = TPen{RGB(0xE0, 0x20, 0x40), c.pen};
        canvas.Brush.Color = RGB(0x10, 0xC0, 0x90);
        canvas.Ellipse(c.left, c.top, c.right, c.bottom);
        {
            QPainter painter(&reference);
            painter.setPen(QPen(QColor(kPen), c.pen, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
            painter.setBrush(QColor(kBrush));
            painter.drawEllipse(c.left, c.top, c.right - c.left - 1, c.bottom - c.top - 1);
        }
        const QImage& drawn = bitmap.Image();
        int far = 0, differ = 0, painted = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x) {
                painted += reference.pixel(x, y) != reference.pixel(0, 0) || (x == 0 && y == 0);
                if (drawn.pixel(x, y) == reference.pixel(x, y))
                    continue;
                ++differ;
                far += !found(reference, x, y, drawn.pixel(x, y)) ||
                       !found(drawn, x, y, reference.pixel(x, y));
            }
        EXPECT_EQ(far, 0) << "(" << c.left << ", " << c.top << ", " << c.right << ", " << c.bottom
                          << ") pen " << c.pen << ": " << differ << " differ";
        // Only the edge may differ: a small share of what the painter drew.
        EXPECT_LE(differ, std::max(8, painted / 4))
            << "(" << c.left << ", " << c.top << ", " << c.right << ", " << c.bottom << ") pen "
            << c.pen;
    }
}

TEST(Canvas, PixelsOutsideThePictureAreInvalidAndIgnored) {
    TBitmap bitmap(4, 4);
    TCanvas& canvas = bitmap.Canvas();
    canvas.SetPixel(4, 0, clWhite);
    canvas.SetPixel(-1, 2, clWhite);
    canvas.SetPixel(3, 3, clWhite);
    EXPECT_EQ(canvas.Pixel(4, 0), CLR_INVALID);
    EXPECT_EQ(canvas.Pixel(0, -1), CLR_INVALID);
    EXPECT_EQ(canvas.Pixel(3, 3), clWhite);
    EXPECT_EQ(canvas.Pixel(2, 2), clBlack);
}

TEST(BitBlt, CombinesSourceAndDestinationByTheRasterOperation) {
    struct Case {
        DWORD rop;
        TColor source, dest, result;
        BOOL returned;
    } cases[] = {
        {SRCCOPY, RGB(0x0F, 0xF0, 0x3C), RGB(0xAA, 0x55, 0xFF), RGB(0x0F, 0xF0, 0x3C), 1},
        {SRCAND, RGB(0x0F, 0xF0, 0x3C), RGB(0xAA, 0x55, 0xFF), RGB(0x0A, 0x50, 0x3C), 1},
        {SRCPAINT, RGB(0x0F, 0xF0, 0x3C), RGB(0xAA, 0x55, 0x00), RGB(0xAF, 0xF5, 0x3C), 1},
        {SRCAND, clWhite, kBackground, kBackground, 1},
        {SRCAND, clBlack, kBackground, clBlack, 1},
        {SRCPAINT, clBlack, kBackground, kBackground, 1},
        {0x00660046, clWhite, kBackground, kBackground, 0}, // not offered: nothing happens
    };
    for (const Case& c : cases) {
        TBitmap source(3, 3), dest(3, 3);
        source.Canvas().Brush.Color = c.source;
        source.Canvas().FillRect(Rect(0, 0, 3, 3));
        dest.Canvas().Brush.Color = c.dest;
        dest.Canvas().FillRect(Rect(0, 0, 3, 3));
        EXPECT_EQ(BitBlt(dest.Canvas(), 1, 1, 2, 2, source.Canvas(), 0, 0, c.rop), c.returned)
            << std::hex << c.rop;
        EXPECT_EQ(dest.Canvas().Pixel(2, 2), c.result) << std::hex << c.rop;
        EXPECT_EQ(dest.Canvas().Pixel(0, 0), c.dest) << std::hex << c.rop;
    }
}

TEST(BitBlt, TransfersOnlyWhatLiesInsideTheSource) {
    struct Case {
        const char* name;
        int x, y, width, height, xSource, ySource;
        TRect copied; // where the source's white lands; the rest keeps the background
    } cases[] = {
        {"block larger than the source", 2, 2, 5, 5, 0, 0, Rect(2, 2, 6, 6)},
        {"source offset before its left edge", 2, 2, 3, 3, -1, 0, Rect(3, 2, 5, 5)},
        {"source offset past its bottom", 0, 0, 4, 4, 0, 2, Rect(0, 0, 4, 2)},
        {"destination partly off the picture", -2, 7, 4, 4, 0, 0, Rect(0, 7, 2, 10)},
        {"nothing of the source", 1, 1, 3, 3, 4, 0, Rect(0, 0, 0, 0)},
    };
    for (const Case& c : cases) {
        TBitmap source(4, 4), dest(10, 10);
        source.Canvas().Brush.Color = clWhite;
        source.Canvas().FillRect(Rect(0, 0, 4, 4));
        dest.Canvas().Brush.Color = kBackground;
        dest.Canvas().FillRect(Rect(0, 0, 10, 10));
        BitBlt(dest.Canvas(), c.x, c.y, c.width, c.height, source.Canvas(), c.xSource, c.ySource,
               SRCCOPY);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                const bool inside = x >= c.copied.Left && x < c.copied.Right && y >= c.copied.Top &&
                                    y < c.copied.Bottom;
                ASSERT_EQ(dest.Canvas().Pixel(x, y), inside ? clWhite : kBackground)
                    << c.name << " at (" << x << ", " << y << ")";
            }
    }
}

TEST(BitBlt, MaskThenSpriteKeepsTheSpriteWhereMaskIsBlackAndTheBackgroundWhereWhite) {
    // A 4 × 1 sprite: opaque red, opaque black, transparent, transparent.
    TBitmap mask(4, 1), sprite(4, 1), scene(4, 2);
    const TColor maskPixels[] = {clBlack, clBlack, clWhite, clWhite};
    const TColor spritePixels[] = {clRed, clBlack, clBlack, clBlack};
    for (int x = 0; x < 4; ++x) {
        mask.Canvas().SetPixel(x, 0, maskPixels[x]);
        sprite.Canvas().SetPixel(x, 0, spritePixels[x]);
    }
    const TColor rows[] = {kBackground, clWhite};
    for (int y = 0; y < 2; ++y) {
        scene.Canvas().Brush.Color = rows[y];
        scene.Canvas().FillRect(Rect(0, y, 4, y + 1));
        BitBlt(scene.Canvas(), 0, y, 4, 1, mask.Canvas(), 0, 0, SRCAND);
        BitBlt(scene.Canvas(), 0, y, 4, 1, sprite.Canvas(), 0, 0, SRCPAINT);
        const TColor expected[] = {clRed, clBlack, rows[y], rows[y]};
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(scene.Canvas().Pixel(x, y), expected[x]) << x << ", " << y;
    }
}

TEST(Canvas, CopyRectUsesTheCopyModeAndStretches) {
    TBitmap source(2, 2), dest(4, 4);
    source.Canvas().Brush.Color = RGB(0x0F, 0x0F, 0x0F);
    source.Canvas().FillRect(Rect(0, 0, 2, 2));
    dest.Canvas().Brush.Color = RGB(0xF0, 0xFF, 0x00);
    dest.Canvas().FillRect(Rect(0, 0, 4, 4));
    dest.Canvas().CopyMode = SRCAND;
    dest.Canvas().CopyRect(Rect(0, 0, 4, 4), source.Canvas(), Rect(0, 0, 2, 2));
    EXPECT_EQ(dest.Canvas().Pixel(0, 0), RGB(0x00, 0x0F, 0x00));
    EXPECT_EQ(dest.Canvas().Pixel(3, 3), RGB(0x00, 0x0F, 0x00));
    // Onto itself: the left half copied over the right.
    dest.Canvas().CopyMode = SRCCOPY;
    dest.Canvas().SetPixel(0, 0, clWhite);
    dest.Canvas().CopyRect(Rect(2, 0, 4, 4), dest.Canvas(), Rect(0, 0, 2, 4));
    EXPECT_EQ(dest.Canvas().Pixel(2, 0), clWhite);
}

// A copy of one size is the block transfer: the painter's pixels for every raster operation,
// also where the source rectangle reaches past the source picture (that part stays untouched).
TEST(Canvas, CopyRectOfOneSizeGivesThePaintersPixels) {
    struct Case {
        DWORD mode;
        QPainter::CompositionMode painted;
        TRect dest, from;
    } cases[] = {
        {SRCCOPY, QPainter::CompositionMode_Source, Rect(1, 1, 6, 5), Rect(0, 0, 5, 4)},
        {SRCCOPY, QPainter::CompositionMode_Source, Rect(0, 0, 6, 6), Rect(-2, -3, 4, 3)},
        {SRCAND, QPainter::RasterOp_SourceAndDestination, Rect(2, 0, 8, 4), Rect(3, 2, 9, 6)},
        {SRCPAINT, QPainter::RasterOp_SourceOrDestination, Rect(-1, 3, 4, 9), Rect(1, 1, 6, 7)},
    };
    for (const Case& c : cases) {
        TBitmap source(6, 6), dest(8, 8);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x)
                source.Canvas().SetPixel(x, y, RGB(BYTE(40 * x), BYTE(40 * y), BYTE(0x5A)));
        dest.Canvas().Brush.Color = RGB(0x33, 0xCC, 0x96);
        dest.Canvas().FillRect(Rect(0, 0, 8, 8));
        QImage reference = dest.Image().copy();
        {
            QPainter painter(&reference);
            painter.setCompositionMode(c.painted);
            painter.drawImage(QRect(c.dest.Left, c.dest.Top, c.dest.Width(), c.dest.Height()),
                              source.Image(),
                              QRect(c.from.Left, c.from.Top, c.from.Width(), c.from.Height()));
        }
        dest.Canvas().CopyMode = c.mode;
        dest.Canvas().CopyRect(c.dest, source.Canvas(), c.from);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                ASSERT_EQ(dest.Image().pixel(x, y), reference.pixel(x, y))
                    << "mode " << c.mode << " at " << x << ", " << y;
    }
}

TEST(Bitmap, LoadsPicturesOfEveryDepthWithTheirExactColours) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage mono(3, 1, QImage::Format_Mono);
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mono.setPixel(0, 0, 1);
    mono.setPixel(1, 0, 0);
    mono.setPixel(2, 0, 1);
    QImage indexed(3, 1, QImage::Format_Indexed8);
    QList<QRgb> table(256, qRgb(0, 0, 0));
    table[7] = qRgb(10, 20, 30);
    table[255] = qRgb(200, 100, 50);
    indexed.setColorTable(table);
    indexed.setPixel(0, 0, 7);
    indexed.setPixel(1, 0, 255);
    indexed.setPixel(2, 0, 0);
    struct Case {
        const char* file;
        QImage picture;
        TColor pixels[3];
    } cases[] = {
        {"mono.bmp", mono, {clWhite, clBlack, clWhite}},
        {"indexed.bmp", indexed, {RGB(10, 20, 30), RGB(200, 100, 50), clBlack}},
        {"indexed.png", indexed, {RGB(10, 20, 30), RGB(200, 100, 50), clBlack}},
    };
    for (const Case& c : cases) {
        const QString path = QDir(dir.path()).filePath(c.file);
        ASSERT_TRUE(c.picture.save(path)) << c.file;
        TBitmap bitmap;
        bitmap.LoadFromFile(path.toStdString());
        ASSERT_EQ(bitmap.Width(), 3) << c.file;
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(bitmap.Canvas().Pixel(x, 0), c.pixels[x]) << c.file << " " << x;
    }
    TBitmap missing;
    EXPECT_THROW(missing.LoadFromFile(QDir(dir.path()).filePath("none.bmp").toStdString()),
                 Exception);
    EXPECT_TRUE(missing.Empty());
}

// A BMP file of one row of two pixels: a header, the colour table, one padded row.
std::vector<std::uint8_t> TwoPixelBmp(int bits, const std::vector<DWORD>& table,
                                      std::vector<std::uint8_t> row) {
    std::vector<std::uint8_t> b;
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    row.resize((row.size() + 3) / 4 * 4, 0);
    const std::uint32_t offBits = 54 + 4 * static_cast<std::uint32_t>(table.size());
    put(0x4D42, 2);
    put(offBits + static_cast<std::uint32_t>(row.size()), 4);
    put(0, 4);
    put(offBits, 4);
    put(40, 4);
    put(2, 4);
    put(1, 4);
    put(1, 2);
    put(static_cast<std::uint32_t>(bits), 2);
    put(0, 4);
    put(static_cast<std::uint32_t>(row.size()), 4);
    put(2835, 4);
    put(2835, 4);
    put(static_cast<std::uint32_t>(table.size()), 4);
    put(0, 4);
    for (DWORD entry : table)
        put(entry, 4);
    b.insert(b.end(), row.begin(), row.end());
    return b;
}

TEST(Bitmap, KnowsTheDepthAndColourTableOfItsFile) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
        int bits;
        std::vector<DWORD> table;
        TColor first;
    } cases[] = {
        {"8-bit",
         TwoPixelBmp(8, {0x0A141E, 0xC86432, 0x010203}, {1, 0}),
         8,
         {0x0A141E, 0xC86432, 0x010203},
         RGB(0xC8, 0x64, 0x32)},
        {"4-bit",
         TwoPixelBmp(4, {0x000000, 0x00FF00}, {0x10}),
         4,
         {0x000000, 0x00FF00},
         RGB(0, 0xFF, 0)},
        {"1-bit", TwoPixelBmp(1, {0xFFFFFF, 0x000000}, {0x40}), 1, {0xFFFFFF, 0x000000}, clWhite},
        {"24-bit", TwoPixelBmp(24, {}, {0x07, 0x08, 0x09, 0, 0, 0}), 24, {}, RGB(9, 8, 7)},
        {"16-bit", TwoPixelBmp(16, {}, {0x1F, 0x00}), 16, {}, RGB(0, 0, 0xF8)},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case& c : cases) {
        for (const bool fromFile : {false, true}) {
            TBitmap bitmap;
            if (fromFile) {
                const std::string path = QDir(dir.path()).filePath("b.bmp").toStdString();
                std::ofstream(path, std::ios::binary)
                    .write(reinterpret_cast<const char*>(c.file.data()),
                           std::streamsize(c.file.size()));
                bitmap.LoadFromFile(path);
            } else {
                ASSERT_TRUE(bitmap.LoadFromMemory(c.file.data(), c.file.size())) << c.what;
            }
            EXPECT_EQ(bitmap.BitsPerPixel(), c.bits) << c.what;
            EXPECT_EQ(bitmap.ColorTable(), c.table) << c.what;
            EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), c.first) << c.what;
            bitmap.SetSize(4, 4); // a picture made here
            EXPECT_EQ(bitmap.BitsPerPixel(), 32) << c.what;
            EXPECT_TRUE(bitmap.ColorTable().empty()) << c.what;
        }
    }
    // No bitmap resources are built in: every name falls through to the file.
    TBitmap none;
    EXPECT_FALSE(none.LoadFromResource("boss2.bmp"));
    EXPECT_FALSE(none.LoadFromResource(""));
    EXPECT_TRUE(none.Empty());
}

TEST(Bitmap, NewSizeIsBlackAndTheCanvasKeepsDrawing) {
    TBitmap bitmap(5, 5);
    bitmap.Canvas().Brush.Color = clRed;
    bitmap.Canvas().FillRect(Rect(0, 0, 5, 5));
    bitmap.SetSize(8, 3);
    EXPECT_EQ(bitmap.Width(), 8);
    EXPECT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(bitmap.Canvas().Pixel(4, 2), clBlack);
    bitmap.Canvas().FillRect(Rect(7, 2, 8, 3)); // brush kept
    EXPECT_EQ(bitmap.Canvas().Pixel(7, 2), clRed);
    bitmap.SetSize(0, 3);
    EXPECT_TRUE(bitmap.Empty());
}

TEST(Image, CanvasTurnsThePictureIntoABitmapThatIsShown) {
    struct Case {
        const char* name;
        QPixmap picture; // null: an empty picture
        int width, height;
        TColor corner;
    } cases[] = {
        {"empty picture", QPixmap(), 30, 20, clBlack},
        {"pixmap picture",
         [] {
             QPixmap p(12, 8);
             p.fill(QColor(0x12, 0x34, 0x56));
             return p;
         }(),
         12, 8, kBackground},
    };
    for (const Case& c : cases) {
        TImage image;
        image.resize(30, 20);
        image.SetPicture(c.picture);
        TCanvas& canvas = image.Canvas();
        EXPECT_EQ(canvas.Width(), c.width) << c.name;
        EXPECT_EQ(canvas.Height(), c.height) << c.name;
        EXPECT_EQ(canvas.Pixel(0, 0), c.corner) << c.name;
        canvas.SetPixel(1, 1, clLime);
        const QImage shown = image.grab().toImage();
        EXPECT_EQ(shown.pixelColor(1, 1), QColor(0, 255, 0)) << c.name;
        EXPECT_EQ(image.Picture().toImage().pixelColor(1, 1), QColor(0, 255, 0)) << c.name;
        // A new picture replaces the bitmap.
        QPixmap other(4, 4);
        other.fill(Qt::white);
        image.SetPicture(other);
        EXPECT_EQ(image.Canvas().Pixel(1, 1), clWhite) << c.name;
    }
}
