#include "node_state_names.h"

namespace CommDiag {

namespace {
constexpr int kUnknownState = 15;
constexpr int kPreOperational = 127;
}  // namespace

const char* nodeStateName(uint32_t state) {
    switch (state) {
        case 0: return "Initialisation";
        case 1: return "Disconnected";
        case 2: return "Connecting";
        case 3: return "Preparing";
        case 4: return "Stopped";
        case 5: return "Operational";
        case kPreOperational: return "Pre_operational";
        default: return "Unknown";
    }
}

int normalisedNodeState(uint32_t state) {
    if (state <= 5 || state == kPreOperational) return static_cast<int>(state);
    return kUnknownState;
}

}  // namespace CommDiag
