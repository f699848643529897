#pragma once
// How the fuzz targets split their input. Shared with the seed maker so that seeds and
// targets agree.
#include <cstddef>
#include <cstdint>

// An expansion input starts with three bytes of stated size (little-endian), so stated
// sizes stay below 16 MiB; the rest is the packed data.
inline constexpr std::size_t kSizePrefix = 3;
inline std::int32_t StatedSize(const std::uint8_t* data) {
    return data[0] | (data[1] << 8) | (data[2] << 16);
}

// Archive entries claiming more than this are left alone: a tiny packed input can really
// expand to gigabytes (pairs of pairs double at each level), which is a large file, not a
// fault, and would only slow the search down.
inline constexpr std::uint32_t kLargestEntryTried = 1u << 20;
// Entries read per archive input, besides the fixed names.
inline constexpr std::size_t kEntriesTried = 8;
