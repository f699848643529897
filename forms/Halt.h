#pragma once
// Halting the program: the orderly shutdown a fatal engine report ends in. The forms are
// destroyed in reverse creation order (so their components release what they hold), then the
// process exits with ExitCode. Tests replace the action with one that throws.
#include <functional>
#include <string>

// The exit code a halt ends the process with; a halt with nothing set ends with
// kHaltExitCode, never with the 0 of success.
extern int ExitCode;
inline constexpr int kHaltExitCode = 3;

using HaltAction = std::function<void()>;

// Never returns. Tells the reason on standard error ("zelka: halted: <reason>"), runs the
// installed action; should that return, the default shutdown runs.
[[noreturn]] void Halt(const std::string& reason);
[[noreturn]] void Halt();
// The reason of the halt under way (empty outside a halt or when none was given).
const std::string& HaltReason();

// Installs an action for Halt and returns the previous one (empty: the default shutdown).
HaltAction SetHaltAction(HaltAction action);

// Installs an action while it lives.
class ScopedHaltAction {
public:
    explicit ScopedHaltAction(HaltAction action) : previous_(SetHaltAction(std::move(action))) {}
    ~ScopedHaltAction() { SetHaltAction(std::move(previous_)); }
    ScopedHaltAction(const ScopedHaltAction&) = delete;
    ScopedHaltAction& operator=(const ScopedHaltAction&) = delete;

private:
    HaltAction previous_;
};
