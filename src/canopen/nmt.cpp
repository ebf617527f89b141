#include "nmt.h"

#include "can_port.h"
#include "node_data.h"
#include "node_state.h"

namespace canopen {

uint8_t sendNmtCommand(NodeData* node, uint8_t nodeId, uint8_t command) {
    if (!node) return 1;
    CanMessage m{};
    m.cobId = 0x000;
    m.len = 2;
    m.data[0] = command;
    m.data[1] = nodeId;
    return sendCanFrame(node->port, &m);
}

uint8_t requestNodeGuard(NodeData* node, uint8_t nodeId) {
    if (!node || nodeId >= 128) return 1;
    if (nodeId == 0) {
        for (auto& state : node->remoteStates) state = Unknown;
    } else {
        node->remoteStates[nodeId] = Unknown;
    }
    CanMessage m{};
    m.cobId = static_cast<uint16_t>(0x700 + nodeId);
    m.rtr = 1;
    m.len = 0;
    return sendCanFrame(node->port, &m);
}

void handleNmtCommand(NodeData* node, const CanMessage* message) {
    if (message->len < 2) return;
    const uint8_t state = static_cast<uint8_t>(node->nodeState);
    if (state != Pre_operational && state != Operational && state != Stopped) return;
    const uint8_t target = message->data[1];
    if (target != 0 && target != node->nodeId) return;
    switch (message->data[0]) {
        case kNmtStart:
            if (state == Pre_operational || state == Stopped) setNodeState(node, Operational);
            break;
        case kNmtStop:
            if (state == Pre_operational || state == Operational) setNodeState(node, Stopped);
            break;
        case kNmtEnterPreOperational:
            if (state == Operational || state == Stopped) setNodeState(node, Pre_operational);
            break;
        case kNmtResetNode:
            if (node->hooks.resetNode) node->hooks.resetNode(node);
            setNodeState(node, Initialisation);
            break;
        case kNmtResetCommunication:
            if (node->hooks.resetCommunication) node->hooks.resetCommunication(node);
            // Derive every default COB-id afresh from the pending node id.
            node->nodeId = kNodeIdUnconfigured;
            setNodeId(node, node->pendingNodeId);
            setNodeState(node, Initialisation);
            break;
        default: break;
    }
}

}  // namespace canopen
