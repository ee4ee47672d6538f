#pragma once

#include "core/appflags.h"
#include "core/options.h"

// The program's state before it starts: default options, no start-up, switch or close under way. A test holding one
// starts from it and leaves it behind, so the next test in the process finds the same.
class ScopedAppState {
public:
    ScopedAppState() { reset(); }
    ~ScopedAppState() { reset(); }
    ScopedAppState(const ScopedAppState&) = delete;
    ScopedAppState& operator=(const ScopedAppState&) = delete;

    static void reset() {
        Options = TOptions{};
        IsClosing = false;
        IsStarting = false;
        IsSwitching = false;
    }
};
