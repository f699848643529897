#include "Processor.h"

#include <atomic>

namespace {

std::atomic<bool> wideAllowed{true};

bool HasAvx2() {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

} // namespace

bool WideVectorsInUse() {
    return HasAvx2() && wideAllowed.load(std::memory_order_relaxed);
}

void AllowWideVectors(bool allowed) {
    wideAllowed.store(allowed, std::memory_order_relaxed);
}
