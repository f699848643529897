#include "Random.h"

#include "MMSystem.h"

DWORD RandSeed = 0;

std::int32_t Random(std::int32_t n) {
    RandSeed = RandSeed * 134775813u + 1u;
    const std::uint64_t product =
        static_cast<std::uint64_t>(RandSeed) * static_cast<std::uint32_t>(n);
    return static_cast<std::int32_t>(product >> 32);
}

void Randomize() {
    RandSeed = timeGetTime();
}
