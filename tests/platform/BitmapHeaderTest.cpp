#include "platform/BitmapHeader.h"

#include "platform/LittleEndian.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

void Put(std::vector<unsigned char>& b, std::size_t at, std::uint32_t value, int bytes) {
    if (b.size() < at + bytes)
        b.resize(at + bytes);
    for (int i = 0; i < bytes; ++i)
        b[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The headers of a file with the given info-header size, its fields at their layout's places.
std::vector<unsigned char> Headers(std::uint32_t infoSize, std::int32_t width, std::int32_t height,
                                   std::uint16_t bits, std::uint32_t compression) {
    std::vector<unsigned char> b{'B', 'M'};
    Put(b, 10, 14 + infoSize, 4);
    Put(b, 14, infoSize, 4);
    if (infoSize == 12) {
        Put(b, 18, static_cast<std::uint32_t>(width), 2);
        Put(b, 20, static_cast<std::uint32_t>(height), 2);
        Put(b, 22, 1, 2);
        Put(b, 24, bits, 2);
    } else {
        Put(b, 18, static_cast<std::uint32_t>(width), 4);
        Put(b, 22, static_cast<std::uint32_t>(height), 4);
        Put(b, 26, 1, 2);
        Put(b, 28, bits, 2);
        Put(b, 30, compression, 4);
        b.resize(14 + infoSize);
    }
    return b;
}

TEST(LittleEndian, ReadsLowByteFirstWithoutSignExtension) {
    const unsigned char bytes[] = {0x78, 0x56, 0x34, 0x92};
    EXPECT_EQ(ReadLE16(bytes), 0x5678);
    EXPECT_EQ(ReadLE16(bytes + 2), 0x9234);
    EXPECT_EQ(ReadLE32(bytes), 0x92345678u);
}

TEST(BitmapHeader, ReadsEitherLayout) {
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        BitmapHeader expected;
    };
    const Case cases[] = {
        {"Windows layout", Headers(40, 320, 200, 24, 0), {54, 40, 320, 200, 24, 0}},
        {"top-down rows", Headers(40, 7, -5, 8, 1), {54, 40, 7, -5, 8, 1}},
        {"longer Windows header", Headers(108, 2, 3, 32, 3), {122, 108, 2, 3, 32, 3}},
        {"core layout", Headers(12, 640, 480, 4, 0), {26, 12, 640, 480, 4, 0}},
        {"core sizes are unsigned",
         Headers(12, 0xFFFF, 0x8000, 1, 0),
         {26, 12, 0xFFFF, 0x8000, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<BitmapHeader> header = ReadBitmapHeader(c.bytes.data(), c.bytes.size());
        ASSERT_TRUE(header);
        EXPECT_EQ(header->offBits, c.expected.offBits);
        EXPECT_EQ(header->infoSize, c.expected.infoSize);
        EXPECT_EQ(header->width, c.expected.width);
        EXPECT_EQ(header->height, c.expected.height);
        EXPECT_EQ(header->bitCount, c.expected.bitCount);
        EXPECT_EQ(header->compression, c.expected.compression);
    }
}

TEST(BitmapHeader, RefusesWhatIsNotThereOrNotABitmap) {
    std::vector<unsigned char> notBitmap = Headers(40, 1, 1, 24, 0);
    notBitmap[1] = 'A';
    const std::vector<unsigned char> windows = Headers(40, 1, 1, 24, 0);
    const std::vector<unsigned char> core = Headers(12, 1, 1, 24, 0);
    struct Case {
        const char* what;
        const std::vector<unsigned char>& bytes;
        std::size_t size;
    };
    const Case cases[] = {
        {"no BM mark", notBitmap, notBitmap.size()},
        {"empty", windows, 0},
        {"mark only", windows, 2},
        {"file header only", windows, 14},
        {"Windows header without its compression", windows, 33},
        {"core header without its bit count", core, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(ReadBitmapHeader(c.bytes.data(), c.size));
    }
    EXPECT_TRUE(ReadBitmapHeader(windows.data(), 34));
    EXPECT_TRUE(ReadBitmapHeader(core.data(), 26));
    EXPECT_TRUE(IsBitmapFile(windows.data(), 2));
    EXPECT_FALSE(IsBitmapFile(notBitmap.data(), notBitmap.size()));
    EXPECT_FALSE(IsBitmapFile(windows.data(), 1));
}

} // namespace
