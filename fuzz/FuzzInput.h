#pragma once
// How the fuzz targets split their input. Shared with the seed maker so that seeds and
// targets agree.
#include <cstddef>
#include <cstdint>

// An expansion input starts with four bytes of stated size (little-endian, any value, so
// negative sizes and sizes past the reader's bound are tried too); the rest is the packed
// data.
inline constexpr std::size_t kSizePrefix = 4;
inline std::int32_t StatedSize(const std::uint8_t* data) {
    return static_cast<std::int32_t>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                     (static_cast<std::uint32_t>(data[3]) << 24));
}

// Entries read per archive input, besides the fixed names.
inline constexpr std::size_t kEntriesTried = 8;
