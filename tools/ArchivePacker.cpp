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

// The least value over a sliding range of table codes, for the table writer's choices.
// Codes are added in falling order; the range drops codes above a bound that also falls.
class MinWindow {
public:
    // On a tie the code added earlier (the higher one) stays the least when keepHigher.
    void Add(int code, int value, bool keepHigher) {
        while (tail_ > head_ &&
               (keepHigher ? values_[tail_ - 1] > value : values_[tail_ - 1] >= value))
            --tail_;
        codes_[tail_] = code;
        values_[tail_++] = value;
    }
    void DropAbove(int bound) {
        while (head_ < tail_ && codes_[head_] > bound)
            ++head_;
    }
    void Clear() { head_ = tail_ = 0; }
    bool Empty() const { return head_ == tail_; }
    int LeastCode() const { return codes_[head_]; }
    int LeastValue() const { return values_[head_]; }

private:
    std::array<int, 257> codes_{};
    std::array<int, 257> values_{};
    int head_ = 0;
    int tail_ = 0;
};

// Writes the table in the fewest bytes the run format allows. From each code a run is
// either k + 1 codes written out (a code standing for itself takes one byte, a pair two),
// or a skip over up to 128 codes that stand for themselves followed by exactly one written
// code. cost[c] is the cheapest encoding of codes c..255 that starts with a count byte;
// each choice is the least over a range of ends, kept in a sliding window so that a table
// costs a few thousand steps however small its block.
void WriteTable(const PairTable& table, std::vector<std::uint8_t>& out) {
    std::array<int, 257> cost{};
    std::array<int, 257> choice{}; // > 0: write that many codes; < 0: skip that many
    std::array<int, 257> prefix{}; // bytes to write codes 0 .. k - 1 out
    auto written = [&](int code) { return table.IsPair(code) ? 2 : 1; };
    for (int k = 0; k < 256; ++k)
        prefix[k + 1] = prefix[k] + written(k);
    MinWindow groupEnds; // a run written out from c ends before code k in (c, c + 128]
    MinWindow skipEnds;  // a skip from c lands on code k in (c, c + 128], all of c..k-1 plain
    int plainRun = 0;    // codes standing for themselves from c on
    for (int c = 255; c >= 0; --c) {
        groupEnds.Add(c + 1, prefix[c + 1] + cost[c + 1], /*keepHigher=*/false);
        groupEnds.DropAbove(c + 128);
        int best = 1 - prefix[c] + groupEnds.LeastValue();
        int bestChoice = groupEnds.LeastCode() - c;
        if (table.IsPair(c)) {
            plainRun = 0;
            skipEnds.Clear();
        } else {
            ++plainRun;
            // Landing on 256 ends the table; elsewhere the landing code is written out.
            const int landing = c + 1 == 256 ? 0 : written(c + 1) + cost[c + 2];
            skipEnds.Add(c + 1, landing, /*keepHigher=*/true);
            skipEnds.DropAbove(c + std::min(128, plainRun));
            // On a tie the longest skip: FF 80 FE for a plain table.
            if (1 + skipEnds.LeastValue() <= best) {
                best = 1 + skipEnds.LeastValue();
                bestChoice = -(skipEnds.LeastCode() - c);
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
