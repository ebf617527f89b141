#include "platform/clock.h"

#include "platform/event.h"

#include <atomic>

namespace platform {

namespace {

class RealClock final : public Clock {
public:
    uint32_t now() override { return tickCountMs(); }
    bool wait(Event& event, uint32_t timeoutMs) override { return event.wait(timeoutMs); }
};

RealClock g_realClock;
std::atomic<Clock*> g_clock{nullptr};

}  // namespace

Clock& clock() {
    Clock* installed = g_clock.load(std::memory_order_acquire);
    return installed ? *installed : g_realClock;
}

void installClock(Clock* replacement) { g_clock.store(replacement, std::memory_order_release); }

}  // namespace platform
