#pragma once
// A seam for tests: the firmware update's wait limit. (Poll waits and delays run on the platform
// clock, which tests replace.)
#include <cstdint>

namespace CommDiag::testing {

// How long the firmware update waits, from the restart on, for the machine to come back, erase
// and report the erase before it gives up; 0 restores the default (five minutes).
void setFirmwareWaitLimit(uint32_t ms);

}  // namespace CommDiag::testing
