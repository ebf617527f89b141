#include "fake_clock.h"

#include "canopen/alarm.h"
#include "canopen/alarm_testing.h"
#include "platform/event.h"

namespace test_support {

FakeClock::FakeClock(uint32_t start) : time_(start) { platform::installClock(this); }

FakeClock::~FakeClock() { platform::installClock(nullptr); }

uint32_t FakeClock::now() {
    const uint32_t now = time_.load();
    if (const uint32_t late = lateBy_.exchange(0)) time_ += late;
    return now;
}

void FakeClock::setWaitHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(hookMutex_);
    waitHook_ = std::move(hook);
}

bool FakeClock::wait(platform::Event& event, uint32_t timeoutMs) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex_);
        hook = waitHook_;
    }
    if (!hook) return event.wait(kHeldWaitLimitMs);
    if (event.wait(0)) return true;
    hook();
    advance(timeoutMs);
    return event.wait(0);
}

void FakeClock::advance(uint32_t ms) {
    const uint32_t target = time_.load() + ms;
    // Bounded, so that an alarm re-arming itself with no delay cannot hold a test forever.
    for (int wakeups = 0; wakeups < 100000; ++wakeups) {
        const uint32_t sleep = canopen::testing::totalSleepTime();
        if (sleep == canopen::kNoWakeup) break;
        uint32_t due = canopen::testing::lastWakeup() + sleep;
        if (static_cast<int32_t>(due - target) > 0) break;
        if (static_cast<int32_t>(due - time_.load()) < 0) due = time_.load();
        time_.store(due);
        canopen::testing::runAlarmWakeup();
        if (afterWakeup) afterWakeup();
    }
    time_.store(target);
}

ShortWaitClock::ShortWaitClock() { platform::installClock(this); }

ShortWaitClock::~ShortWaitClock() { platform::installClock(nullptr); }

uint32_t ShortWaitClock::now() { return platform::tickCountMs(); }

bool ShortWaitClock::wait(platform::Event& event, uint32_t timeoutMs) {
    const uint32_t longest = longestWaitMs_.load();
    return event.wait(timeoutMs < longest ? timeoutMs : longest);
}

}  // namespace test_support
