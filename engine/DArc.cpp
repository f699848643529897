#include "DArc.h"

#include "platform/LittleEndian.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <limits>

namespace {

// iconv between two encodings. Returns nothing when the input has a sequence the source
// encoding does not define or the target cannot show, unless a replacement is given.
std::optional<std::string> Convert(const std::string& input, const char* from, const char* to,
                                   const std::string* replacement = nullptr) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string output;
    std::array<char, 256> chunk{};
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    bool failed = false;
    while (inLeft > 0) {
        char* out = chunk.data();
        std::size_t outLeft = chunk.size();
        const std::size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(chunk.data(), chunk.size() - outLeft);
        if (result != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        if (replacement == nullptr) {
            failed = true;
            break;
        }
        output += *replacement;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    if (failed)
        return std::nullopt;
    return output;
}

// Lower-case form of a name for comparison: the case pairs that CP932 holds (Latin,
// full-width Latin, Greek, Cyrillic, Roman numerals). Works on UTF-32 code points.
std::u32string LowerName(std::u32string name) {
    for (char32_t& c : name) {
        if ((c >= U'A' && c <= U'Z') || (c >= 0xFF21 && c <= 0xFF3A) ||
            (c >= 0x0391 && c <= 0x03A9 && c != 0x03A2) || (c >= 0x0410 && c <= 0x042F))
            c += 0x20;
        else if (c == 0x0401)
            c = 0x0451;
        else if (c >= 0x2160 && c <= 0x216F)
            c += 0x10;
    }
    return name;
}

std::optional<std::u32string> CodePoints(const std::string& bytes, const char* encoding) {
    // Plain ASCII is the same in UTF-8 and CP932; most names are, and need no converter.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
        return std::u32string(bytes.begin(), bytes.end());
    const std::optional<std::string> utf32 = Convert(bytes, encoding, "UTF-32LE");
    if (!utf32)
        return std::nullopt;
    std::u32string result(utf32->size() / 4, U'\0');
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = ReadLE32(reinterpret_cast<const unsigned char*>(utf32->data() + 4 * i));
    return result;
}

std::string Quoted(const std::string& archiveName) {
    return "「" + DecodeArchiveName(archiveName) + "」";
}

struct Header {
    bool Packed = false;
    std::uint32_t Count = 0;
    std::int64_t FileSize = 0;
};

Header ReadHeader(TStream& archive) {
    Header header;
    header.FileSize = archive.Size();
    std::array<std::uint8_t, kQDAHeaderSize> bytes{};
    archive.SetPosition(0);
    const std::int64_t got = archive.Read(bytes.data(), kQDAHeaderSize);
    if (got < 8 || std::memcmp(bytes.data() + 4, "QDA0", 4) != 0)
        throw EQDAError(kQDANotAnArchive);
    if (got < kQDAHeaderSize)
        throw EQDAError("QDAファイルのヘッダーが途中で切れています（" + IntToStr(got) +
                        " バイト）");
    header.Packed = ReadLE32(bytes.data()) == kQDAPacked;
    header.Count = ReadLE32(bytes.data() + 8);
    const std::int64_t directoryBytes = std::int64_t{header.Count} * kQDAEntrySize;
    if (directoryBytes > header.FileSize - kQDAHeaderSize)
        throw EQDAError("QDAファイルの目録（" + IntToStr(std::int64_t{header.Count}) +
                        " 件）がファイルに収まっていません");
    return header;
}

// The directory, read with one read into a buffer whose size the file has just shown to
// be there.
std::vector<std::uint8_t> ReadDirectoryBytes(TStream& archive, const Header& header) {
    std::vector<std::uint8_t> directory(std::size_t{header.Count} * kQDAEntrySize);
    archive.SetPosition(kQDAHeaderSize);
    if (archive.Read(directory.data(), static_cast<std::int64_t>(directory.size())) !=
        static_cast<std::int64_t>(directory.size()))
        throw EQDAError("QDAファイルの目録を読み取れません");
    return directory;
}

TQDAEntry EntryAt(const std::vector<std::uint8_t>& directory, std::uint32_t index) {
    const std::uint8_t* p = directory.data() + std::size_t{index} * kQDAEntrySize;
    TQDAEntry entry;
    entry.DataOffset = ReadLE32(p);
    entry.PackedSize = ReadLE32(p + 4);
    entry.Size = ReadLE32(p + 8);
    const auto* name = reinterpret_cast<const char*>(p + 12);
    const void* end = std::memchr(name, 0, kQDANameSize);
    if (end == nullptr)
        throw EQDAError("QDAファイルの目録の " + IntToStr(std::int64_t{index} + 1) +
                        " 番目の名前が終わっていません");
    entry.Name.assign(name, static_cast<const char*>(end));
    return entry;
}

// The bytes this entry occupies in the file: its packed size if packed, else its size.
std::uint32_t StoredBytes(const TQDAEntry& entry, bool packed) {
    return packed ? entry.PackedSize : entry.Size;
}

void CheckEntryData(const TQDAEntry& entry, const Header& header) {
    if (std::int64_t{entry.DataOffset} + StoredBytes(entry, header.Packed) > header.FileSize)
        throw EQDAError("QDAファイル内の" + Quoted(entry.Name) +
                        "のデータがファイルの終わりを越えています");
    if (entry.Size > kQDALargestEntry)
        throw EQDAError("QDAファイル内の" + Quoted(entry.Name) + "のサイズ（" +
                        IntToStr(std::int64_t{entry.Size}) + " バイト）が大きすぎます（上限 " +
                        IntToStr(std::int64_t{kQDALargestEntry}) + " バイト）");
}

// Reads packed data, failing instead of reading past the end.
class PackedReader {
public:
    PackedReader(const std::uint8_t* data, std::size_t size, std::size_t position)
        : data_(data), size_(size), position_(position) {}

    bool AtEnd() const { return position_ >= size_; }
    std::size_t Position() const { return position_; }
    std::size_t Left() const { return size_ - position_; }
    std::uint8_t Byte() {
        if (position_ >= size_)
            Truncated();
        return data_[position_++];
    }
    std::uint32_t U32() {
        if (Left() < 4)
            Truncated();
        const std::uint32_t value = ReadLE32(data_ + position_);
        position_ += 4;
        return value;
    }
    void Skip(std::size_t count) { position_ += count; }
    const std::uint8_t* Here() const { return data_ + position_; }

    [[noreturn]] static void Truncated() { throw EQDAError("圧縮データが途中で切れています"); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_;
};

constexpr int kStackDepth = 256;

// The stated size of an expansion as a limit; refused when negative or above the largest entry.
std::size_t ExpansionLimit(std::int32_t expandedSize) {
    if (expandedSize < 0)
        throw EQDAError("展開後のサイズが負の値です（" + IntToStr(expandedSize) + "）");
    if (static_cast<std::uint32_t>(expandedSize) > kQDALargestEntry)
        throw EQDAError("展開後のサイズ（" + IntToStr(expandedSize) +
                        " バイト）が大きすぎます（上限 " +
                        IntToStr(std::int64_t{kQDALargestEntry}) + " バイト）");
    return static_cast<std::size_t>(expandedSize);
}

// The pairs of one block: a code whose left is itself is a literal byte, any other stands for
// the two codes left and right.
struct PairTable {
    std::array<std::uint8_t, 256> left{};
    std::array<std::uint8_t, 256> right{};
};

// Reads the table at the start of a block: a count byte above 127 skips that many minus 127
// codes (which stay literal), otherwise count + 1 codes follow, each with its left byte and,
// unless that is the code itself, its right byte.
void ReadPairTable(PackedReader& in, PairTable& table) {
    std::array<std::uint8_t, 256>& left = table.left;
    for (int i = 0; i < 256; ++i)
        left[i] = static_cast<std::uint8_t>(i);
    int count = in.Byte();
    int code = 0;
    for (;;) {
        if (count > 127) {
            code += count - 127;
            count = 0;
        }
        if (code > 256)
            throw EQDAError("圧縮データの対応表がコード255を越えています");
        if (code == 256)
            return;
        for (int i = 0; i <= count; ++i) {
            if (code > 255)
                throw EQDAError("圧縮データの対応表がコード255を越えています");
            left[code] = in.Byte();
            if (left[code] != code) {
                table.right[code] = in.Byte();
                if (table.right[code] == code)
                    throw EQDAError("圧縮データの対応表でコード " + IntToStr(code) +
                                    " が自分自身を参照しています");
            }
            ++code;
        }
        if (code == 256)
            return;
        count = in.Byte();
    }
}

// Expands the codes next .. end onto output from `written` on, growing it as bytes really
// come but never past limit; answers the new end. Pairs unfold through a stack, right below
// left.
std::size_t ExpandBlock(const std::uint8_t* next, const std::uint8_t* end, const PairTable& table,
                        std::vector<std::uint8_t>& output, std::size_t written, std::size_t limit) {
    std::array<std::uint8_t, kStackDepth> stack{};
    int depth = 0;
    for (;;) {
        std::uint8_t b;
        if (depth > 0)
            b = stack[--depth];
        else if (next < end)
            b = *next++;
        else
            return written;
        if (table.left[b] == b) {
            if (written == output.size()) {
                if (written == limit)
                    throw EQDAError("圧縮データの展開結果が指定のサイズ（" +
                                    IntToStr(static_cast<std::int64_t>(limit)) +
                                    " バイト）を越えました");
                output.resize(std::min(limit, written * 2));
            }
            output[written++] = b;
        } else {
            if (depth + 2 > kStackDepth)
                throw EQDAError("圧縮データの展開が " + IntToStr(kStackDepth) + " 段を越えました");
            stack[depth++] = table.right[b];
            stack[depth++] = table.left[b];
        }
    }
}

} // namespace

std::optional<std::string> EncodeArchiveName(const std::string& text) {
    return Convert(text, "UTF-8", "CP932");
}

std::string DecodeArchiveName(const std::string& name) {
    const std::string replacement = "\xEF\xBF\xBD";
    return Convert(name, "CP932", "UTF-8", &replacement).value_or(std::string());
}

bool ArchiveNamesMatch(const std::string& a, const std::string& b) {
    const std::optional<std::u32string> first = CodePoints(a, "CP932");
    const std::optional<std::u32string> second = CodePoints(b, "CP932");
    return first && second && LowerName(*first) == LowerName(*second);
}

std::unique_ptr<TMemoryStream> ExpandBytePairs(TMemoryStream& packed, std::int32_t expandedSize) {
    const std::size_t limit = ExpansionLimit(expandedSize);
    const std::vector<std::uint8_t>& input = packed.Bytes();
    PackedReader in(input.data(), input.size(),
                    static_cast<std::size_t>(std::clamp<std::int64_t>(
                        packed.Position(), 0, static_cast<std::int64_t>(input.size()))));
    // Grown as bytes are really produced: the stated size alone never decides an allocation.
    std::vector<std::uint8_t> output(std::min(limit, input.size() * 4 + 4096));
    std::size_t written = 0;
    PairTable table;
    while (!in.AtEnd()) {
        ReadPairTable(in, table);
        const std::uint32_t blockLength = in.U32();
        if (blockLength > in.Left())
            PackedReader::Truncated();
        const std::uint8_t* block = in.Here();
        in.Skip(blockLength);
        written = ExpandBlock(block, block + blockLength, table, output, written, limit);
    }
    if (written != limit)
        throw EQDAError("圧縮データの展開結果（" + IntToStr(std::int64_t(written)) +
                        " バイト）が指定のサイズ（" + IntToStr(expandedSize) +
                        " バイト）に足りません");
    return std::make_unique<TMemoryStream>(std::move(output));
}

TQDADirectory ReadArchiveDirectory(TStream& archive) {
    const Header header = ReadHeader(archive);
    const std::vector<std::uint8_t> directory = ReadDirectoryBytes(archive, header);
    TQDADirectory result;
    result.Packed = header.Packed;
    result.Entries.reserve(header.Count);
    for (std::uint32_t i = 0; i < header.Count; ++i) {
        result.Entries.push_back(EntryAt(directory, i));
        if (result.Entries.back().DataOffset != 0)
            CheckEntryData(result.Entries.back(), header);
    }
    archive.SetPosition(0);
    return result;
}

std::unique_ptr<TMemoryStream> ReadArchiveEntry(TStream& archive, const std::string& entryName) {
    const Header header = ReadHeader(archive);
    const std::vector<std::uint8_t> directory = ReadDirectoryBytes(archive, header);
    archive.SetPosition(0);

    const std::optional<std::u32string> wanted = CodePoints(entryName, "UTF-8");
    std::optional<TQDAEntry> found;
    if (wanted) {
        const std::u32string wantedLower = LowerName(*wanted);
        for (std::uint32_t i = 0; i < header.Count; ++i) {
            TQDAEntry entry = EntryAt(directory, i);
            const std::optional<std::u32string> name = CodePoints(entry.Name, "CP932");
            if (name && LowerName(*name) == wantedLower) {
                found = std::move(entry);
                break;
            }
        }
    }
    // An entry whose data would start at offset 0 is as good as absent.
    if (!found || found->DataOffset == 0)
        throw EQDAError(kQDAEntryNotFound);
    const TQDAEntry& entry = *found;
    CheckEntryData(entry, header);
    archive.SetPosition(entry.DataOffset);

    const std::uint32_t stored = StoredBytes(entry, header.Packed);
    auto bytes = std::make_unique<TMemoryStream>();
    bytes->SetSize(stored);
    if (archive.Read(bytes->Memory(), stored) != stored)
        throw EQDAError("QDAファイル内の" + Quoted(entry.Name) + "のデータを読み取れません");
    if (!header.Packed)
        return bytes;
    try {
        return ExpandBytePairs(*bytes, static_cast<std::int32_t>(entry.Size));
    } catch (const EQDAError& e) {
        throw EQDAError("QDAファイル内の" + Quoted(entry.Name) + ": " + e.Message());
    }
}

std::unique_ptr<TMemoryStream> OpenArchiveEntry(const std::string& archiveFileName,
                                                const std::string& entryName) {
    TFileStream archive(archiveFileName, TFileStream::fmOpenRead);
    return ReadArchiveEntry(archive, entryName);
}
