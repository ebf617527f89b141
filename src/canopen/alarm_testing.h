#pragma once
// Seams of the alarm service for tests, benchmarks and fuzzing: a clock they control, and
// one pass of the alarm thread's work run on the caller's thread.
#include <cstdint>

namespace canopen::testing {

using TickSource = uint32_t (*)();

// Replaces the tick count the alarm service reads; null restores the system's.
void setTickSource(TickSource source);
// Does what the alarm thread does when its timer fires: take the stack lock, note the
// wake-up time, fire what is due.
void runAlarmWakeup();
// The delay last given to the timer (kNoWakeup after a cancel).
uint32_t programmedWakeup();
// The time from the last wake-up to the next due alarm, as the service reckons it.
uint32_t totalSleepTime();

}  // namespace canopen::testing
