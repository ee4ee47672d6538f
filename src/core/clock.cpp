#include "core/clock.h"

#include <atomic>

namespace {

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

const SystemClock g_systemClock;
std::atomic<const Clock*> g_clock{nullptr};

} // namespace

const Clock& Clock::current() {
    const Clock* c = g_clock.load(std::memory_order_acquire);
    return c ? *c : g_systemClock;
}

void Clock::setCurrent(const Clock* clock) {
    g_clock.store(clock, std::memory_order_release);
}
