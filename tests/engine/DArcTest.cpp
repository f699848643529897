#include "engine/DArc.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(std::initializer_list<int> values) {
    return Bytes(values.begin(), values.end());
}
Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

void PutU32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// An archive written field by field, independently of the packer. Offsets are filled in
// for the data appended after the directory unless an entry gives its own.
struct RawEntry {
    std::string name;                // archive bytes (CP932)
    Bytes data;                      // stored in the file
    std::uint32_t size = UINT32_MAX; // expanded size; the data's length when not given
    std::int64_t offset = -1;
};

Bytes Archive(std::uint32_t packing, const std::vector<RawEntry>& entries) {
    Bytes out(256 + 268 * entries.size(), 0);
    PutU32(out, 0, packing);
    std::copy_n("QDA0", 4, out.begin() + 4);
    PutU32(out, 8, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries[i];
        const std::size_t at = 256 + 268 * i;
        PutU32(out, at, e.offset >= 0 ? std::uint32_t(e.offset) : std::uint32_t(out.size()));
        PutU32(out, at + 4, static_cast<std::uint32_t>(e.data.size()));
        PutU32(out, at + 8, e.size != UINT32_MAX ? e.size : std::uint32_t(e.data.size()));
        std::copy(e.name.begin(), e.name.end(), out.begin() + at + 12);
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    return out;
}

Bytes Read(const Bytes& archive, const std::string& name) {
    TMemoryStream stream(archive);
    const std::unique_ptr<TMemoryStream> entry = ReadArchiveEntry(stream, name);
    EXPECT_EQ(entry->Position(), 0);
    return entry->Bytes();
}

std::string ReadError(const Bytes& archive, const std::string& name) {
    try {
        Read(archive, name);
    } catch (const EQDAError& e) {
        return e.Message();
    }
    return "(no error)";
}

Bytes Expand(const Bytes& packed, std::int32_t size) {
    TMemoryStream stream(packed);
    const std::unique_ptr<TMemoryStream> out = ExpandBytePairs(stream, size);
    EXPECT_EQ(out->Position(), 0);
    return out->Bytes();
}

std::string ExpandError(const Bytes& packed, std::int32_t size) {
    try {
        Expand(packed, size);
    } catch (const EQDAError& e) {
        return e.Message();
    }
    return "(no error)";
}

// The ten-byte block: codes 0-127 themselves, 128 = (61, 62), 129-255 themselves, L = 2.
const Bytes kExample = Hex({0xFF, 0x61, 0x62, 0xFE, 0x02, 0x00, 0x00, 0x00, 0x80, 0x80});
// A table in which every code stands for itself.
const Bytes kPlainTable = Hex({0xFF, 0x80, 0xFE});

Bytes Block(const Bytes& table, const Bytes& packed) {
    Bytes out = table;
    const std::uint32_t n = static_cast<std::uint32_t>(packed.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

// One block whose code 128 is "aa" and every later code two of the one before: the single
// packed byte FF stands for 2^128 bytes.
Bytes DeepPairs() {
    Bytes packed{0xFF, 0x61, 0x61, 126};
    for (int code = 129; code < 256; ++code)
        packed.insert(packed.end(), {std::uint8_t(code - 1), std::uint8_t(code - 1)});
    packed.insert(packed.end(), {1, 0, 0, 0, 0xFF});
    return packed;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(ExpandBytePairs, DecodesTablesAndBlocks) {
    // Code 0 = (41, 42) written out by a run of one; 128 then 129 = (128, 128) nested.
    const Bytes pairAtZero = Hex({0x00, 0x41, 0x42, 0xFE, 0x80, 0xFE});
    const Bytes nested = Hex({0xFF, 0x61, 0x62, 0x00, 0x80, 0x80, 0xFD});
    // A run of 128 codes written out, 0-127 as themselves, then a skip to the end.
    Bytes longRun{0x7F};
    for (int c = 0; c < 128; ++c)
        longRun.push_back(static_cast<std::uint8_t>(c));
    longRun.push_back(0xFF);
    // A chain 128 = (41, 41), 129 = (128, 41), ... 255 = (254, 41), 128 levels deep.
    Bytes chain{0xFF, 0x41, 0x41, 0x7E};
    for (int c = 129; c < 256; ++c)
        chain.insert(chain.end(), {static_cast<std::uint8_t>(c - 1), 0x41});
    // Every code but 0 a pair, 1 = (0, 0) up to 255 = (254, 0): 255 levels, the deepest a
    // table can be without a cycle, filling the 256-byte stack exactly.
    Bytes deepest{0x7F, 0x00};
    for (int c = 1; c < 256; ++c) {
        if (c == 128)
            deepest.push_back(0x7F);
        deepest.insert(deepest.end(), {static_cast<std::uint8_t>(c - 1), 0x00});
    }

    struct Case {
        const char* what;
        Bytes packed;
        Bytes expected;
    } cases[] = {
        {"the ten-byte example", kExample, Text("abab")},
        {"no blocks at all", {}, {}},
        {"a block with L = 0, then one more",
         Block(kPlainTable, {}) + Block(kPlainTable, Text("A")), Text("A")},
        {"pair defined at code 0", Block(pairAtZero, {0x00, 0x00}), Text("ABAB")},
        {"pair of pairs", Block(nested, {0x81}), Text("abab")},
        {"128 codes in one run", Block(longRun, Text("xyz")), Text("xyz")},
        {"128-level chain", Block(chain, {0xFF}), Bytes(129, 0x41)},
        {"255-level chain", Block(deepest, {0xFF, 0x00}), Bytes(257, 0x00)},
        {"tables are per block", kExample + Block(kPlainTable, {0x80}),
         Hex({0x61, 0x62, 0x61, 0x62, 0x80})},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Expand(c.packed, static_cast<std::int32_t>(c.expected.size())), c.expected)
            << c.what;
}

TEST(ExpandBytePairs, RefusesMalformedInput) {
    Bytes pastEnd{0xFF, 0x80, 0x7F}; // a run of 128 codes from 129 would reach code 257
    for (int c = 129; c < 256; ++c)
        pastEnd.push_back(static_cast<std::uint8_t>(c));
    pastEnd.push_back(0x00);
    const Bytes leftCycle =
        Hex({0xFF, 0x81, 0x41, 0x00, 0x80, 0x41, 0xFD}); // 128 = (129, A), 129 = (128, A)
    const Bytes rightCycle =
        Hex({0xFF, 0x41, 0x81, 0x00, 0x42, 0x80, 0xFD}); // 128 = (A, 129), 129 = (B, 128)

    struct Case {
        const char* what;
        Bytes packed;
        std::int32_t size;
        const char* message;
    } cases[] = {
        {"table cut short", Hex({0xFF, 0x61}), 4, "圧縮データが途中で切れています"},
        {"length cut short", Hex({0xFF, 0x80, 0xFE, 0x02, 0x00}), 4,
         "圧縮データが途中で切れています"},
        {"block longer than the data",
         Block(kPlainTable, Text("AB")) + Hex({0xFF, 0x80, 0xFE, 9, 0, 0, 0, 1}), 2,
         "圧縮データが途中で切れています"},
        {"run past code 255", Block(pastEnd, {}), 0, "圧縮データの対応表がコード255を越えています"},
        {"skip past code 255", Hex({0xFF, 0x80, 0xFF, 0, 0, 0, 0}), 0,
         "圧縮データの対応表がコード255を越えています"},
        {"self-referencing pair", Block(Hex({0xFF, 0x41, 0x80, 0xFE}), {0x80}), 100,
         "圧縮データの対応表でコード 128 が自分自身を参照しています"},
        {"left cycle", Block(leftCycle, {0x80}), 1000, "圧縮データの展開が 256 段を越えました"},
        {"right cycle", Block(rightCycle, {0x80}), 10,
         "圧縮データの展開結果が指定のサイズ（10 バイト）を越えました"},
        {"longer than stated", kExample, 3,
         "圧縮データの展開結果が指定のサイズ（3 バイト）を越えました"},
        {"shorter than stated", kExample, 5,
         "圧縮データの展開結果（4 バイト）が指定のサイズ（5 バイト）に足りません"},
        {"negative size", {}, -1, "展開後のサイズが負の値です（-1）"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpandError(c.packed, c.size), c.message) << c.what;
}

TEST(ExpandBytePairs, ClaimedSizeAllocatesNothingByItself) {
    // A two-gigabyte claim over ten bytes fails as too short, without reserving the claim.
    TMemoryStream packed(kExample);
    EXPECT_THROW(ExpandBytePairs(packed, INT32_MAX), EQDAError);
}

TEST(ReadArchiveEntry, FindsNamesWhateverTheirCase) {
    const Bytes archive =
        Archive(0, {
                       {"samp4.bmp", Text("tile")},
                       {"\x82\x60\x82\x61\x82\x62.bmp", Text("fullwidth")}, // ＡＢＣ
                       {"\x83\x9F\x83\xA0", Text("greek")},                 // ΑΒ
                       {"\x84\x46\x84\x47", Text("cyrillic")},              // ЁЖ
                       {"\x87\x56", Text("roman")},                         // Ⅲ
                       {"\x83\x5B\x83\x8B\x83\x4A", Text("zelka")},         // ゼルカ
                       {"\x83\x61", Text("di")},                            // ヂ
                   });
    struct Case {
        const char* asked;
        const char* expected;
    } cases[] = {
        {"samp4.bmp", "tile"},       {"SAMP4.BMP", "tile"},
        {"Samp4.Bmp", "tile"},       {"ａｂｃ.BMP", "fullwidth"},
        {"ＡＢＣ.bmp", "fullwidth"}, {"αβ", "greek"},
        {"ёж", "cyrillic"},          {"ⅲ", "roman"},
        {"ゼルカ", "zelka"},         {"ヂ", "di"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(archive, c.asked), Text(c.expected)) << c.asked;
    // The second byte of a double-byte character is not a letter: "ア" (83 41) is not "ヂ"
    // (83 61) lower-cased.
    for (const char* absent : {"ア", "samp4", "samp4.bmp ", "", "\xFF\xFE"})
        EXPECT_EQ(ReadError(archive, absent), kQDAEntryNotFound) << absent;
}

TEST(ReadArchiveEntry, FirstMatchInDirectoryOrderWins) {
    struct Case {
        const char* what;
        std::vector<RawEntry> entries;
        std::string expected;
    } cases[] = {
        {"same name", {{"dup.bmp", Text("first")}, {"dup.bmp", Text("second")}}, "first"},
        {"names differing in case",
         {{"DUP.BMP", Text("upper")}, {"dup.bmp", Text("lower")}},
         "upper"},
        {"other names before",
         {{"a", Text("a")}, {"dup.bmp", Text("mid")}, {"Dup.bmp", Text("x")}},
         "mid"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(Archive(0, c.entries), "dup.bmp"), Text(c.expected)) << c.what;
}

TEST(ReadArchiveEntry, ReportsWhatIsNotThere) {
    const Bytes good = Archive(1, {{"ab", kExample, 4}});
    Bytes wrongSignature = good;
    wrongSignature[7] = '1';
    struct Case {
        const char* what;
        Bytes archive;
        const char* message;
    } cases[] = {
        {"no entries", Archive(0, {}), kQDAEntryNotFound},
        {"no entries, packed", Archive(1, {}), kQDAEntryNotFound},
        {"data offset 0", Archive(0, {{"a", Text("x"), UINT32_MAX, 0}}), kQDAEntryNotFound},
        // The first match decides, even when a later entry of that name has data.
        {"offset 0 shadows a later match",
         Archive(0, {{"a", Text("x"), UINT32_MAX, 0}, {"a", Text("y")}}), kQDAEntryNotFound},
        {"empty file", {}, kQDANotAnArchive},
        {"shorter than the signature", Hex({1, 0, 0, 0, 'Q', 'D', 'A'}), kQDANotAnArchive},
        {"other signature", wrongSignature, kQDANotAnArchive},
        {"text file", Text(std::string(300, 'x')), kQDANotAnArchive},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadError(c.archive, "a"), c.message) << c.what;
}

TEST(ReadArchiveEntry, StoredOrPackedByTheHeader) {
    struct Case {
        std::uint32_t packing;
        Bytes data;
        std::uint32_t size;
        Bytes expected;
    } cases[] = {
        {1, kExample, 4, Text("abab")},
        {0, kExample, UINT32_MAX, kExample},
        {2, kExample, UINT32_MAX, kExample},
        {0xFFFFFFFF, Text("plain"), UINT32_MAX, Text("plain")},
        {1, {}, 0, {}},
        {0, {}, UINT32_MAX, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(Archive(c.packing, {{"e", c.data, c.size}}), "E"), c.expected) << c.packing;
}

TEST(ReadArchiveEntry, RefusesMalformedArchives) {
    const Bytes one = Archive(0, {{"a", Text("abc")}});
    Bytes shortHeader(100, 0);
    std::copy_n("QDA0", 4, shortHeader.begin() + 4);
    Bytes countTooLarge = one;
    PutU32(countTooLarge, 8, 2);
    Bytes countHuge = one;
    PutU32(countHuge, 8, 0xFFFFFFFF);
    Bytes unterminated = Archive(0, {{std::string(255, 'n'), Text("x")}, {"a", Text("abc")}});
    unterminated[256 + 12 + 255] = 'n';
    Bytes packedHuge = Archive(1, {{"a", kExample, 0x80000000u}});
    std::string mixed = std::string("\x82\x60") + "\x80"; // Ａ then a byte CP932 lacks

    struct Case {
        const char* what;
        Bytes archive;
        std::string message;
    } cases[] = {
        {"header cut short", shortHeader,
         "QDAファイルのヘッダーが途中で切れています（100 バイト）"},
        {"directory does not fit", countTooLarge,
         "QDAファイルの目録（2 件）がファイルに収まっていません"},
        {"count 2^32 - 1", countHuge,
         "QDAファイルの目録（4294967295 件）がファイルに収まっていません"},
        {"name without its zero", unterminated,
         "QDAファイルの目録の 1 番目の名前が終わっていません"},
        {"offset past the end", Archive(0, {{"a", Text("abc"), UINT32_MAX, 100000}}),
         "QDAファイル内の「a」のデータがファイルの終わりを越えています"},
        {"stored size past the end", Archive(0, {{"a", Text("abc"), 4}}),
         "QDAファイル内の「a」のデータがファイルの終わりを越えています"},
        {"offset and size wrapping 32 bits", Archive(0, {{"a", Text("abc"), 0xFFFFFFFE, 300}}),
         "QDAファイル内の「a」のデータがファイルの終わりを越えています"},
        {"expanded size over 2^31 - 1", packedHuge,
         "QDAファイル内の「a」のサイズ（2147483648 バイト）が大きすぎます（上限 67108864 バイト）"},
        // 263 bytes whose pairs of pairs stand for 2^128 bytes: refused by the stated size
        // before any expansion, or stopped at the bound when the size is within it.
        {"2^31 - 1 bytes stated over deep pairs", Archive(1, {{"a", DeepPairs(), 0x7FFFFFFF}}),
         "QDAファイル内の「a」のサイズ（2147483647 バイト）が大きすぎます（上限 67108864 バイト）"},
        {"deep pairs expanding past the largest entry",
         Archive(1, {{"a", DeepPairs(), kQDALargestEntry}}),
         "QDAファイル内の「a」: 圧縮データの展開結果が指定のサイズ（67108864 バイト）を越えました"},
        {"packed data that does not expand", Archive(1, {{"a", kExample, 5}}),
         "QDAファイル内の「a」: 圧縮データの展開結果（4 バイト）が指定のサイズ（5 "
         "バイト）に足りません"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadError(c.archive, "a"), c.message) << c.what;

    // A packed size past the end, and a name in a message that is not all CP932.
    Bytes packedPastEnd = Archive(1, {{mixed, kExample, 4}});
    PutU32(packedPastEnd, 256 + 4, 11);
    EXPECT_EQ(ReadError(packedPastEnd, "ａ\xEF\xBF\xBD"), kQDAEntryNotFound);
    TMemoryStream stream(packedPastEnd);
    try {
        ReadArchiveDirectory(stream);
        ADD_FAILURE() << "listed an entry past the end";
    } catch (const EQDAError& e) {
        EXPECT_EQ(e.Message(),
                  "QDAファイル内の「Ａ\xEF\xBF\xBD」のデータがファイルの終わりを越えています");
    }
}

TEST(ReadArchiveEntry, LooksOnlyAtEntriesUpToTheMatch) {
    // A bad name after the match is never reached, as the search stops at the first match.
    Bytes archive = Archive(0, {{"a", Text("abc")}, {std::string(255, 'n'), Text("x")}});
    archive[256 + 268 + 12 + 255] = 'n';
    EXPECT_EQ(Read(archive, "A"), Text("abc"));
    EXPECT_EQ(ReadError(archive, "b"), "QDAファイルの目録の 2 番目の名前が終わっていません");
}

TEST(ReadArchiveDirectory, ListsEveryEntry) {
    const Bytes archive =
        Archive(1, {{"one", kExample, 4}, {"two", {}, 0}, {"gone", Text("x"), 1, 0}});
    TMemoryStream stream(archive);
    const TQDADirectory directory = ReadArchiveDirectory(stream);
    EXPECT_TRUE(directory.Packed);
    ASSERT_EQ(directory.Entries.size(), 3u);
    const std::uint32_t first = 256 + 3 * 268;
    const std::tuple<std::string, std::uint32_t, std::uint32_t, std::uint32_t> expected[] = {
        {"one", first, 10, 4}, {"two", first + 10, 0, 0}, {"gone", 0, 1, 1}};
    for (std::size_t i = 0; i < 3; ++i) {
        const TQDAEntry& e = directory.Entries[i];
        EXPECT_EQ(std::tie(e.Name, e.DataOffset, e.PackedSize, e.Size), expected[i]) << i;
    }
}

TEST(OpenArchiveEntry, ReadsFromAFileAndPassesOpenFailuresOn) {
    char folder[] = "/tmp/darc-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/Zelka.dat";
    TMemoryStream(Archive(1, {{"samp4.bmp", kExample, 4}})).SaveToFile(path);

    EXPECT_EQ(OpenArchiveEntry(path, "SAMP4.bmp")->Bytes(), Text("abab"));
    EXPECT_THROW(OpenArchiveEntry(path, "samp3.bmp"), EQDAError);
    try {
        OpenArchiveEntry(std::string(folder) + "/missing.dat", "samp4.bmp");
        ADD_FAILURE() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + std::string(folder) +
                                   "/missing.dat\". No such file or directory");
    }
    std::remove(path.c_str());
    rmdir(folder);
}

TEST(ArchiveNames, ConvertBetweenTextAndCodePage) {
    EXPECT_EQ(EncodeArchiveName("ゼルカ.bmp"), std::string("\x83\x5B\x83\x8B\x83\x4A.bmp"));
    EXPECT_EQ(EncodeArchiveName("samp4.bmp"), std::string("samp4.bmp"));
    EXPECT_EQ(EncodeArchiveName("\xF0\x9F\x98\x80"), std::nullopt); // an emoji has no CP932 form
    EXPECT_EQ(DecodeArchiveName("\x83\x5B\x83\x8B\x83\x4A"), "ゼルカ");
    EXPECT_EQ(DecodeArchiveName("a\x80z"), "a\xEF\xBF\xBDz");
    EXPECT_TRUE(ArchiveNamesMatch("SAMP5.BMP", "samp5.bmp"));
    EXPECT_TRUE(ArchiveNamesMatch("\x82\x60", "\x82\x81"));  // Ａ, ａ
    EXPECT_FALSE(ArchiveNamesMatch("\x83\x41", "\x83\x61")); // ア, ヂ
}
