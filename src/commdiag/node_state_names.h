#pragma once
// Node states as the client reports them.
#include <cstdint>

namespace CommDiag {

// The name in log lines; "Unknown" for anything not a known state.
const char* nodeStateName(uint32_t state);
// 0..5 and 127 as they are, anything else as 15 (unknown).
int normalisedNodeState(uint32_t state);

}  // namespace CommDiag
