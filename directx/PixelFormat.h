#pragma once
// Pixel formats of surfaces and textures: 8-bit palettised, 16-bit (5-6-5, 5-5-5 and the
// masks with alpha such as 4-4-4-4 and 1-5-5-5), 24-bit and 32-bit RGB, and Z-buffer depths;
// the one conversion between pixels and colours, the one palette matcher and the 3-3-2
// colour cube, for the DirectDraw and Direct3D objects, the rasteriser and the engine; and
// the one way a pixel of 1 to 4 bytes is read from and written to memory.
#include "ddraw.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

namespace directx {

struct PixelFormat {
    int bitsPerPixel = 16;
    DWORD flags = DDPF_RGB;
    DWORD rMask = 0xF800;
    DWORD gMask = 0x07E0;
    DWORD bMask = 0x001F;
    DWORD alphaMask = 0;
    int depthBits = 0; // Z-buffers: the depth precision

    int BytesPerPixel() const { return (bitsPerPixel + 7) / 8; }
    bool Palettized() const { return (flags & DDPF_PALETTEINDEXED8) != 0; }
    bool IsZBuffer() const { return (flags & DDPF_ZBUFFER) != 0; }
    DDPIXELFORMAT ToDD() const;
    // The mask of the bits that make up a colour (32-bit surfaces carry an unused byte).
    DWORD ColorBits() const;
    // The layout a window or device context takes these pixels in directly, if there is one.
    std::optional<TPixelLayout> DirectLayout() const;

    friend bool operator==(const PixelFormat&, const PixelFormat&) = default;

    // Palettised 8-bit pixels when `bitsPerPixel` is 8, otherwise RGB pixels with these masks
    // (alpha pixels when alphaMask is set).
    static PixelFormat Masks(int bitsPerPixel, DWORD rMask, DWORD gMask, DWORD bMask,
                             DWORD alphaMask = 0);
    // The display's format at a depth of 8, 16, 24 or 32 bits.
    static PixelFormat ForDisplay(int bitsPerPixel);
    // A Z-buffer of 16, 24 or 32 bits, each depth stored in as many bits as it has.
    static PixelFormat ForDepthBuffer(int bitsPerPixel);
    // The format a caller describes; empty when it is not one the layer can hold.
    static std::optional<PixelFormat> FromDD(const DDPIXELFORMAT& format);
};

// Where a channel mask sits: the number of zero bits below it (32 for an empty mask) and the
// length of the run of set bits from there.
struct MaskChannel {
    int shift = 32;
    int bits = 0;

    static constexpr MaskChannel Of(DWORD mask) {
        if (mask == 0)
            return {};
        const int shift = std::countr_zero(mask);
        return {shift, std::countr_one(mask >> shift)};
    }
    // The channel's top eight bits when it is wider than eight.
    constexpr MaskChannel TopEight() const {
        return bits > 8 ? MaskChannel{shift + bits - 8, 8} : *this;
    }
    constexpr DWORD Max() const { return bits == 0 ? 0 : (1u << bits) - 1; }
};

// Converts raw pixels of a masked format to 0xAARRGGBB and back through small tables, so
// it can serve inner loops. Every channel is scaled with rounding both ways (a channel
// value v of n bits stands for round(v * 255 / (2^n - 1))), so a pixel converted to a
// colour and back is the pixel again. Channels wider than eight bits keep their top eight;
// a format without alpha reads as opaque.
class ColorConverter {
public:
    ColorConverter() = default;
    explicit ColorConverter(const PixelFormat& format);

    std::uint32_t ToArgb(std::uint32_t pixel) const {
        return Get(pixel, 0) | (Get(pixel, 1) << 8) | (Get(pixel, 2) << 16) | (Get(pixel, 3) << 24);
    }
    std::uint32_t FromArgb(std::uint32_t argb) const {
        return pack_[0][argb & 0xFF] | pack_[1][(argb >> 8) & 0xFF] |
               pack_[2][(argb >> 16) & 0xFF] | pack_[3][argb >> 24];
    }
    // The mask of channel c (0 blue, 1 green, 2 red, 3 alpha) as converted.
    std::uint32_t Mask(int c) const { return channel_[c].Max() << channel_[c].shift; }

    // 0x00RRGGBB of a pixel; a palettised pixel is looked up in the palette (black without
    // one).
    DWORD ToRGB(DWORD pixel, const DWORD* palette) const;
    // The opaque pixel of a 0x00RRGGBB colour (for masked formats).
    DWORD FromRGB(DWORD rgb) const { return FromArgb(0xFF000000u | rgb); }

private:
    std::uint32_t Get(std::uint32_t pixel, int c) const {
        return unpack_[c][(pixel >> channel_[c].shift) & channel_[c].Max()];
    }
    bool palettized_ = false;
    MaskChannel channel_[4] = {{0, 0}, {0, 0}, {0, 0}, {0, 0}};
    std::array<BYTE, 256> unpack_[4]{};
    std::array<std::uint32_t, 256> pack_[4]{};
};

// Maps 0x00RRGGBB colours (the top byte is ignored) to entries of a 256-colour palette. A
// colour of the palette gives its first entry; any other gives the entry nearest to its
// 15-bit cell (the top five bits of each channel), by a distance that weighs green over red
// over blue as the eye does. Cells are worked out when first asked for, so a matcher is cheap
// to make for a few colours; it is not for use from two threads at once.
class PaletteMatcher {
public:
    PaletteMatcher() = default;
    explicit PaletteMatcher(const DWORD* palette);

    BYTE Nearest(DWORD rgb) const {
        const std::uint16_t cell = cells_[Cell(rgb)];
        if ((cell & (kKnown | kHoldsEntries)) == kKnown)
            return static_cast<BYTE>(cell);
        return Slow(rgb);
    }

private:
    // A cell without palette colours: the low byte is its nearest entry once kKnown is set.
    // A cell with some: the low byte is the first entry in it, kSeveral if there are others.
    static constexpr std::uint16_t kKnown = 0x100;
    static constexpr std::uint16_t kHoldsEntries = 0x200;
    static constexpr std::uint16_t kSeveral = 0x400;
    static unsigned Cell(DWORD rgb) {
        return ((rgb >> 9) & 0x7C00) | ((rgb >> 6) & 0x03E0) | ((rgb >> 3) & 0x1F);
    }
    BYTE Slow(DWORD rgb) const;
    BYTE NearestToCell(unsigned cell) const;
    std::array<DWORD, 256> colors_{};
    std::unordered_map<DWORD, BYTE> exact_; // the colours of cells with several
    mutable std::vector<std::uint16_t> cells_ = std::vector<std::uint16_t>(1 << 15, 0);
    mutable std::unordered_map<unsigned, BYTE> nearestOfHolding_;
};

// Entry i of the 3-3-2 colour cube (red in the top three bits, blue in the low two), black
// first and white last, as 0x00RRGGBB.
constexpr DWORD CubeColor(int index) {
    const DWORD r = ((index >> 5) & 7) * 255 / 7;
    const DWORD g = ((index >> 2) & 7) * 255 / 7;
    const DWORD b = (index & 3) * 255 / 3;
    return (r << 16) | (g << 8) | b;
}
// The cube as palette entries, each with the given flags.
std::array<PALETTEENTRY, 256> CubePalette(BYTE flags = 0);

// One pixel of BPP bytes (1 to 4) read from or written to memory, lowest byte first; the
// value is the raw pixel, its unused high bytes zero.
template <int BPP> inline std::uint32_t LoadPixel(const BYTE* p) {
    static_assert(BPP >= 1 && BPP <= 4);
    if constexpr (BPP == 1) {
        return p[0];
    } else if constexpr (BPP == 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    } else if constexpr (BPP == 3) {
        return p[0] | (p[1] << 8) | (p[2] << 16);
    } else {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
}

template <int BPP> inline void StorePixel(BYTE* p, std::uint32_t v) {
    static_assert(BPP >= 1 && BPP <= 4);
    if constexpr (BPP == 1) {
        p[0] = static_cast<BYTE>(v);
    } else if constexpr (BPP == 2) {
        const std::uint16_t w = static_cast<std::uint16_t>(v);
        std::memcpy(p, &w, 2);
    } else if constexpr (BPP == 3) {
        p[0] = static_cast<BYTE>(v);
        p[1] = static_cast<BYTE>(v >> 8);
        p[2] = static_cast<BYTE>(v >> 16);
    } else {
        std::memcpy(p, &v, 4);
    }
}

// The same with the size known only at run time (anything but 1, 2 or 3 is taken as 4).
inline std::uint32_t LoadPixel(const BYTE* p, int bytes) {
    switch (bytes) {
    case 1:
        return LoadPixel<1>(p);
    case 2:
        return LoadPixel<2>(p);
    case 3:
        return LoadPixel<3>(p);
    default:
        return LoadPixel<4>(p);
    }
}

inline void StorePixel(BYTE* p, int bytes, std::uint32_t v) {
    switch (bytes) {
    case 1:
        return StorePixel<1>(p, v);
    case 2:
        return StorePixel<2>(p, v);
    case 3:
        return StorePixel<3>(p, v);
    default:
        return StorePixel<4>(p, v);
    }
}

} // namespace directx
