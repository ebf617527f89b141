// Place of the SDO engine (client and server transfers over the node's single line).
// Until the engine lands here, frames are ignored and every transfer start is refused as
// "line busy", so that callers see a clean failure rather than a silent success.
#include "sdo.h"

#include "node_data.h"

namespace canopen {

uint8_t readNetworkDictCallback(NodeData*, uint8_t, uint16_t, uint8_t, uint8_t, SdoCallback, bool) {
    return kSdoBusy;
}

uint8_t writeNetworkDict(NodeData*, uint8_t, uint16_t, uint8_t, uint32_t, uint8_t, const void*, bool) {
    return kSdoBusy;
}

uint8_t writeNetworkDictWithCallback(NodeData*, uint8_t, uint16_t, uint8_t, uint32_t, uint8_t, const void*,
                                     SdoCallback, bool) {
    return kSdoBusy;
}

uint8_t getReadResultNetworkDict(NodeData*, uint8_t, void*, uint32_t* size, uint32_t*) {
    if (size) *size = 0;
    return kSdoAbortedLocally;
}

uint8_t getWriteResultNetworkDict(NodeData*, uint8_t, uint32_t*) { return kSdoAbortedLocally; }

uint8_t resetSdoClientLine(NodeData*, uint8_t, uint8_t) { return 0xFF; }

uint8_t getSdoRemaining(NodeData*, uint8_t, uint32_t* remaining) {
    if (remaining) *remaining = 0;
    return 0;
}

void handleSdoFrame(NodeData*, const CanMessage*) {}

void freeSdoLine(NodeData* node) {
    SdoLine& line = node->sdo;
    line.alarm = cancelAlarm(line.alarm);
    line.channel = 0;
    line.role = kSdoRoleNone;
    line.state = kSdoFree;
    line.abortCode = 0;
    line.callback = nullptr;
    line.heapBuffer.reset();
    line.heapSize = 0;
}

}  // namespace canopen
