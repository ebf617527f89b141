#include "platform/clock.h"

#include "platform/event.h"

namespace platform {

namespace {

class RealClock final : public Clock {
public:
    uint32_t now() override { return tickCountMs(); }
    bool wait(Event& event, uint32_t timeoutMs) override { return event.wait(timeoutMs); }
};

RealClock g_realClock;

}  // namespace

std::atomic<Clock*> detail::installedClock{nullptr};

Clock& clock() {
    Clock* installed = detail::installedClock.load(std::memory_order_acquire);
    return installed ? *installed : g_realClock;
}

void installClock(Clock* replacement) { detail::installedClock.store(replacement, std::memory_order_release); }

}  // namespace platform
