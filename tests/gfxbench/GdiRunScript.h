#pragma once
// The scripted clock of a GDI test run: how many shapes and frames each timed phase lets
// through, and the readings that make it so.
#include "platform/MMSystem.h"

#include <cstdint>
#include <vector>

// How many shapes or frames each phase gets from the clock, and the seeds it hands out.
struct GdiPlan {
    std::int32_t lines = 0, rectangles = 0, ellipses = 0, frames = 0;
    DWORD base = 1000;
    DWORD seed1 = 12345;
    DWORD seed2 = 777;
};

// The clock readings of one run: the seed, then per phase its start, one reading per loop
// test that lets a shape or frame through (the first at the start, the last 1 ms before the
// limit), and a reading exactly at the limit that ends it.
inline std::vector<DWORD> GdiReadings(const GdiPlan& plan) {
    std::vector<DWORD> r{plan.seed1};
    DWORD t = plan.base;
    auto phase = [&](std::int32_t count, DWORD limit) {
        const DWORD start = t;
        r.push_back(start);
        for (std::int32_t i = 0; i < count; ++i)
            r.push_back(count == 1 ? start : start + DWORD(i) * (limit - 1) / DWORD(count - 1));
        r.push_back(start + limit);
        t = start + limit + 3;
    };
    phase(plan.lines, 4000);
    phase(plan.rectangles, 4000);
    phase(plan.ellipses, 4000);
    r.push_back(plan.seed2);
    phase(plan.frames, 10000);
    return r;
}

// The clock of one run, following the plan while it lives; past the plan it jumps far ahead,
// which ends any phase.
struct ScriptedGdiRun {
    explicit ScriptedGdiRun(const GdiPlan& plan)
        : readings(GdiReadings(plan)), clock([this](std::uint64_t i) {
              return i < readings.size() ? readings[i] : readings.back() + 0x40000000u;
          }) {}
    std::vector<DWORD> readings;
    ScriptedClock clock;
};
