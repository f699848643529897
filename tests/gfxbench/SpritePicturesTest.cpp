#include "forms/Controls.h"
#include "forms/Graphics.h"
#include "gfxbench/Unit2.h"

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

namespace {

const QString kSkin = QStringLiteral(ZELKA_SOURCE_DIR "/resources/skin/");

std::uint32_t U32(const QByteArray& b, int at) {
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
           std::uint32_t(std::uint8_t(b[at + 2])) << 16 |
           std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TColor At(const TCanvas& canvas, int x, int y) {
    return canvas.Pixel(x, y);
}

} // namespace

TEST(SpritePictures, AreA256ColourBitmapAndATwoColourMaskOf100By100) {
    struct Case {
        const char* file;
        int bitCount;
        std::uint32_t colours;
    } cases[] = {{"mine1.bmp", 8, 256}, {"mine2.bmp", 1, 2}};
    for (const Case& c : cases) {
        const QByteArray bytes = ReadAll(kSkin + c.file);
        ASSERT_GT(bytes.size(), 54) << c.file;
        EXPECT_EQ(bytes.left(2), "BM") << c.file;
        EXPECT_EQ(U32(bytes, 18), 100u) << c.file; // width
        EXPECT_EQ(U32(bytes, 22), 100u) << c.file; // height
        EXPECT_EQ(std::uint8_t(bytes[28]), c.bitCount) << c.file;
        EXPECT_EQ(U32(bytes, 46), c.colours) << c.file;
        // Palette entry 0 is black (blue, green, red, reserved).
        EXPECT_EQ(U32(bytes, 54), 0u) << c.file;
    }
    // The mask's palette: black at 0, white at 1.
    EXPECT_EQ(U32(ReadAll(kSkin + "mine2.bmp"), 58), 0x00FFFFFFu);
}

TEST(SpritePictures, MaskIsExactlyTheSpritesShape) {
    const QImage sprite(kSkin + "mine1.bmp"), mask(kSkin + "mine2.bmp");
    ASSERT_EQ(sprite.format(), QImage::Format_Indexed8);
    ASSERT_EQ(mask.size(), QSize(100, 100));
    int opaque = 0, colouredOpaque = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const QRgb m = mask.pixel(x, y);
            ASSERT_TRUE(m == qRgb(0, 0, 0) || m == qRgb(255, 255, 255));
            if (m == qRgb(255, 255, 255)) {
                // Transparent: the colour picture must add nothing to the background.
                ASSERT_EQ(sprite.pixel(x, y), qRgb(0, 0, 0)) << x << ", " << y;
            } else {
                ++opaque;
                colouredOpaque += sprite.pixel(x, y) != qRgb(0, 0, 0);
            }
        }
    // A figure with transparent surroundings, not a box and not nothing.
    EXPECT_GT(opaque, 2500);
    EXPECT_LT(opaque, 7500);
    EXPECT_GT(colouredOpaque, opaque * 9 / 10);
    for (QPoint corner : {QPoint(0, 0), QPoint(99, 0), QPoint(0, 99), QPoint(99, 99)})
        EXPECT_EQ(mask.pixel(corner), qRgb(255, 255, 255));
    EXPECT_EQ(mask.pixel(50, 55), qRgb(0, 0, 0));
}

TEST(SpritePictures, MaskAndSpriteBlocksKeepTheSpriteOnBlackAndTheBackgroundOnWhite) {
    TImage sprite, mask;
    sprite.SetPicture(QPixmap(kSkin + "mine1.bmp"));
    mask.SetPicture(QPixmap(kSkin + "mine2.bmp"));
    TBitmap scene(130, 130);
    for (int band = 0; band <= 130 / 30; ++band) {
        scene.Canvas().Brush.Color = BandColor(band);
        scene.Canvas().FillRect(Rect(0, 30 * band, 130, 30 * band + 30));
    }
    TBitmap background(130, 130);
    BitBlt(background.Canvas(), 0, 0, 130, 130, scene.Canvas(), 0, 0, SRCCOPY);

    constexpr int x0 = 12, y0 = 7;
    BitBlt(scene.Canvas(), x0, y0, kSpriteBlock, kSpriteBlock, mask.Canvas(), 0, 0, SRCAND);
    BitBlt(scene.Canvas(), x0, y0, kSpriteBlock, kSpriteBlock, sprite.Canvas(), 0, 0, SRCPAINT);
    for (int y = 0; y < 130; ++y)
        for (int x = 0; x < 130; ++x) {
            const int sx = x - x0, sy = y - y0;
            const bool inPicture = sx >= 0 && sx < 100 && sy >= 0 && sy < 100;
            const bool opaque = inPicture && At(mask.Canvas(), sx, sy) == clBlack;
            const TColor expected =
                opaque ? At(sprite.Canvas(), sx, sy) : At(background.Canvas(), x, y);
            ASSERT_EQ(At(scene.Canvas(), x, y), expected) << x << ", " << y;
        }
}
