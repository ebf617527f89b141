#pragma once
// How finished SDO transfers turn into client results.
#include <cstdint>
#include <map>

namespace CommDiag {

// CANopen abort code -> client result; built on first use, lives until unload.
const std::map<uint32_t, int>& abortCodeMap();

// The result of a finished SDO operation from the stack's status byte and abort code: a
// mapped non-zero abort code wins; otherwise finished is 0, the stack's own time-out 19 and
// anything else 1.
int mapSdoResult(uint8_t status, uint32_t abortCode);

}  // namespace CommDiag
