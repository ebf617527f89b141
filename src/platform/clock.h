#pragma once
#include <atomic>
#include <cstdint>

namespace platform {

class Event;

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t tickCountMs();

void sleepMs(uint32_t ms);

// The time that timed work goes by: the time-outs and delays of the stack and of the client
// library read it here. The real clock unless a test installed one it moves by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds, wrapping like tickCountMs.
    virtual uint32_t now() = 0;
    // Waits until `event` is set or timeoutMs pass; true when the event was set.
    virtual bool wait(Event& event, uint32_t timeoutMs) = 0;
};

Clock& clock();
// Replaces the clock for the whole process; null restores the real one. Install before the
// threads that read it start, remove after they end.
void installClock(Clock* replacement);

namespace detail {
extern std::atomic<Clock*> installedClock;
}

// clock().now(), without the calls when no clock is installed: the stack reads the time for
// every frame that restarts a time-out.
inline uint32_t clockNow() {
    Clock* installed = detail::installedClock.load(std::memory_order_acquire);
    return installed ? installed->now() : tickCountMs();
}

}  // namespace platform
