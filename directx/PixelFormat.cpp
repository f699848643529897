#include "PixelFormat.h"

#include <bit>
#include <climits>

namespace directx {

DDPIXELFORMAT PixelFormat::ToDD() const {
    DDPIXELFORMAT format{};
    format.dwSize = sizeof(DDPIXELFORMAT);
    format.dwFlags = flags;
    format.dwRGBBitCount = static_cast<DWORD>(IsZBuffer() ? depthBits : bitsPerPixel);
    format.dwRBitMask = rMask;
    format.dwGBitMask = gMask;
    format.dwBBitMask = bMask;
    format.dwRGBAlphaBitMask = alphaMask;
    return format;
}

DWORD PixelFormat::ColorBits() const {
    if (Palettized())
        return 0xFF;
    if (IsZBuffer())
        return depthBits >= 32 ? 0xFFFFFFFFu : ((1u << depthBits) - 1);
    return rMask | gMask | bMask | alphaMask;
}

std::optional<TPixelLayout> PixelFormat::DirectLayout() const {
    if (Palettized())
        return TPixelLayout::Indexed8;
    if (bitsPerPixel == 16 && rMask == 0xF800 && gMask == 0x07E0 && bMask == 0x001F)
        return TPixelLayout::RGB565;
    if (bitsPerPixel == 16 && rMask == 0x7C00 && gMask == 0x03E0 && bMask == 0x001F &&
        alphaMask == 0)
        return TPixelLayout::XRGB1555;
    if (bitsPerPixel == 24 && rMask == 0xFF0000 && gMask == 0xFF00 && bMask == 0xFF)
        return TPixelLayout::BGR888;
    if (bitsPerPixel == 32 && rMask == 0xFF0000 && gMask == 0xFF00 && bMask == 0xFF &&
        alphaMask == 0)
        return TPixelLayout::XRGB8888;
    return std::nullopt;
}

PixelFormat PixelFormat::Masks(int bitsPerPixel, DWORD rMask, DWORD gMask, DWORD bMask,
                               DWORD alphaMask) {
    if (bitsPerPixel == 8)
        return ForDisplay(8);
    return PixelFormat{bitsPerPixel, DDPF_RGB | (alphaMask ? DDPF_ALPHAPIXELS : 0u),
                       rMask,        gMask,
                       bMask,        alphaMask};
}

PixelFormat PixelFormat::ForDisplay(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 8:
        return PixelFormat{8, DDPF_RGB | DDPF_PALETTEINDEXED8, 0, 0, 0, 0};
    case 24:
        return PixelFormat{24, DDPF_RGB, 0xFF0000, 0xFF00, 0xFF, 0};
    case 32:
        return PixelFormat{32, DDPF_RGB, 0xFF0000, 0xFF00, 0xFF, 0};
    default:
        return PixelFormat{};
    }
}

PixelFormat PixelFormat::ForDepthBuffer(int bitsPerPixel) {
    return PixelFormat{bitsPerPixel, DDPF_ZBUFFER, 0, 0, 0, 0, bitsPerPixel};
}

std::optional<PixelFormat> PixelFormat::FromDD(const DDPIXELFORMAT& dd) {
    if (dd.dwFlags & DDPF_ZBUFFER) {
        const DWORD depth = dd.dwZBufferBitDepth;
        if (depth != 16 && depth != 24 && depth != 32)
            return std::nullopt;
        return ForDepthBuffer(static_cast<int>(depth));
    }
    if (dd.dwFlags & (DDPF_FOURCC | DDPF_PALETTEINDEXED4))
        return std::nullopt;
    if (dd.dwFlags & DDPF_PALETTEINDEXED8) {
        if (dd.dwRGBBitCount != 8)
            return std::nullopt;
        return ForDisplay(8);
    }
    if (!(dd.dwFlags & DDPF_RGB))
        return std::nullopt;
    const DWORD bits = dd.dwRGBBitCount;
    if (bits != 16 && bits != 24 && bits != 32)
        return std::nullopt;
    const DWORD alpha = (dd.dwFlags & DDPF_ALPHAPIXELS) ? dd.dwRGBAlphaBitMask : 0;
    const DWORD all = dd.dwRBitMask | dd.dwGBitMask | dd.dwBBitMask | alpha;
    const std::uint64_t limit = (std::uint64_t{1} << bits) - 1;
    // Masks must be present, inside the pixel, and not overlap.
    if (!dd.dwRBitMask || !dd.dwGBitMask || !dd.dwBBitMask || all > limit ||
        std::popcount(dd.dwRBitMask) + std::popcount(dd.dwGBitMask) + std::popcount(dd.dwBBitMask) +
                std::popcount(alpha) !=
            std::popcount(all))
        return std::nullopt;
    if (bits == 24 &&
        (dd.dwRBitMask != 0xFF0000 || dd.dwGBitMask != 0xFF00 || dd.dwBBitMask != 0xFF))
        return std::nullopt;
    return PixelFormat{static_cast<int>(bits), dd.dwFlags & (DDPF_RGB | DDPF_ALPHAPIXELS),
                       dd.dwRBitMask,          dd.dwGBitMask,
                       dd.dwBBitMask,          alpha};
}

ColorConverter::ColorConverter(const PixelFormat& format) : palettized_(format.Palettized()) {
    const DWORD masks[4] = {format.bMask, format.gMask, format.rMask, format.alphaMask};
    for (int c = 0; c < 4; ++c) {
        MaskChannel ch = MaskChannel::Of(palettized_ ? 0 : masks[c]).TopEight();
        if (ch.bits == 0)
            ch.shift = 0;
        channel_[c] = ch;
        const DWORD max = ch.Max();
        if (max == 0)
            unpack_[c][0] = c == 3 ? 255 : 0; // no alpha: opaque
        for (DWORD v = 0; max != 0 && v <= max; ++v)
            unpack_[c][v] = static_cast<BYTE>((v * 255 + max / 2) / max);
        for (DWORD v = 0; v < 256; ++v)
            pack_[c][v] = ((v * max + 127) / 255) << ch.shift;
    }
}

DWORD ColorConverter::ToRGB(DWORD pixel, const DWORD* palette) const {
    if (palettized_)
        return palette ? palette[pixel & 0xFF] & 0xFFFFFF : 0;
    return ToArgb(pixel) & 0xFFFFFF;
}

PaletteMatcher::PaletteMatcher(const DWORD* palette) {
    for (int i = 0; i < 256; ++i) {
        colors_[i] = palette[i] & 0xFFFFFF;
        std::uint16_t& cell = cells_[Cell(colors_[i])];
        if (!(cell & kHoldsEntries))
            cell = static_cast<std::uint16_t>(kHoldsEntries | i);
        else if (colors_[cell & 0xFF] != colors_[i])
            cell |= kSeveral;
    }
    // The first entry of a colour wins, as a search from the start would find it.
    for (int i = 255; i >= 0; --i)
        if (cells_[Cell(colors_[i])] & kSeveral)
            exact_[colors_[i]] = static_cast<BYTE>(i);
}

BYTE PaletteMatcher::Slow(DWORD rgb) const {
    rgb &= 0xFFFFFF;
    const unsigned at = Cell(rgb);
    std::uint16_t& cell = cells_[at];
    if (!(cell & kHoldsEntries)) {
        cell = static_cast<std::uint16_t>(kKnown | NearestToCell(at));
        return static_cast<BYTE>(cell);
    }
    if (colors_[cell & 0xFF] == rgb)
        return static_cast<BYTE>(cell);
    if (cell & kSeveral)
        if (auto it = exact_.find(rgb); it != exact_.end())
            return it->second;
    auto [it, added] = nearestOfHolding_.try_emplace(at, 0);
    if (added)
        it->second = NearestToCell(at);
    return it->second;
}

BYTE PaletteMatcher::NearestToCell(unsigned cell) const {
    // The cell's colour: each five-bit channel scaled to eight bits.
    const auto scale = [](unsigned v5) { return static_cast<int>((v5 * 255 + 15) / 31); };
    const int r = scale(cell >> 10), g = scale((cell >> 5) & 31), b = scale(cell & 31);
    int best = 0, bestDistance = INT_MAX;
    for (int i = 0; i < 256; ++i) {
        const int dr = static_cast<int>((colors_[i] >> 16) & 0xFF) - r;
        const int dg = static_cast<int>((colors_[i] >> 8) & 0xFF) - g;
        const int db = static_cast<int>(colors_[i] & 0xFF) - b;
        const int distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return static_cast<BYTE>(best);
}

std::array<PALETTEENTRY, 256> CubePalette(BYTE flags) {
    std::array<PALETTEENTRY, 256> entries{};
    for (int i = 0; i < 256; ++i) {
        const DWORD rgb = CubeColor(i);
        entries[i] = PALETTEENTRY{static_cast<BYTE>(rgb >> 16), static_cast<BYTE>(rgb >> 8),
                                  static_cast<BYTE>(rgb), flags};
    }
    return entries;
}

} // namespace directx
