// Pixel formats: where each format's channels sit, colours through pixels and back, and which
// palette entry a colour is drawn with on an 8-bit surface.
#include "directx/PixelFormat.h"

#include "directx/Direct3DOffer.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace directx;

namespace {

struct FormatCase {
    const char* name;
    PixelFormat format;
    const char* channels; // shift/bits of red, green, blue and alpha
    DWORD grey;           // the pixel of 0x804020, opaque
};

const FormatCase kFormats[] = {
    {"5-6-5", PixelFormat::Masks(16, 0xF800, 0x07E0, 0x1F), "11/5 5/6 0/5 32/0", 0x8204},
    {"5-5-5", PixelFormat::Masks(16, 0x7C00, 0x03E0, 0x1F), "10/5 5/5 0/5 32/0", 0x4104},
    {"1-5-5-5", PixelFormat::Masks(16, 0x7C00, 0x3E0, 0x1F, 0x8000), "10/5 5/5 0/5 15/1", 0xC104},
    {"4-4-4-4", PixelFormat::Masks(16, 0xF00, 0xF0, 0xF, 0xF000), "8/4 4/4 0/4 12/4", 0xF842},
    {"8-8-8", PixelFormat::Masks(24, 0xFF0000, 0xFF00, 0xFF), "16/8 8/8 0/8 32/0", 0x804020},
    {"x-8-8-8", PixelFormat::Masks(32, 0xFF0000, 0xFF00, 0xFF), "16/8 8/8 0/8 32/0", 0x804020},
    {"8-8-8-8", PixelFormat::Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u), "16/8 8/8 0/8 24/8",
     0xFF804020},
};

} // namespace

TEST(PixelFormat, EveryFormatConvertsColoursThroughItsChannelsWithRounding) {
    for (const FormatCase& c : kFormats) {
        SCOPED_TRACE(c.name);
        const PixelFormat& f = c.format;
        std::string channels;
        for (const DWORD mask : {f.rMask, f.gMask, f.bMask, f.alphaMask}) {
            const MaskChannel ch = MaskChannel::Of(mask);
            channels += std::to_string(ch.shift) + "/" + std::to_string(ch.bits) + " ";
        }
        EXPECT_EQ(channels, std::string(c.channels) + " ");
        const ColorConverter converter(f);
        EXPECT_EQ(converter.FromRGB(0x804020), c.grey);
        // Every pixel comes back from its colour unchanged.
        for (std::uint64_t p = 0; p <= f.ColorBits(); p += f.bitsPerPixel == 16 ? 1 : 0x10101) {
            const DWORD pixel = static_cast<DWORD>(p);
            ASSERT_EQ(converter.FromArgb(converter.ToArgb(pixel)), pixel) << std::hex << pixel;
        }
        // Every channel value comes back from its pixel within half a step (rounding).
        const std::pair<DWORD, int> masks[] = {
            {f.bMask, 0}, {f.gMask, 8}, {f.rMask, 16}, {f.alphaMask, 24}};
        for (const auto& [mask, at] : masks) {
            const MaskChannel ch = MaskChannel::Of(mask).TopEight();
            for (DWORD v = 0; v < 256 && ch.bits; ++v) {
                const DWORD back = converter.ToArgb(converter.FromArgb(v * 0x01010101u)) >> at;
                ASSERT_LE(std::abs(double(back & 0xFF) - double(v)), 127.5 / ch.Max() + 0.5)
                    << at << " " << v;
            }
        }
        // Without alpha bits a pixel reads as opaque.
        EXPECT_EQ(converter.ToArgb(0) >> 24, f.alphaMask ? 0u : 0xFFu);
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

TEST(PixelFormat, PaletteColoursMatchThemselvesOthersTheWeightedNearestOfTheirCell) {
    std::vector<DWORD> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[i] = CubeColor(i);
    EXPECT_EQ(ColorConverter(PixelFormat::ForDisplay(8)).ToRGB(0xE0, palette.data()), 0xFF0000u);
    EXPECT_EQ(CubePalette(0x40)[0x1F].peBlue + CubePalette(0x40)[0x1F].peFlags, 0xFF + 0x40);
    palette[200] = palette[3]; // a repeated colour: the first entry wins
    palette[10] = 0x636D63;    // nearer to 0x636363 by plain distance, but off in green
    palette[11] = 0x63636F;    // nearer once green weighs more than blue
    const PaletteMatcher matcher(palette.data());
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(matcher.Nearest(palette[i]), i == 200 ? 3 : i) << i;
    EXPECT_EQ(matcher.Nearest(0x646464), 11);
    // Colours of one cell get one answer, whatever order they come in.
    for (const DWORD first : {0x616161u, 0xFF656565u}) {
        const PaletteMatcher fresh(palette.data());
        EXPECT_EQ(fresh.Nearest(first), 11);
        EXPECT_EQ(fresh.Nearest(first ^ 0xFF040404u), 11);
    }
}

TEST(PixelFormat, APixelIsStoredLowestByteFirstInItsOwnBytesOnly) {
    const struct {
        int bytes;
        std::uint32_t value, kept; // value stored, value read back
    } cases[] = {{1, 0xA1B2C3D4, 0xD4},
                 {2, 0xA1B2C3D4, 0xC3D4},
                 {3, 0xA1B2C3D4, 0xB2C3D4},
                 {4, 0xA1B2C3D4, 0xA1B2C3D4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        BYTE at[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        StorePixel(at + 1, c.bytes, c.value);
        EXPECT_EQ(at[0], 0xEE);
        for (int i = 0; i < c.bytes; ++i)
            EXPECT_EQ(at[1 + i], (c.value >> (8 * i)) & 0xFF) << i;
        EXPECT_EQ(at[1 + c.bytes], 0xEE); // nothing past the pixel
        EXPECT_EQ(LoadPixel(at + 1, c.bytes), c.kept);
    }
    BYTE three[3];
    StorePixel<3>(three, 0x123456);
    EXPECT_EQ(LoadPixel<3>(three), 0x123456u);
    EXPECT_EQ(three[0], 0x56);
}
