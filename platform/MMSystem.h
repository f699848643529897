#pragma once
// The multimedia timer: a wrapping 32-bit millisecond count. Every measurement reads time
// through timeGetTime only, so tests can script it.
#include "WinTypes.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

// Milliseconds since boot from the monotonic clock, wrapping at 2^32; or, while a
// ScriptedClock is installed, the script's next reading.
DWORD timeGetTime();

// Milliseconds since boot from the same monotonic clock, in 64 bits: it does not wrap.
std::uint64_t GetTickCount64();

// Elapsed time between two readings as the tests compare it: the signed 32-bit difference of
// the wrapping counts, so a wrap of the counter in between is harmless.
inline std::int32_t ElapsedMs(DWORD now, DWORD start) {
    return static_cast<std::int32_t>(now - start);
}

// A test clock. While it lives, timeGetTime returns script(n) for its n-th call (n from 0).
// Clocks nest: destroying one reinstalls the one before it.
class ScriptedClock {
public:
    using Script = std::function<DWORD(std::uint64_t read)>;

    explicit ScriptedClock(Script script);
    // Returns the readings in order; after the last one the clock jumps a quarter of its range
    // ahead and keeps going, so a timed loop under test always ends.
    ScriptedClock(std::initializer_list<DWORD> readings);
    ~ScriptedClock();
    ScriptedClock(const ScriptedClock&) = delete;
    ScriptedClock& operator=(const ScriptedClock&) = delete;

    // How many times timeGetTime has been called since this clock was installed.
    std::uint64_t Reads() const { return reads_; }
    DWORD Next();

private:
    Script script_;
    std::uint64_t reads_ = 0;
    ScriptedClock* previous_;
};

// A test clock that runs `factor` times faster than real time, starting from the real count,
// so a whole benchmark run of timed loops finishes in a fraction of its nominal length while
// the loops still do real work between readings.
class TimeScaledClock {
public:
    explicit TimeScaledClock(std::uint32_t factor);
    std::uint64_t Reads() const { return clock_.Reads(); }

private:
    ScriptedClock clock_;
};
