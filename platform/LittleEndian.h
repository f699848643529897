#pragma once
// Little-endian fields of the files the program reads (archives, BMP files), whatever the
// host's byte order. The caller has checked that the bytes are there.
#include <cstdint>

inline std::uint16_t ReadLE16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t ReadLE32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
