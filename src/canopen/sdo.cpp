// Entry of SDO frames into the engine, and the line's hooks into the rest of the stack.
#include "sdo.h"

#include "abort_codes.h"
#include "node_data.h"
#include "sdo_engine.h"

namespace canopen {

using namespace sdo;

void handleSdoFrame(NodeData* node, const CanMessage* message) {
    // An SDO is never a remote frame; such a frame carries no request to answer.
    if (!node || !message || message->rtr) return;
    uint8_t role = kSdoRoleServer;
    uint8_t channel = kServerChannel;
    if (message->cobId != serverRequestCobId(node)) {
        if (!findChannelByAnswerCobId(node, message->cobId, &channel)) return;
        role = kSdoRoleClient;
    }
    if (message->len != 8) {
        // Another node's answers pass on this identifier too: only a transfer of ours there
        // is ended by a broken one.
        const SdoLine& line = node->sdo;
        const bool ours = line.role == role && line.channel == channel && inProgress(line.state);
        if (role == kSdoRoleServer || ours) sendAbort(node, role, channel, 0, 0, kAbortGeneral);
        return;
    }
    if (role == kSdoRoleServer)
        handleServerFrame(node, message->data);
    else
        handleClientFrame(node, channel, message->data);
}

void freeSdoLine(NodeData* node) {
    if (!node) return;
    SdoLine& line = node->sdo;
    // A client request cut off here would otherwise wait for a callback that never comes.
    if (line.role == kSdoRoleClient && inProgress(line.state)) {
        line.alarm = cancelAlarm(line.alarm);
        endClientTransfer(line, kSdoAbortedLocally, kAbortLocalControl);
        notifyClient(node);
        if (inProgress(line.state)) return;  // the callback started the next request
    }
    releaseLine(node);
}

uint8_t getSdoRemaining(NodeData* node, uint8_t line, uint32_t* remaining) {
    if (!remaining) return 0xFF;
    *remaining = 0;
    if (!node || line != 0) return 0xFF;
    const SdoLine& sdoLine = node->sdo;
    if (sdoLine.count > sdoLine.offset) *remaining = sdoLine.count - sdoLine.offset;
    return 0;
}

}  // namespace canopen
