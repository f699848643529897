#pragma once
// One iteration of the CPU arithmetic test's fixed mix of integer and real operations.
#include "platform/Real48.h"

#include <cstdint>

struct CpuIterationResult {
    std::int32_t integerAccumulator; // 0 after every iteration
    Real48 realAccumulator;          // the real accumulator as stored after the last step
};

// Integer part: accumulator := 0, then fifty increments, fifty decrements, fifty doublings
// and fifty signed divisions by one, each group a counted loop of its own. Real part: the
// 6-byte accumulator := 0, then fifty additions, subtractions, multiplications and divisions
// by the extended constant 0.1, every step expanded to extended, computed, and stored back
// in the 6-byte format. Nothing of it can be folded or vectorised by the compiler.
CpuIterationResult CpuArithmeticIteration();
