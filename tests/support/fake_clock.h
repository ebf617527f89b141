#pragma once
// The one clock of the tests that run the stack, the client library or the machine link without
// real time: it replaces the platform clock while it lives. Moving it on wakes the alarm service
// at each time its timer would fire, as the alarm thread would. A wait never sleeps its time-out:
// with a wait hook it runs the hook and lets the time-out pass on this clock at once (unless the
// event is already set); without one, time stands still for it and only its event ends it (a
// thread caught inside a wait, until the code under test sets the event).
#include "platform/clock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

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

    // Runs at each wait before its time passes (a scripted peer answering what was sent);
    // null: waits end only by their events.
    void setWaitHook(std::function<void()> hook);
    // Set before the threads that move the clock start: runs after each alarm wake-up (a bus
    // delivering).
    std::function<void()> afterWakeup;

    // A bound on the waits without hook, so that a test whose code never sets the event fails
    // instead of hanging.
    static constexpr uint32_t kHeldWaitLimitMs = 60000;

private:
    std::atomic<uint32_t> time_;
    std::atomic<uint32_t> lateBy_{0};
    std::mutex hookMutex_;
    std::function<void()> waitHook_;
};

// Real time with waits cut short, while it lives: for end-to-end tests that want the converter's
// fixed delays (the reconnection's after a close) out of their way but the stack on real time.
class ShortWaitClock final : public platform::Clock {
public:
    ShortWaitClock();
    ~ShortWaitClock() override;
    // From now on no wait lasts longer than this.
    void capWaits(uint32_t longestWaitMs) { longestWaitMs_.store(longestWaitMs); }
    ShortWaitClock(const ShortWaitClock&) = delete;
    ShortWaitClock& operator=(const ShortWaitClock&) = delete;

    uint32_t now() override;
    bool wait(platform::Event& event, uint32_t timeoutMs) override;

private:
    std::atomic<uint32_t> longestWaitMs_{0xFFFFFFFFu};
};

}  // namespace test_support
