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
