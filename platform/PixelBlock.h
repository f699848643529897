#pragma once
// A block of pixels in memory: where its first row starts, how many bytes lie from one row to
// the next, and its size in pixels. It says nothing of what a pixel holds: whoever describes
// pixels (a blitter's bytes per pixel, the rasteriser's bit count and masks, a window's
// layout, a depth buffer's cell) adds that beside the block. The block does not own its
// memory.
#include <cstddef>
#include <cstdint>
#include <type_traits>

template <class Byte> struct BasicPixelBlock {
    static_assert(sizeof(Byte) == 1, "a block's memory is addressed in bytes");

    Byte* bits = nullptr;
    std::ptrdiff_t pitch = 0; // bytes from one row to the next; negative for a bottom-up block
    int width = 0;
    int height = 0;

    Byte* Row(std::ptrdiff_t y) const { return bits + y * pitch; }

    // Row y as pixels of type Pixel (std::uint16_t, std::uint32_t, ...), const where the
    // block's memory is.
    template <class Pixel> auto Pixels(std::ptrdiff_t y) const {
        using Shown = std::conditional_t<std::is_const_v<Byte>, const Pixel, Pixel>;
        return reinterpret_cast<Shown*>(Row(y));
    }

    bool Empty() const { return bits == nullptr || width <= 0 || height <= 0; }

    // The same pixels, read only.
    operator BasicPixelBlock<const Byte>() const requires(!std::is_const_v<Byte>) {
        return {bits, pitch, width, height};
    }
};

using PixelBlock = BasicPixelBlock<std::uint8_t>;
using ConstPixelBlock = BasicPixelBlock<const std::uint8_t>;
