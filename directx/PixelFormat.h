#pragma once
// Pixel formats of surfaces: 8-bit palettised, 16-bit (5-6-5 and the other 16-bit masks),
// 24-bit and 32-bit RGB, and Z-buffer depths; and the conversions to and from 0x00RRGGBB that
// presenting and device contexts need.
#include "ddraw.h"

#include <optional>
#include <unordered_map>

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

    // The display's format at a depth of 8, 16, 24 or 32 bits.
    static PixelFormat ForDisplay(int bitsPerPixel);
    // A Z-buffer of 16, 24 or 32 bits, each depth stored in as many bits as it has.
    static PixelFormat ForDepthBuffer(int bitsPerPixel);
    // The format a caller describes; empty when it is not one the layer can hold.
    static std::optional<PixelFormat> FromDD(const DDPIXELFORMAT& format);
};

// Converts raw pixels to 0x00RRGGBB and back, channel by channel through the masks.
class ColorConverter {
public:
    explicit ColorConverter(const PixelFormat& format);
    DWORD ToRGB(DWORD pixel, const DWORD* palette) const;
    DWORD FromRGB(DWORD rgb) const;

private:
    struct Channel {
        int shift = 0;
        int bits = 0;
    };
    static Channel Describe(DWORD mask);
    static DWORD Expand(DWORD value, const Channel& channel);
    Channel r_, g_, b_;
    PixelFormat format_;
};

// Maps colours to the nearest entry of a palette, remembering answers for speed.
class PaletteMatcher {
public:
    explicit PaletteMatcher(const DWORD* palette);
    BYTE Nearest(DWORD rgb);

private:
    const DWORD* palette_;
    std::unordered_map<DWORD, BYTE> exact_;
    int cache_[1 << 15] = {};
    bool cached_[1 << 15] = {};
};

} // namespace directx
