#include "platform/MMSystem.h"
#include "platform/Random.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>

TEST(ScriptedClock, ReturnsReadingsInOrderThenJumpsAheadAndNests) {
    ScriptedClock outer{100, 200};
    EXPECT_EQ(timeGetTime(), 100u);
    {
        ScriptedClock inner([](std::uint64_t read) { return static_cast<DWORD>(7 * read); });
        EXPECT_EQ(timeGetTime(), 0u);
        EXPECT_EQ(timeGetTime(), 7u);
        EXPECT_EQ(inner.Reads(), 2u);
    }
    EXPECT_EQ(timeGetTime(), 200u);
    // Past the script a timed loop must still end.
    EXPECT_GE(ElapsedMs(timeGetTime(), 200u), 10000);
    EXPECT_EQ(outer.Reads(), 3u);
}

TEST(ScriptedClock, ElapsedIsTheSignedWrappingDifference) {
    struct Case {
        DWORD now, start;
        std::int32_t elapsed;
    } cases[] = {
        {10000, 0, 10000},
        {0x00000FFFu, 0xFFFFF000u, 0x1FFF}, // across the wrap
        {5, 10, -5},
        {0x80000000u, 0, INT32_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ElapsedMs(c.now, c.start), c.elapsed) << c.now << " - " << c.start;
}

TEST(RealClock, IsMonotonicMilliseconds) {
    const DWORD a = timeGetTime();
    const DWORD b = timeGetTime();
    EXPECT_GE(ElapsedMs(b, a), 0);
    EXPECT_LT(ElapsedMs(b, a), 1000);
}

TEST(TimeScaledClock, RunsFasterThanRealTimeByItsFactorAndNests) {
    for (std::uint32_t factor : {1u, 100u, 1000u}) {
        const auto realStart = std::chrono::steady_clock::now();
        DWORD first = 0, last = 0;
        {
            TimeScaledClock clock(factor);
            first = timeGetTime();
            // Two real milliseconds of work between the readings.
            while (std::chrono::steady_clock::now() - realStart < std::chrono::milliseconds(2)) {
            }
            last = timeGetTime();
            EXPECT_EQ(clock.Reads(), 2u);
            {
                ScriptedClock inner{7};
                EXPECT_EQ(timeGetTime(), 7u);
            }
        }
        const auto realMs = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - realStart)
                                .count() /
                            1000.0;
        const std::int32_t scaled = ElapsedMs(last, first);
        EXPECT_GE(scaled, static_cast<std::int32_t>(factor)) << factor; // at least 1 real ms
        EXPECT_LE(scaled, static_cast<std::int32_t>((realMs + 1) * factor)) << factor;
        // Gone, the real clock answers again.
        EXPECT_LT(std::abs(ElapsedMs(timeGetTime(), static_cast<DWORD>(GetTickCount64()))), 2);
    }
}

TEST(Random, FollowsTheLinearCongruentialSequence) {
    RandSeed = 0;
    // seed 1: (1 * 100) >> 32 == 0; seed 134775814: (134775814 * 100) >> 32 == 3.
    EXPECT_EQ(Random(100), 0);
    EXPECT_EQ(RandSeed, 1u);
    EXPECT_EQ(Random(100), 3);
    EXPECT_EQ(RandSeed, 134775814u);

    RandSeed = 0xFFFFFFFFu; // seed wraps: 0xFFFFFFFF * 134775813 + 1 mod 2^32
    const DWORD expected = static_cast<DWORD>(0xFFFFFFFFull * 134775813ull + 1ull);
    const std::int32_t value = Random(1000);
    EXPECT_EQ(RandSeed, expected);
    EXPECT_EQ(value, static_cast<std::int32_t>((std::uint64_t{expected} * 1000u) >> 32));
}

TEST(Random, StaysInRangeAndRandomizeSeedsFromTheClock) {
    ScriptedClock clock{4242};
    Randomize();
    EXPECT_EQ(RandSeed, 4242u);
    for (std::int32_t n : {1, 2, 20, 595, 100000}) {
        for (int i = 0; i < 1000; ++i) {
            const std::int32_t v = Random(n);
            ASSERT_GE(v, 0);
            ASSERT_LT(v, n);
        }
    }
}
