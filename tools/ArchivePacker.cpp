#include "ArchivePacker.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

constexpr std::size_t kHeaderSize = 256;
constexpr std::size_t kEntrySize = 268;
constexpr std::size_t kNameSize = 256;
// A pair costs two table bytes (sometimes a count byte too); from three uses it gains.
constexpr std::uint32_t kMinPairUses = 3;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutU32At(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct PairTable {
    std::array<std::uint8_t, 256> Left{};
    std::array<std::uint8_t, 256> Right{};
    bool IsPair(int code) const { return Left[code] != code; }
};

// Writes the table in the fewest bytes the run format allows. From each code a run is
// either k + 1 codes written out (a code standing for itself takes one byte, a pair two),
// or a skip over up to 128 codes that stand for themselves followed by exactly one written
// code. cost[c] is the cheapest encoding of codes c..255 that starts with a count byte.
void WriteTable(const PairTable& table, std::vector<std::uint8_t>& out) {
    constexpr int kNone = std::numeric_limits<int>::max();
    std::array<int, 257> cost{};
    std::array<int, 257> choice{}; // > 0: write that many codes; < 0: skip that many
    cost[256] = 0;
    auto written = [&](int code) { return table.IsPair(code) ? 2 : 1; };
    for (int c = 255; c >= 0; --c) {
        int best = kNone;
        int bestChoice = 0;
        int sum = 0;
        for (int j = 1; j <= 128 && c + j <= 256; ++j) {
            sum += written(c + j - 1);
            const int total = 1 + sum + cost[c + j];
            if (total < best) {
                best = total;
                bestChoice = j;
            }
        }
        for (int s = 1; s <= 128 && c + s <= 256 && !table.IsPair(c + s - 1); ++s) {
            const int total = c + s == 256 ? 1 : 1 + written(c + s) + cost[c + s + 1];
            if (total <= best) { // on a tie the longest skip: FF 80 FE for a plain table
                best = total;
                bestChoice = -s;
            }
        }
        cost[c] = best;
        choice[c] = bestChoice;
    }
    auto writeCode = [&](int code) {
        out.push_back(table.Left[code]);
        if (table.IsPair(code))
            out.push_back(table.Right[code]);
    };
    int c = 0;
    while (c < 256) {
        if (choice[c] > 0) {
            out.push_back(static_cast<std::uint8_t>(choice[c] - 1));
            for (int j = 0; j < choice[c]; ++j)
                writeCode(c + j);
            c += choice[c];
        } else {
            const int skip = -choice[c];
            out.push_back(static_cast<std::uint8_t>(127 + skip));
            c += skip;
            if (c < 256)
                writeCode(c++);
        }
    }
}

void PackBlock(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out,
               std::vector<std::uint32_t>& counts) {
    std::vector<std::uint8_t> buffer(data, data + size);
    PairTable table;
    std::array<bool, 256> present{};
    for (int i = 0; i < 256; ++i)
        table.Left[i] = static_cast<std::uint8_t>(i);
    for (std::uint8_t b : buffer)
        present[b] = true;
    // Codes absent from the block are free to stand for pairs; each pair code is defined
    // from codes that exist before it, so expansions stay acyclic and no deeper than the
    // number of pairs. Taken from 128 upwards first: a table run that starts at 128 follows
    // the longest skip, so few pairs cost the fewest table bytes.
    std::vector<int> freeCodes;
    for (int i = 127; i >= 0; --i)
        if (!present[i])
            freeCodes.push_back(i);
    for (int i = 255; i >= 128; --i)
        if (!present[i])
            freeCodes.push_back(i);

    while (!freeCodes.empty() && buffer.size() >= 2) {
        // Non-overlapping counts: in a run "aaaa" the pair (a, a) is used twice, not three
        // times.
        bool skipSame = false;
        std::uint32_t bestCount = 0;
        std::size_t bestPair = 0;
        for (std::size_t i = 0; i + 1 < buffer.size(); ++i) {
            const std::size_t pair = std::size_t{buffer[i]} << 8 | buffer[i + 1];
            if (buffer[i] == buffer[i + 1]) {
                if (skipSame) {
                    skipSame = false;
                    continue;
                }
                skipSame = true;
            } else {
                skipSame = false;
            }
            const std::uint32_t n = ++counts[pair];
            if (n > bestCount || (n == bestCount && pair < bestPair)) {
                bestCount = n;
                bestPair = pair;
            }
        }
        for (std::size_t i = 0; i + 1 < buffer.size(); ++i)
            counts[std::size_t{buffer[i]} << 8 | buffer[i + 1]] = 0;
        if (bestCount < kMinPairUses)
            break;

        const int code = freeCodes.back();
        freeCodes.pop_back();
        const auto a = static_cast<std::uint8_t>(bestPair >> 8);
        const auto b = static_cast<std::uint8_t>(bestPair & 0xFF);
        table.Left[code] = a;
        table.Right[code] = b;
        std::size_t w = 0;
        for (std::size_t r = 0; r < buffer.size();) {
            if (r + 1 < buffer.size() && buffer[r] == a && buffer[r + 1] == b) {
                buffer[w++] = static_cast<std::uint8_t>(code);
                r += 2;
            } else {
                buffer[w++] = buffer[r++];
            }
        }
        buffer.resize(w);
    }

    WriteTable(table, out);
    PutU32(out, static_cast<std::uint32_t>(buffer.size()));
    out.insert(out.end(), buffer.begin(), buffer.end());
}

} // namespace

std::vector<std::uint8_t> PackBytePairs(const std::vector<std::uint8_t>& data,
                                        std::size_t blockSize) {
    if (blockSize == 0)
        throw std::invalid_argument("block size 0");
    std::vector<std::uint8_t> out;
    std::vector<std::uint32_t> counts(65536, 0);
    for (std::size_t at = 0; at < data.size(); at += blockSize)
        PackBlock(data.data() + at, std::min(blockSize, data.size() - at), out, counts);
    return out;
}

std::vector<std::uint8_t> BuildArchive(const std::vector<ArchiveInput>& entries, bool packed) {
    constexpr auto kLimit = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    for (const ArchiveInput& entry : entries) {
        if (entry.Name.size() >= kNameSize)
            throw std::invalid_argument("entry name longer than 255 bytes: " + entry.Name);
        if (entry.Name.find('\0') != std::string::npos)
            throw std::invalid_argument("entry name with a zero byte");
        if (entry.Data.size() > kLimit)
            throw std::length_error("entry larger than 2 GiB: " + entry.Name);
    }
    const std::uint64_t directoryEnd = kHeaderSize + std::uint64_t{entries.size()} * kEntrySize;
    if (directoryEnd > kLimit)
        throw std::length_error("too many entries");

    std::vector<std::uint8_t> out(static_cast<std::size_t>(directoryEnd), 0);
    PutU32At(out, 0, packed ? 1 : 0);
    std::memcpy(out.data() + 4, "QDA0", 4);
    PutU32At(out, 8, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ArchiveInput& entry = entries[i];
        const std::size_t at = kHeaderSize + i * kEntrySize;
        const std::size_t offset = out.size();
        if (packed) {
            const std::vector<std::uint8_t> bytes = PackBytePairs(entry.Data);
            out.insert(out.end(), bytes.begin(), bytes.end());
        } else {
            out.insert(out.end(), entry.Data.begin(), entry.Data.end());
        }
        if (out.size() > kLimit)
            throw std::length_error("archive larger than 2 GiB");
        PutU32At(out, at, static_cast<std::uint32_t>(offset));
        PutU32At(out, at + 4, static_cast<std::uint32_t>(out.size() - offset));
        PutU32At(out, at + 8, static_cast<std::uint32_t>(entry.Data.size()));
        std::memcpy(out.data() + at + 12, entry.Name.data(), entry.Name.size());
    }
    return out;
}
