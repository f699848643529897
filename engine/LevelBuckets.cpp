#include "LevelBuckets.h"

#include "dddd_private.h"

void TLevelBuckets::Resize(std::int32_t maxZ, std::size_t rowWidth) {
    const std::size_t levels = maxZ < 0 ? 0 : static_cast<std::size_t>(maxZ) + 1;
    table_.assign(levels * rowWidth, 0);
    counts_.assign(levels, 0);
    rowWidth_ = rowWidth;
    maxZ_ = maxZ;
}

void TLevelBuckets::Misplaced(const char* warning, std::int32_t z) const {
    dddd::Warn(warning, z, maxZ_);
}
