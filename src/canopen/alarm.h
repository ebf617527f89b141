#pragma once
// The stack's one timer service and its one lock. All timed work (time-outs, heartbeat,
// delayed starts) runs from a table of 32 alarms served by a single alarm thread.
#include <cstdint>

namespace canopen {

struct NodeData;

using AlarmHandle = int16_t;  // slot number
constexpr AlarmHandle NO_ALARM = -1;
constexpr int kAlarmSlotCount = 32;
// Time values are unsigned milliseconds; this one means "none pending".
constexpr uint32_t kNoWakeup = 0xFFFFFFFFu;

using AlarmCallback = void (*)(NodeData* owner, uint32_t id);

// Life cycle: initAlarmService, startAlarmThread, ..., stopAlarmThread, releaseAlarmService.
void initAlarmService();
// Runs startCallback(null, 0) on the alarm thread as its first piece of work.
void startAlarmThread(AlarmCallback startCallback);
// Runs stopCallback(null, 0) under the stack lock, then ends the alarm thread (at most
// 1000 ms). Armed alarms stay in the table.
void stopAlarmThread(AlarmCallback stopCallback);
void releaseAlarmService();

// The stack lock (re-entrant). Frame handlers and alarm callbacks run with it held; every
// other caller of stack operations takes it around each call.
void lockStack();
void unlockStack();

class StackLockGuard {
public:
    StackLockGuard() { lockStack(); }
    ~StackLockGuard() { unlockStack(); }
    StackLockGuard(const StackLockGuard&) = delete;
    StackLockGuard& operator=(const StackLockGuard&) = delete;
};

// Arms callback(owner, id) to fire after `delay` ms and then every `period` ms (0: once).
// NO_ALARM when the table is full or the callback is null. Caller holds the stack lock.
AlarmHandle armAlarm(NodeData* owner, uint32_t id, AlarmCallback callback, uint32_t delay, uint32_t period);
// Frees the slot; always returns NO_ALARM, so that callers write h = cancelAlarm(h).
AlarmHandle cancelAlarm(AlarmHandle handle);

// Milliseconds since the alarm thread last woke up (wraps with the tick count).
uint32_t elapsedSinceWakeup();

}  // namespace canopen
