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

ColorConverter::ColorConverter(const PixelFormat& format)
    : r_(Describe(format.rMask)), g_(Describe(format.gMask)), b_(Describe(format.bMask)),
      format_(format) {}

ColorConverter::Channel ColorConverter::Describe(DWORD mask) {
    if (!mask)
        return {};
    const int shift = std::countr_zero(mask);
    return {shift, std::popcount(mask)};
}

DWORD ColorConverter::Expand(DWORD value, const Channel& channel) {
    if (channel.bits == 0)
        return 0;
    value = (value >> channel.shift) & ((1u << channel.bits) - 1);
    if (channel.bits >= 8)
        return value >> (channel.bits - 8);
    // Replicate the top bits so full intensity maps to 255.
    DWORD result = value << (8 - channel.bits);
    for (int filled = channel.bits; filled < 8; filled += channel.bits)
        result |= result >> channel.bits;
    return result & 0xFF;
}

DWORD ColorConverter::ToRGB(DWORD pixel, const DWORD* palette) const {
    if (format_.Palettized())
        return palette ? palette[pixel & 0xFF] & 0xFFFFFF : 0;
    return Expand(pixel, r_) << 16 | Expand(pixel, g_) << 8 | Expand(pixel, b_);
}

DWORD ColorConverter::FromRGB(DWORD rgb) const {
    auto pack = [](DWORD value8, const Channel& channel) -> DWORD {
        if (channel.bits == 0)
            return 0;
        const DWORD value =
            channel.bits >= 8 ? value8 << (channel.bits - 8) : value8 >> (8 - channel.bits);
        return value << channel.shift;
    };
    DWORD pixel = pack((rgb >> 16) & 0xFF, r_) | pack((rgb >> 8) & 0xFF, g_) | pack(rgb & 0xFF, b_);
    return pixel | format_.alphaMask; // opaque
}

PaletteMatcher::PaletteMatcher(const DWORD* palette) : palette_(palette) {
    // The first entry of a colour wins, as a search from the start would find it.
    for (int i = 255; i >= 0; --i)
        exact_[palette[i] & 0xFFFFFF] = static_cast<BYTE>(i);
}

BYTE PaletteMatcher::Nearest(DWORD rgb) {
    const int key =
        static_cast<int>(((rgb >> 9) & 0x7C00) | ((rgb >> 6) & 0x3E0) | ((rgb >> 3) & 0x1F));
    // Exact colours are matched exactly; the cache only serves the nearest-colour search.
    if (auto it = exact_.find(rgb & 0xFFFFFF); it != exact_.end())
        return it->second;
    if (cached_[key])
        return static_cast<BYTE>(cache_[key]);
    const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    int best = 0, bestDistance = INT_MAX;
    for (int i = 0; i < 256; ++i) {
        const int dr = int((palette_[i] >> 16) & 0xFF) - r;
        const int dg = int((palette_[i] >> 8) & 0xFF) - g;
        const int db = int(palette_[i] & 0xFF) - b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    cached_[key] = true;
    cache_[key] = best;
    return static_cast<BYTE>(best);
}

} // namespace directx
