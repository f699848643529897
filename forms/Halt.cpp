#include "Halt.h"

#include "Application.h"

#include <cstdio>
#include <cstdlib>

int ExitCode = 0;

namespace {
HaltAction& Action() {
    static HaltAction action;
    return action;
}
std::string& Reason() {
    static std::string reason;
    return reason;
}
} // namespace

void Halt(const std::string& reason) {
    Reason() = reason;
    if (!reason.empty()) {
        std::fprintf(stderr, "zelka: halted: %s\n", reason.c_str());
        std::fflush(stderr);
    }
    if (Action())
        Action()();
    if (ExitCode == 0)
        ExitCode = kHaltExitCode;
    if (Application)
        Application->DestroyForms();
    std::fflush(nullptr);
    std::exit(ExitCode);
}

void Halt() {
    Halt(std::string());
}

const std::string& HaltReason() {
    return Reason();
}

HaltAction SetHaltAction(HaltAction action) {
    HaltAction previous = std::move(Action());
    Action() = std::move(action);
    return previous;
}
