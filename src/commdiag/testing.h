#pragma once
// Seams for tests: the connection procedures' poll waits run through one function that a
// test may replace, so that time budgets of seconds are walked through without sleeping.
#include <cstdint>

namespace CommDiag::testing {

// Called instead of waiting ms milliseconds; null restores real waiting.
using PollWait = void (*)(uint32_t ms);
void setPollWait(PollWait wait);

// How long the firmware update waits, from the restart on, for the machine to come back, erase
// and report the erase before it gives up; 0 restores the default (five minutes).
void setFirmwareWaitLimit(uint32_t ms);

}  // namespace CommDiag::testing
