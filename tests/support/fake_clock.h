#pragma once
// The one clock of the tests that run the stack or the client library without real time: it
// replaces the platform clock while it lives. Moving it on wakes the alarm service at each time
// its timer would fire, as the alarm thread would; a wait does not sleep but lets its time-out
// pass on this clock unless its event is set.
#include "platform/clock.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace test_support {

class FakeClock final : public platform::Clock {
public:
    explicit FakeClock(uint32_t start = 100000);
    ~FakeClock() override;
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    uint32_t now() override;
    bool wait(platform::Event& event, uint32_t timeoutMs) override;

    // Sets the time without waking anything.
    void set(uint32_t time) { time_.store(time); }
    // Moves the time on by ms, running the alarm service's wake-ups due on the way and
    // afterWakeup after each.
    void advance(uint32_t ms);
    // Moves the time on by ms right after its next reading: a thread held up after it read it.
    void lateAfterNextRead(uint32_t ms) { lateBy_.store(ms); }

    // Set before the threads that wait start: runs at each wait before time passes (a scripted
    // peer answering what was sent), and after each alarm wake-up (a bus delivering).
    std::function<void()> beforeWait;
    std::function<void()> afterWakeup;

private:
    std::atomic<uint32_t> time_;
    std::atomic<uint32_t> lateBy_{0};
};

}  // namespace test_support
