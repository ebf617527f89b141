#pragma once
// CANopen abort codes (CiA 301) the stack raises or reports.
#include <cstdint>

namespace canopen {

constexpr uint32_t kAbortToggleNotAlternated = 0x05030000u;
constexpr uint32_t kAbortSdoTimedOut = 0x05040000u;
constexpr uint32_t kAbortOutOfMemory = 0x05040005u;
constexpr uint32_t kAbortWriteOnly = 0x06010001u;
constexpr uint32_t kAbortReadOnly = 0x06010002u;
constexpr uint32_t kAbortNoObject = 0x06020000u;
constexpr uint32_t kAbortLengthMismatch = 0x06070010u;
constexpr uint32_t kAbortNoSubIndex = 0x06090011u;
constexpr uint32_t kAbortValueRange = 0x06090030u;
constexpr uint32_t kAbortGeneral = 0x08000000u;
constexpr uint32_t kAbortLocalControl = 0x08000021u;

}  // namespace canopen
