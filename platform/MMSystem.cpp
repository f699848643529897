#include "MMSystem.h"

#include <chrono>
#include <ctime>

namespace {
ScriptedClock* installed = nullptr;

} // namespace

std::uint64_t GetTickCount64() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

DWORD timeGetTime() {
    return installed ? installed->Next() : static_cast<DWORD>(GetTickCount64());
}

ScriptedClock::ScriptedClock(Script script) : script_(std::move(script)), previous_(installed) {
    installed = this;
}

ScriptedClock::ScriptedClock(std::initializer_list<DWORD> readings)
    : ScriptedClock([values = std::vector<DWORD>(readings)](std::uint64_t read) -> DWORD {
          if (read < values.size())
              return values[read];
          const DWORD last = values.empty() ? 0 : values.back();
          return last + 0x40000000u + static_cast<DWORD>(read - values.size());
      }) {}

ScriptedClock::~ScriptedClock() {
    installed = previous_;
}

DWORD ScriptedClock::Next() {
    return script_(reads_++);
}

TimeScaledClock::TimeScaledClock(std::uint32_t factor)
    : clock_([factor, origin = std::chrono::steady_clock::now(),
              base = static_cast<DWORD>(GetTickCount64())](std::uint64_t) {
          const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
              std::chrono::steady_clock::now() - origin);
          const std::uint64_t scaledMs =
              static_cast<std::uint64_t>(elapsed.count()) * factor / 1000u;
          return static_cast<DWORD>(base + scaledMs);
      }) {}
