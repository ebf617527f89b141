#include "alarm.h"

#include "alarm_testing.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/mutex.h"
#include "platform/thread.h"
#include "platform/waitable_timer.h"

#include <atomic>
#include <cstdio>
#include <memory>

namespace canopen {

namespace {

enum AlarmState : uint8_t {
    kFree = 0,
    kArmed = 1,
    kFiredOnce = 2,
    kFiredPeriodic = 3,
};

struct AlarmEntry {
    uint8_t state = kFree;
    NodeData* owner = nullptr;
    AlarmCallback callback = nullptr;
    uint32_t id = 0;
    uint32_t remaining = 0;  // from the last wake-up until due
    uint32_t period = 0;     // 0: one-shot
};

// Everything but the stop flag is guarded by the stack lock. The alarm thread keeps its own
// reference to the timer, so that a thread given up by a bounded join never waits on a
// destroyed one.
struct AlarmService {
    std::shared_ptr<platform::WaitableTimer> timer;
    platform::Thread thread;
    std::atomic<int> stopFlag{0};
    AlarmCallback startCallback = nullptr;
    uint32_t lastWakeup = 0;
    uint32_t totalSleep = kNoWakeup;
    uint32_t programmed = kNoWakeup;
    int16_t highestUsed = -1;
    AlarmEntry table[kAlarmSlotCount];
};

// Both live for the whole process, never destroyed: a receive or alarm thread that outlived
// its bounded join may still reach them during exit.
platform::RecursiveLock& stackLockObject() {
    static auto* lock = new platform::RecursiveLock;
    return *lock;
}

AlarmService& service() {
    static auto* instance = new AlarmService;
    return *instance;
}

uint32_t tickNow() { return platform::clockNow(); }

void trace(const char* format, int code) {
    std::printf(format, code);
    std::fflush(stdout);
}

std::shared_ptr<platform::WaitableTimer> createTimer() {
    auto timer = std::make_shared<platform::WaitableTimer>();
    if (!timer->valid()) {
        trace("CreateWaitableTimer failed (%d)\n", platform::lastErrorCode());
        return nullptr;
    }
    return timer;
}

// kNoWakeup cancels the timer; any other value makes it fire once after ms.
void programWakeup(uint32_t ms) {
    AlarmService& s = service();
    s.programmed = ms;
    if (!s.timer) return;  // the service is stopped; nothing sleeps on a timer now
    if (ms == kNoWakeup) {
        s.timer->cancel();
    } else if (!s.timer->setOnce(ms)) {
        trace("SetWaitableTimer failed (%d)\n", platform::lastErrorCode());
    }
}

// `slept`: the time from the previous wake-up to this one's reading of the clock, which a thread
// woken late reads late; the time it was held up after that reading counts too. Due alarms are
// those whose time has come by then; the rest keep their times.
void dispatchAlarms(uint32_t slept) {
    AlarmService& s = service();
    const uint32_t overrun = elapsedSinceWakeup();
    const uint32_t elapsed = slept + overrun;
    s.lastWakeup += overrun;
    uint32_t next = kNoWakeup;
    for (int i = 0; i <= s.highestUsed; ++i) {
        AlarmEntry& e = s.table[i];
        if (!(e.state & kArmed)) continue;
        if (e.remaining > elapsed) {
            e.remaining -= elapsed;
        } else if (e.period == 0) {
            e.state = kFiredOnce;
            continue;
        } else {
            // Periodic alarms keep their phase: lateness shortens the next period.
            e.state = kFiredPeriodic;
            e.remaining = e.period - ((elapsed - e.remaining) % e.period);
        }
        if (e.remaining < next) next = e.remaining;
    }
    s.totalSleep = next;
    programWakeup(next);

    // Callbacks may arm and cancel alarms, their own slot included: re-read the bound each time.
    for (int i = 0; i <= s.highestUsed; ++i) {
        AlarmEntry& e = s.table[i];
        if (!(e.state & 0x02)) continue;
        e.state &= static_cast<uint8_t>(~0x02u);
        const AlarmCallback callback = e.callback;
        if (callback) callback(e.owner, e.id);
    }
}

uint32_t alarmThreadMain(void* arg) {
    std::unique_ptr<std::shared_ptr<platform::WaitableTimer>> owned(
        static_cast<std::shared_ptr<platform::WaitableTimer>*>(arg));
    const std::shared_ptr<platform::WaitableTimer> timer = *owned;
    AlarmService& s = service();
    while (!s.stopFlag.load()) {
        timer->wait();
        if (s.stopFlag.load()) break;
        testing::runAlarmWakeup();
    }
    return 0;
}

}  // namespace

void initAlarmService() {
    StackLockGuard lock;
    AlarmService& s = service();
    // A running alarm thread sleeps on the timer it has; keep that one.
    if (!s.thread.attached()) s.timer = createTimer();
    s.lastWakeup = tickNow();
}

void startAlarmThread(AlarmCallback startCallback) {
    AlarmService& s = service();
    if (s.thread.attached()) return;
    s.stopFlag.store(0);
    std::shared_ptr<platform::WaitableTimer> timer;
    {
        StackLockGuard lock;
        s.startCallback = startCallback;
        if (!s.timer) s.timer = createTimer();
        timer = s.timer;
        armAlarm(nullptr, 0, startCallback, 0, 0);
        // A timer made since the last stop knows nothing of alarms the table still holds
        // (armAlarm reprograms only for an earlier wake-up): give it the pending one.
        if (s.totalSleep != kNoWakeup) {
            const uint32_t now = elapsedSinceWakeup();
            programWakeup(s.totalSleep > now ? s.totalSleep - now : 0);
        }
    }
    if (!timer) return;
    auto* arg = new std::shared_ptr<platform::WaitableTimer>(timer);
    if (!s.thread.start(alarmThreadMain, arg)) delete arg;
}

void stopAlarmThread(AlarmCallback stopCallback) {
    AlarmService& s = service();
    {
        StackLockGuard lock;
        if (stopCallback) stopCallback(nullptr, 0);
    }
    s.stopFlag.store(1);
    {
        StackLockGuard lock;
        if (s.timer && !s.timer->setOnce(0)) trace("SetWaitableTimer failed (%d)\n", platform::lastErrorCode());
    }
    s.thread.join(platform::Thread::kDefaultJoinMs, "alarm");
    StackLockGuard lock;
    s.timer.reset();
}

void releaseAlarmService() {
    // The lock itself lives on (see stackLockObject); what the service still holds goes.
    AlarmService& s = service();
    StackLockGuard lock;
    if (!s.thread.attached()) s.timer.reset();
}

void lockStack() { stackLockObject().lock(); }
void unlockStack() { stackLockObject().unlock(); }

AlarmHandle armAlarm(NodeData* owner, uint32_t id, AlarmCallback callback, uint32_t delay, uint32_t period) {
    if (!callback) return NO_ALARM;
    AlarmService& s = service();
    int slot = -1;
    for (int i = 0; i <= s.highestUsed + 1 && i < kAlarmSlotCount; ++i) {
        if (s.table[i].state == kFree) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return NO_ALARM;
    if (slot == s.highestUsed + 1) ++s.highestUsed;

    const uint32_t now = elapsedSinceWakeup();
    if (s.totalSleep > now && s.totalSleep - now > delay) {
        s.totalSleep = delay + now;
        programWakeup(delay);
    }
    AlarmEntry& e = s.table[slot];
    e.owner = owner;
    e.id = id;
    e.callback = callback;
    e.remaining = delay + now;
    e.period = period;
    e.state = kArmed;
    return static_cast<AlarmHandle>(slot);
}

AlarmHandle cancelAlarm(AlarmHandle handle) {
    if (handle < 0 || handle >= kAlarmSlotCount) return NO_ALARM;
    AlarmService& s = service();
    if (handle == s.highestUsed) --s.highestUsed;
    s.table[handle].state = kFree;
    return NO_ALARM;
}

uint32_t elapsedSinceWakeup() { return tickNow() - service().lastWakeup; }

namespace testing {

void runAlarmWakeup() {
    StackLockGuard lock;
    AlarmService& s = service();
    const uint32_t now = tickNow();
    const uint32_t slept = now - s.lastWakeup;
    s.lastWakeup = now;
    dispatchAlarms(slept);
}

uint32_t programmedWakeup() {
    StackLockGuard lock;
    return service().programmed;
}

uint32_t totalSleepTime() {
    StackLockGuard lock;
    return service().totalSleep;
}

int highestUsedSlot() {
    StackLockGuard lock;
    return service().highestUsed;
}

uint32_t lastWakeup() {
    StackLockGuard lock;
    return service().lastWakeup;
}

void resetAlarmTable() {
    StackLockGuard lock;
    AlarmService& s = service();
    for (auto& entry : s.table) entry = AlarmEntry{};
    s.highestUsed = -1;
    s.totalSleep = kNoWakeup;
    s.lastWakeup = tickNow();
    programWakeup(kNoWakeup);
}

}  // namespace testing

}  // namespace canopen
