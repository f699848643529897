#include "tools/SceneArt.h"

#include "engine/DArc.h"

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes LoadFile(const std::string& path) {
    TMemoryStream s;
    s.LoadFromFile(path);
    return s.TakeBytes();
}

// Decoded as the program decodes bitmaps, from the archive the build made.
QImage FromArchive(const std::string& entry) {
    const std::unique_ptr<TMemoryStream> bytes = OpenArchiveEntry(ZELKA_DAT_PATH, entry);
    QImage image = QImage::fromData(bytes->Memory(), static_cast<int>(bytes->Size()), "BMP");
    return image.convertToFormat(QImage::Format_RGB32);
}

bool Black(QRgb c) {
    return (c & 0xFFFFFF) == 0;
}

// The 5-6-5 value a 16-bit surface stores, with truncating channel conversion, the
// harshest on dark colours.
int Pixel565(QRgb c) {
    return (qRed(c) >> 3) << 11 | (qGreen(c) >> 2) << 5 | (qBlue(c) >> 3);
}

double Difference(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
           std::abs(qBlue(a) - qBlue(b));
}

} // namespace

TEST(ScenePictures, CommittedSourcesAreTheGeneratorsOutput) {
    ASSERT_EQ(ScenePictures().size(), 4u);
    for (const ScenePicture& picture : ScenePictures())
        EXPECT_TRUE(picture.Draw().EncodeBmp() ==
                    LoadFile(std::string(ZELKA_RESOURCES_DIR) + "/" + picture.FileName))
            << picture.FileName << " differs from what scenegen draws; run scenegen resources";
}

TEST(ScenePictures, TheBuiltArchiveHoldsThemPacked) {
    TFileStream file(ZELKA_DAT_PATH, TFileStream::fmOpenRead);
    const TQDADirectory directory = ReadArchiveDirectory(file);
    EXPECT_TRUE(directory.Packed);
    const char* names[] = {"samp4.bmp", "boss2.bmp", "samp3.bmp", "samp5.bmp"};
    ASSERT_EQ(directory.Entries.size(), 4u);
    std::uint64_t plain = 0, packed = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(directory.Entries[i].Name, names[i]);
        EXPECT_EQ(OpenArchiveEntry(ZELKA_DAT_PATH, names[i])->Bytes(),
                  LoadFile(std::string(ZELKA_RESOURCES_DIR) + "/" + names[i]))
            << names[i];
        plain += directory.Entries[i].Size;
        packed += directory.Entries[i].PackedSize;
    }
    EXPECT_LT(packed * 10, plain * 4) << "packed to " << packed << " of " << plain;
}

TEST(ScenePictures, BlackOnlyWhereTransparent) {
    struct Case {
        const char* entry;
        Picture (*draw)();
        int width, height;
        double minClear, maxClear; // share of transparent pixels
    } cases[] = {
        {"samp4.bmp", DrawFloorTile, 100, 100, 0.0, 0.0},
        {"samp3.bmp", DrawCloudTile, 100, 100, 0.25, 0.75},
        {"boss2.bmp", DrawBoss, 256, 256, 0.30, 0.80},
        {"samp5.bmp", DrawSpriteSheet, 192, 32, 0.40, 0.90},
    };
    for (const Case& c : cases) {
        const QImage image = FromArchive(c.entry);
        ASSERT_EQ(image.size(), QSize(c.width, c.height)) << c.entry;
        const Picture picture = c.draw();
        int clear = 0, wrong = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const QRgb p = image.pixel(x, y);
                clear += Black(p);
                // Exactly black (the colour key) where transparent; elsewhere never a colour
                // the 16-bit surface turns into the key.
                wrong += picture.Opaque(x, y) ? Pixel565(p) == 0 : !Black(p);
            }
        EXPECT_EQ(wrong, 0) << c.entry;
        const double share = double(clear) / (c.width * c.height);
        EXPECT_GE(share, c.minClear) << c.entry;
        EXPECT_LE(share, c.maxClear) << c.entry;
    }
}

TEST(ScenePictures, TilesRepeatSeamlessly) {
    for (const char* entry : {"samp4.bmp", "samp3.bmp"}) {
        const QImage tile = FromArchive(entry);
        // Steps across the wrap (last column to first, last row to first) against steps
        // inside the tile: a seam shows up as a much larger step.
        double inside = 0, across = 0;
        int insideCount = 0, acrossCount = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) {
                const double right = Difference(tile.pixel(x, y), tile.pixel((x + 1) % 100, y));
                const double down = Difference(tile.pixel(x, y), tile.pixel(x, (y + 1) % 100));
                (x == 99 ? across : inside) += right;
                (x == 99 ? acrossCount : insideCount)++;
                (y == 99 ? across : inside) += down;
                (y == 99 ? acrossCount : insideCount)++;
            }
        EXPECT_LE(across / acrossCount, 1.5 * inside / insideCount + 4) << entry;
    }
}

TEST(ScenePictures, BossStandsOnTransparentSurroundings) {
    const QImage boss = FromArchive("boss2.bmp");
    int borderOpaque = 0;
    for (int i = 0; i < 256; ++i)
        borderOpaque += !Black(boss.pixel(i, 0)) + !Black(boss.pixel(i, 255)) +
                        !Black(boss.pixel(0, i)) + !Black(boss.pixel(255, i));
    EXPECT_EQ(borderOpaque, 0);
    EXPECT_TRUE(Black(boss.pixel(0, 0))); // the texture takes its colour key from here
    EXPECT_FALSE(Black(boss.pixel(128, 128)));
}

TEST(ScenePictures, SixDistinctSprites) {
    const QImage sheet = FromArchive("samp5.bmp");
    std::vector<std::vector<bool>> masks;
    for (int s = 0; s < 6; ++s) {
        std::vector<bool> mask;
        int opaque = 0, frame = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const bool on = !Black(sheet.pixel(32 * s + x, y));
                mask.push_back(on);
                opaque += on;
                frame += on && (x == 0 || y == 0 || x == 31 || y == 31);
            }
        EXPECT_GE(opaque, 150) << "sprite " << s;
        EXPECT_EQ(frame, 0) << "sprite " << s << " touches its cell's edge";
        masks.push_back(mask);
    }
    for (int a = 0; a < 6; ++a)
        for (int b = a + 1; b < 6; ++b) {
            int differing = 0;
            for (int i = 0; i < 32 * 32; ++i)
                differing += masks[a][i] != masks[b][i];
            EXPECT_GE(differing, 80) << "sprites " << a << " and " << b << " look alike";
        }
}
