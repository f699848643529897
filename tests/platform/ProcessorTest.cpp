#include "platform/Processor.h"

#include <gtest/gtest.h>

TEST(Processor, TheWideLoopsFollowTheProcessorUnlessTurnedOff) {
#if defined(__x86_64__)
    const bool avx2 = __builtin_cpu_supports("avx2");
#else
    const bool avx2 = false;
#endif
    for (bool allowed : {false, true, false, true}) {
        AllowWideVectors(allowed);
        EXPECT_EQ(WideVectorsInUse(), avx2 && allowed) << allowed;
    }
}
