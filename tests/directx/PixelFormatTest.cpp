// Pixel formats: where each format's channels sit, colours through pixels and back, and which
// palette entry a colour is drawn with on an 8-bit surface.
#include "directx/PixelFormat.h"

#include "directx/Direct3DOffer.h"
#include "directx/Rasterizer.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

using namespace directx;

namespace {

struct FormatCase {
    const char* name;
    PixelFormat format;
    MaskChannel r, g, b, a;
    DWORD opaqueGrey; // the pixel of 0x804020, opaque, with rounding
};

const FormatCase kFormats[] = {
    {"5-6-5", PixelFormat::Masks(16, 0xF800, 0x07E0, 0x001F), {11, 5}, {5, 6}, {0, 5}, {}, 0x8204},
    {"5-5-5", PixelFormat::Masks(16, 0x7C00, 0x03E0, 0x001F), {10, 5}, {5, 5}, {0, 5}, {}, 0x4104},
    {"1-5-5-5",
     PixelFormat::Masks(16, 0x7C00, 0x03E0, 0x001F, 0x8000),
     {10, 5},
     {5, 5},
     {0, 5},
     {15, 1},
     0xC104},
    {"4-4-4-4",
     PixelFormat::Masks(16, 0x0F00, 0x00F0, 0x000F, 0xF000),
     {8, 4},
     {4, 4},
     {0, 4},
     {12, 4},
     0xF842},
    {"8-8-8",
     PixelFormat::Masks(24, 0xFF0000, 0xFF00, 0xFF),
     {16, 8},
     {8, 8},
     {0, 8},
     {},
     0x804020},
    {"x-8-8-8",
     PixelFormat::Masks(32, 0xFF0000, 0xFF00, 0xFF),
     {16, 8},
     {8, 8},
     {0, 8},
     {},
     0x804020},
    {"8-8-8-8",
     PixelFormat::Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000),
     {16, 8},
     {8, 8},
     {0, 8},
     {24, 8},
     0xFF804020},
};

std::vector<DWORD> Cube() {
    std::vector<DWORD> colors(256);
    for (int i = 0; i < 256; ++i)
        colors[i] = CubeColor(i);
    return colors;
}

} // namespace

TEST(PixelFormat, EveryFormatConvertsColoursThroughItsChannelsWithRounding) {
    for (const FormatCase& c : kFormats) {
        SCOPED_TRACE(c.name);
        const PixelFormat& f = c.format;
        const MaskChannel got[] = {MaskChannel::Of(f.rMask), MaskChannel::Of(f.gMask),
                                   MaskChannel::Of(f.bMask), MaskChannel::Of(f.alphaMask)};
        const MaskChannel want[] = {c.r, c.g, c.b, c.a};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(got[i].shift, want[i].shift) << i;
            EXPECT_EQ(got[i].bits, want[i].bits) << i;
        }
        const ColorConverter converter(f);
        EXPECT_EQ(converter.FromRGB(0x804020), c.opaqueGrey);
        // Every pixel comes back from its colour unchanged.
        const DWORD colorBits = f.ColorBits();
        for (std::uint64_t p = 0; p <= colorBits; p += f.bitsPerPixel == 16 ? 1 : 0x10101) {
            const DWORD pixel = static_cast<DWORD>(p);
            ASSERT_EQ(converter.FromArgb(converter.ToArgb(pixel)), pixel) << std::hex << pixel;
        }
        // Every channel value lands on the nearest step: within half a step of itself.
        const int at[] = {16, 8, 0, 24};
        for (int i = 0; i < 4; ++i) {
            if (!want[i].bits)
                continue;
            const double step = 255.0 / want[i].Max();
            for (DWORD v = 0; v < 256; ++v) {
                const DWORD back =
                    (converter.ToArgb(converter.FromArgb(v * 0x01010101u)) >> at[i]) & 0xFF;
                ASSERT_LE(std::abs(double(back) - double(v)), step / 2 + 0.5) << i << " " << v;
            }
        }
        // Without alpha bits a pixel reads as opaque.
        EXPECT_EQ(converter.ToArgb(0) >> 24, 0xFFu * (c.a.bits == 0));
    }
}

TEST(PixelFormat, TheTableHoldsEveryFormatDevicesAndDisplaysOffer) {
    std::vector<DDPIXELFORMAT> offered =
        Direct3DOffer::Default().Device(DeviceKind::RGB).textureFormats;
    for (const int bits : {16, 24, 32})
        offered.push_back(PixelFormat::ForDisplay(bits).ToDD());
    for (const DDPIXELFORMAT& dd : offered) {
        const auto format = PixelFormat::FromDD(dd);
        ASSERT_TRUE(format.has_value()) << dd.dwRGBBitCount;
        bool listed = format->Palettized();
        for (const FormatCase& c : kFormats)
            listed = listed || c.format == *format;
        EXPECT_TRUE(listed) << std::hex << dd.dwRBitMask << " " << dd.dwRGBAlphaBitMask;
    }
}

TEST(PixelFormat, EmptyMaskSitsPastTheTopAndPalettisedPixelsReadThroughThePalette) {
    EXPECT_EQ(MaskChannel::Of(0).shift, 32);
    EXPECT_EQ(MaskChannel::Of(0).bits, 0);
    const std::vector<DWORD> cube = Cube();
    const ColorConverter converter(PixelFormat::ForDisplay(8));
    EXPECT_EQ(converter.ToRGB(0xE0, cube.data()), 0xFF0000u);
    EXPECT_EQ(converter.ToRGB(0x1F, nullptr), 0u);
    const auto entries = CubePalette(0x40);
    EXPECT_EQ(entries[0xFF].peRed + entries[0xFF].peGreen + entries[0xFF].peBlue, 3 * 255);
    EXPECT_EQ(entries[0x1C].peGreen, 255);
    EXPECT_EQ(entries[0x03].peBlue, 255);
    EXPECT_EQ(entries[7].peFlags, 0x40);
}

TEST(PixelFormat, PaletteColoursMatchThemselvesOthersTheWeightedNearestOfTheirCell) {
    std::vector<DWORD> palette = Cube();
    palette[200] = palette[3]; // a repeated colour: the first entry wins
    palette[10] = 0x636D63;    // nearer to 0x636363 by plain distance, but off in green
    palette[11] = 0x63636F;    // nearer once green weighs more than blue
    palette[12] = 0x636363;    // in the cell of 0x646464 (which is no entry itself)
    const PaletteMatcher matcher(palette.data());
    for (int i = 0; i < 256; ++i) {
        if (i != 200) {
            ASSERT_EQ(matcher.Nearest(palette[i]), i) << i;
        }
    }
    EXPECT_EQ(matcher.Nearest(palette[200]), 3);
    // Colours of one cell get one answer, whatever order they come in.
    EXPECT_EQ(matcher.Nearest(0x616161), 12);
    EXPECT_EQ(matcher.Nearest(0x656565), 12);
    const PaletteMatcher other(palette.data());
    EXPECT_EQ(other.Nearest(0x656565), 12);
    EXPECT_EQ(other.Nearest(0xFF616161), 12);
    palette[12] = 0x101010;
    const PaletteMatcher weighted(palette.data());
    EXPECT_EQ(weighted.Nearest(0x646464), 11);

    // Direct3D draws a colour into an 8-bit target with the index the matcher gives it.
    BYTE bits[4] = {};
    const RasterTarget target{bits, 4, 4, 1, PixelFormat::ForDisplay(8), palette.data()};
    Rasterizer rasterizer;
    for (const DWORD color : {0x646464u, 0xFF0000u, 0x123456u, palette[200], 0x808080u})
        EXPECT_EQ(rasterizer.PackColor(target, 0xFF000000u | color), weighted.Nearest(color))
            << std::hex << color;
}
