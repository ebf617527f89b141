#pragma once
#include <cstdint>
#include <memory>

namespace platform {

// A one-shot, auto-reset timer a thread can sleep on (Win32 waitable timer). Setting it
// replaces any earlier due time and clears a firing not yet waited for; wait() returns once
// per firing.
class WaitableTimer {
public:
    WaitableTimer();
    ~WaitableTimer();
    WaitableTimer(const WaitableTimer&) = delete;
    WaitableTimer& operator=(const WaitableTimer&) = delete;

    bool valid() const;
    // Fires once, ms milliseconds from now (0: at once). False on failure (see lastErrorCode).
    bool setOnce(uint32_t ms);
    bool cancel();
    // Sleeps until the timer fires, without a time limit.
    void wait();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
