#include "tools/ArchivePacker.h"

#include "engine/DArc.h"
#include "tools/SceneArt.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Noise(std::size_t n, std::uint32_t seed) {
    Bytes out(n);
    for (std::uint8_t& b : out) {
        seed = seed * 134775813u + 1;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return out;
}

Bytes Expand(const Bytes& packed, std::size_t size) {
    TMemoryStream stream(packed);
    return ExpandBytePairs(stream, static_cast<std::int32_t>(size))->Bytes();
}

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

} // namespace

TEST(PackBytePairs, ExpandsBackToTheInput) {
    Bytes everyByte(256);
    for (int i = 0; i < 256; ++i)
        everyByte[i] = static_cast<std::uint8_t>(i);
    Bytes stripes;
    for (int i = 0; i < 5000; ++i)
        stripes.push_back(static_cast<std::uint8_t>((i / 3) % 7 * 30));
    const Bytes boss = DrawBoss().EncodeBmp();

    struct Case {
        const char* what;
        Bytes data;
    } cases[] = {
        {"nothing", {}},
        {"one byte", {0x41}},
        {"a repeated pair", Text("abababababababab")},
        {"every byte value, no code free", everyByte},
        {"zeros, pairs of pairs all the way down", Bytes(70000, 0)},
        {"a run of three of a kind", Text("aaa")},
        {"noise", Noise(20000, 7)},
        {"stripes", stripes},
        {"text", Text("ゼルカ ゼルカ ゼルカ: the same words, the same words, again and again")},
        {"the boss picture", boss},
    };
    for (const Case& c : cases)
        for (std::size_t blockSize : {std::size_t{1}, std::size_t{2}, std::size_t{7},
                                      std::size_t{300}, kPackBlockSize, std::size_t{1} << 20}) {
            if (blockSize < 300 && c.data.size() > 5000)
                continue; // tiny blocks over big inputs only take time
            EXPECT_EQ(Expand(PackBytePairs(c.data, blockSize), c.data.size()), c.data)
                << c.what << ", blocks of " << blockSize;
        }
}

TEST(PackBytePairs, WritesTablesInTheFewestBytes) {
    // One byte: all codes stand for themselves, written as skip 128, code 128, skip 127.
    EXPECT_EQ(PackBytePairs({0x41}), (Bytes{0xFF, 0x80, 0xFE, 0x01, 0x00, 0x00, 0x00, 0x41}));
    // "ab" eight times: 128 = (a, b) used eight times, then 129 = (128, 128) four times; the
    // remaining pair (129, 129) would be used twice only and is left alone.
    EXPECT_EQ(PackBytePairs(Text("abababababababab")),
              (Bytes{0xFF, 0x61, 0x62, 0x00, 0x80, 0x80, 0xFD, 0x04, 0x00, 0x00, 0x00, 0x81, 0x81,
                     0x81, 0x81}));
    // Every byte value present: no code is free, the table is the three-byte minimum.
    Bytes everyByte(256);
    for (int i = 0; i < 256; ++i)
        everyByte[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(PackBytePairs(everyByte).size(), 3u + 4u + 256u);
}

TEST(PackBytePairs, CompressesTheScenePictures) {
    struct Case {
        const char* what;
        Bytes data;
        double atMost; // packed / plain
    } cases[] = {
        {"zeros", Bytes(100000, 0), 0.01},
        {"floor tile", DrawFloorTile().EncodeBmp(), 0.75},
        {"clouds", DrawCloudTile().EncodeBmp(), 0.60},
        {"boss", DrawBoss().EncodeBmp(), 0.40},
        {"sprites", DrawSpriteSheet().EncodeBmp(), 0.45},
    };
    for (const Case& c : cases)
        EXPECT_LE(double(PackBytePairs(c.data).size()) / c.data.size(), c.atMost) << c.what;
}

TEST(BuildArchive, LaysOutHeaderDirectoryAndData) {
    const std::vector<ArchiveInput> inputs{{"first.bin", Text("hello")}, {"2", {}}, {"x", {7}}};
    for (bool packed : {false, true}) {
        const Bytes archive = BuildArchive(inputs, packed);
        EXPECT_EQ(U32(archive, 0), packed ? 1u : 0u);
        EXPECT_EQ(std::string(archive.begin() + 4, archive.begin() + 8), "QDA0");
        EXPECT_EQ(U32(archive, 8), 3u);
        EXPECT_TRUE(std::all_of(archive.begin() + 12, archive.begin() + 256,
                                [](auto b) { return b == 0; }));
        std::uint32_t next = 256 + 3 * 268;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const std::size_t at = 256 + 268 * i;
            const std::uint32_t stored = U32(archive, at + 4);
            EXPECT_EQ(U32(archive, at), next) << i;
            EXPECT_EQ(U32(archive, at + 8), inputs[i].Data.size()) << i;
            const Bytes data(archive.begin() + next, archive.begin() + next + stored);
            EXPECT_EQ(packed ? Expand(data, inputs[i].Data.size()) : data, inputs[i].Data) << i;
            const std::string field(archive.begin() + at + 12, archive.begin() + at + 268);
            EXPECT_EQ(field, inputs[i].Name + std::string(256 - inputs[i].Name.size(), '\0'));
            next += stored;
        }
        EXPECT_EQ(next, archive.size());
    }
}

TEST(BuildArchive, ReadsBackThroughTheReader) {
    const std::vector<ArchiveInput> inputs{
        {"samp5.bmp", DrawSpriteSheet().EncodeBmp()},
        {"\x83\x5B\x83\x8B\x83\x4A.txt", Text("zelka")}, // ゼルカ.txt
        {"empty", {}},
        {"EMPTY", Text("shadowed by the first")},
        {std::string(255, 'n'), Noise(3000, 1)},
    };
    for (bool packed : {false, true}) {
        TMemoryStream archive(BuildArchive(inputs, packed));
        EXPECT_EQ(ReadArchiveEntry(archive, "SAMP5.BMP")->Bytes(), inputs[0].Data);
        EXPECT_EQ(ReadArchiveEntry(archive, "ゼルカ.TXT")->Bytes(), inputs[1].Data);
        EXPECT_EQ(ReadArchiveEntry(archive, "empty")->Bytes(), Bytes{});
        EXPECT_EQ(ReadArchiveEntry(archive, "Empty")->Bytes(), Bytes{});
        EXPECT_EQ(ReadArchiveEntry(archive, std::string(255, 'N'))->Bytes(), inputs[4].Data);
        EXPECT_EQ(ReadArchiveDirectory(archive).Packed, packed);
    }
}

TEST(BuildArchive, RefusesNamesThatDoNotFit) {
    EXPECT_THROW(BuildArchive({{std::string(256, 'n'), {}}}, true), std::invalid_argument);
    EXPECT_THROW(BuildArchive({{std::string("a\0b", 3), {}}}, true), std::invalid_argument);
    EXPECT_NO_THROW(BuildArchive({{std::string(255, 'n'), {}}}, true));
}
