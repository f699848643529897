#pragma once
// The program-wide random generator of the run-time library.
#include "WinTypes.h"

#include <cstdint>

extern DWORD RandSeed;

// Advances the seed (seed * 134775813 + 1, modulo 2^32) and returns (seed * n) shr 32 with an
// unsigned 64-bit product: an integer in [0, n) for n > 0.
std::int32_t Random(std::int32_t n);

// Seeds the generator from the millisecond clock.
void Randomize();
