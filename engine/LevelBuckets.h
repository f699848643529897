#pragma once
// Record numbers sorted by drawing level into the rows of a table made once, so that sorting a
// frame allocates nothing. Sprites and primitive quads are both drawn level by level from it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class TLevelBuckets {
public:
    // Levels 0 .. maxZ (none for a negative maxZ), each a row of rowWidth record numbers.
    void Resize(std::int32_t maxZ, std::size_t rowWidth);

    // Fills the rows from record count - 1 down to record 0, so within a level the lower
    // numbers come last and are drawn on top. levelOf(i) gives record i's level, or nothing to
    // leave it out; a level outside 0 .. maxZ is logged with `warning` (level, maxZ) and left
    // out.
    template <typename LevelOf>
    void Sort(std::int32_t count, LevelOf levelOf, const char* warning) {
        std::fill(counts_.begin(), counts_.end(), 0);
        for (std::int32_t i = count - 1; i >= 0; --i) {
            const std::optional<std::int32_t> z = levelOf(i);
            if (!z)
                continue;
            if (*z < 0 || *z > maxZ_) {
                Misplaced(warning, *z);
                continue;
            }
            std::int32_t& filled = counts_[static_cast<std::size_t>(*z)];
            table_[static_cast<std::size_t>(*z) * rowWidth_ + static_cast<std::size_t>(filled)] = i;
            ++filled;
        }
    }

    // The record numbers of level z in drawing order; z must lie in 0 .. maxZ.
    std::span<const std::int32_t> Level(std::int32_t z) const {
        const std::size_t row = static_cast<std::size_t>(z);
        return {table_.data() + row * rowWidth_, static_cast<std::size_t>(counts_[row])};
    }
    std::int32_t MaxZ() const { return maxZ_; }
    std::size_t Levels() const { return counts_.size(); }
    // Record numbers the whole table holds.
    std::size_t Slots() const { return table_.size(); }

private:
    void Misplaced(const char* warning, std::int32_t z) const;

    std::vector<std::int32_t> table_;
    std::vector<std::int32_t> counts_;
    std::size_t rowWidth_ = 0;
    std::int32_t maxZ_ = -1;
};
