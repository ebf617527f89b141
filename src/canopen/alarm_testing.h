#pragma once
// Seams of the alarm service for tests, benchmarks and fuzzing: one pass of the alarm thread's
// work run on the caller's thread, and what the service reckons. Its clock is the platform's
// (platform/clock.h), which they may replace.
#include <cstdint>

namespace canopen::testing {

// Does what the alarm thread does when its timer fires: take the stack lock, note the
// wake-up time, fire what is due.
void runAlarmWakeup();
// The delay last given to the timer (kNoWakeup after a cancel).
uint32_t programmedWakeup();
// The time from the last wake-up to the next due alarm, as the service reckons it.
uint32_t totalSleepTime();
// The highest slot the arming scan covers (-1: none).
int highestUsedSlot();
// The tick count taken at the latest wake-up.
uint32_t lastWakeup();
// Frees every slot and forgets the pending wake-up, so that a test starts from an empty
// table whatever ran before it in the same process.
void resetAlarmTable();

}  // namespace canopen::testing
