#include "Halt.h"

#include <cstdio>
#include <cstdlib>

#include "Application.h"

int ExitCode = 0;

namespace {
HaltAction& Action() {
    static HaltAction action;
    return action;
}
} // namespace

void Halt() {
    if (Action())
        Action()();
    if (Application)
        Application->DestroyForms();
    std::fflush(nullptr);
    std::exit(ExitCode);
}

HaltAction SetHaltAction(HaltAction action) {
    HaltAction previous = std::move(Action());
    Action() = std::move(action);
    return previous;
}
