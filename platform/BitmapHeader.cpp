#include "BitmapHeader.h"

#include "LittleEndian.h"

bool IsBitmapFile(const unsigned char* bytes, std::size_t size) {
    return size >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

std::optional<BitmapHeader> ReadBitmapHeader(const unsigned char* bytes, std::size_t size) {
    constexpr std::size_t kCoreEnd = 26; // file header, size, 16-bit width, height, planes, bits
    constexpr std::size_t kWindowsEnd =
        34; // file header, size, 32-bit width, height, …, compression
    if (!IsBitmapFile(bytes, size) || size < kCoreEnd)
        return std::nullopt;
    BitmapHeader header;
    header.offBits = ReadLE32(bytes + 10);
    header.infoSize = ReadLE32(bytes + 14);
    if (header.infoSize == 12) {
        header.width = ReadLE16(bytes + 18);
        header.height = ReadLE16(bytes + 20);
        header.bitCount = ReadLE16(bytes + 24);
        return header;
    }
    if (size < kWindowsEnd)
        return std::nullopt;
    header.width = static_cast<std::int32_t>(ReadLE32(bytes + 18));
    header.height = static_cast<std::int32_t>(ReadLE32(bytes + 22));
    header.bitCount = ReadLE16(bytes + 28);
    header.compression = ReadLE32(bytes + 30);
    return header;
}
