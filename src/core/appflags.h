#pragma once

#include <atomic>

// Program-wide flags that guard re-entered handlers and tell long waits to give up. Written on the
// UI thread; read there and, for IsClosing, by the HTTP engine of every client (a request gives up
// when the program closes). The EPG walk stops on its own flags (EPGAbort and its stop request).

// Shut-down has begun: every wait ends, no new work starts.
extern std::atomic<bool> IsClosing;
// The start-up's first channel switch has not run yet.
extern std::atomic<bool> IsStarting;
// A channel switch runs; a second one is refused until it ends.
extern std::atomic<bool> IsSwitching;
