#include "core/appflags.h"

std::atomic<bool> IsClosing{false};
std::atomic<bool> IsStarting{true};
std::atomic<bool> IsSwitching{false};
