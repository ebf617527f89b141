#include "node_state.h"

#include "can_port.h"
#include "emergency_sync_pdo.h"
#include "heartbeat.h"
#include "node_data.h"
#include "sdo.h"

namespace canopen {

namespace {

CommunicationFlags flagsOf(uint8_t state) {
    CommunicationFlags f;
    switch (state) {
        case Initialisation: f.bootUp = 1; break;
        case Pre_operational: f.sdo = f.emergency = f.sync = f.heartbeat = f.lss = 1; break;
        case Stopped: f.heartbeat = f.lss = 1; break;
        case Operational: f.sdo = f.emergency = f.sync = f.heartbeat = f.pdo = 1; break;
        default: break;
    }
    return f;
}

void sendBootUp(NodeData* node) {
    if (node->nodeId == kNodeIdUnconfigured) return;
    CanMessage m{};
    m.cobId = static_cast<uint16_t>(0x700 + (node->nodeId & 0x7F));
    m.len = 1;
    m.data[0] = 0x00;
    sendCanFrame(node->port, &m);
}

// Starts and stops the services whose flag changed, in a fixed order.
void switchServices(NodeData* node, const CommunicationFlags& before) {
    const CommunicationFlags& now = node->flags;
    // The LSS service needs no start or stop: the dispatcher consults its flag.
    if (before.sdo && !now.sdo) freeSdoLine(node);
    if (before.sync != now.sync) now.sync ? startSync(node) : stopSync(node);
    if (before.heartbeat != now.heartbeat) now.heartbeat ? startHeartbeat(node) : stopHeartbeat(node);
    if (!before.emergency && now.emergency) node->syncEmergencyPdo.emergencyErrorCount = 0;
    if (before.pdo != now.pdo) now.pdo ? startPdoEventTimers(node) : stopPdoEventTimers(node);
    if (before.bootUp && !now.bootUp) sendBootUp(node);
}

void enter(NodeData* node, uint8_t state, void (*hook)(NodeData*)) {
    const CommunicationFlags before = node->flags;
    node->flags = flagsOf(state);
    node->nodeState = state;
    switchServices(node, before);
    if (hook) hook(node);
}

}  // namespace

uint8_t setNodeState(NodeData* node, uint8_t state) {
    if (!node) return kStateRefused;
    if (state == node->nodeState) return state;
    if (state > 0x7F) return kStateRefused;
    switch (state) {
        case Initialisation:
            enter(node, Initialisation, node->hooks.initialisation);
            return setNodeState(node, Pre_operational);
        case Pre_operational: enter(node, Pre_operational, node->hooks.preOperational); return Pre_operational;
        case Stopped:
            if (node->nodeState == Initialisation) return kStateRefused;
            enter(node, Stopped, node->hooks.stopped);
            return Stopped;
        case Operational:
            if (node->nodeState == Initialisation) return kStateRefused;
            enter(node, Operational, node->hooks.operational);
            return Operational;
        default: return kStateRefused;
    }
}

void setNodeId(NodeData* node, uint8_t id) {
    if (!node) return;
    node->pendingNodeId = id;
    if (id == kNodeIdUnconfigured) {
        node->nodeId = kNodeIdUnconfigured;
        return;
    }
    if (id == 0 || id > 0x7F) return;
    const uint8_t old = node->nodeId;
    // Only COB-ids still at their default follow the node id; configured ones stay.
    auto move = [old, id](uint32_t& cobId, uint32_t base) {
        if (cobId == base + old || old == kNodeIdUnconfigured) cobId = base + id;
    };
    OdValues& v = node->od.values;
    move(v.sdoServerRequestCobId, 0x600);
    move(v.sdoServerAnswerCobId, 0x580);
    // This dictionary has neither EMCY nor PDO COB-ids to move.
    node->nodeId = id;
}

uint8_t getNodeId(const NodeData* node) { return node ? node->nodeId : kNodeIdUnconfigured; }

uint8_t getNodeState(const NodeData* node, uint8_t nodeId) {
    if (!node || nodeId >= 128) return Unknown;
    return static_cast<uint8_t>(node->remoteStates[nodeId]);
}

void forgetRemoteNodes(NodeData* node) {
    if (!node) return;
    for (auto& state : node->remoteStates) state = Unknown;
    for (auto& counter : node->guard.counters) counter = 0;
}

}  // namespace canopen
