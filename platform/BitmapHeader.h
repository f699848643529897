#pragma once
// The headers at the start of a BMP file: the 14-byte file header, then an info header of
// either the old 12-byte "core" layout or the 40-byte (or longer) Windows layout.
#include <cstddef>
#include <cstdint>
#include <optional>

struct BitmapHeader {
    std::uint32_t offBits = 0;  // where the pixel rows start, from the file's start
    std::uint32_t infoSize = 0; // 12: the core layout; otherwise the Windows one
    std::int32_t width = 0;
    std::int32_t height = 0; // negative: the rows are stored top-down
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0; // 0 in a core header, which has none
};

// The file header's size, and the most a caller needs to read for ReadBitmapHeader.
inline constexpr std::size_t kBitmapFileHeaderSize = 14;
inline constexpr std::size_t kBitmapHeadersSize = 54;

// Whether the bytes start with a BMP file's "BM" mark.
bool IsBitmapFile(const unsigned char* bytes, std::size_t size);

// The headers of the BMP file that starts at bytes; nothing when it does not start with "BM"
// or is too short for its info header's fields.
std::optional<BitmapHeader> ReadBitmapHeader(const unsigned char* bytes, std::size_t size);
