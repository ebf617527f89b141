#include "heartbeat.h"

#include "alarm.h"
#include "can_port.h"
#include "node_data.h"
#include "node_state.h"
#include "object_dictionary.h"

namespace canopen {

namespace {

// 0x1016 sub n: bits 16..23 the producer's node id, bits 0..15 its heartbeat time in ms.
uint8_t consumerNode(uint32_t entry) { return static_cast<uint8_t>((entry >> 16) & 0xFF); }
uint32_t consumerTime(uint32_t entry) { return entry & 0xFFFF; }

// Sub 0 of 0x1016 is writable with access checks off; never trust it beyond the table.
int consumerCount(const NodeData* node) {
    const int count = node->od.values.heartbeatConsumerCount;
    return count < kHeartbeatConsumers ? count : kHeartbeatConsumers;
}

void sendErrorControl(NodeData* node, uint8_t stateByte) {
    if (node->nodeId > 0x7F) return;  // unconfigured: 0x700 + 0xFF is no error-control id
    CanMessage m{};
    m.cobId = static_cast<uint16_t>(0x700 + node->nodeId);
    m.len = 1;
    m.data[0] = stateByte;
    sendCanFrame(node->port, &m);
}

void producerTick(NodeData* node, uint32_t) {
    if (node->od.values.heartbeatProducerTime != 0) {
        sendErrorControl(node, static_cast<uint8_t>(node->nodeState));
    } else {
        node->heartbeat.producerAlarm = cancelAlarm(node->heartbeat.producerAlarm);
    }
}

void consumerTimedOut(NodeData* node, uint32_t entryIndex) {
    if (entryIndex >= static_cast<uint32_t>(kHeartbeatConsumers)) return;
    node->heartbeat.consumerAlarms[entryIndex] = NO_ALARM;
    const uint8_t nodeId = consumerNode(node->od.values.heartbeatConsumerTime[entryIndex]);
    if (nodeId < 128) node->remoteStates[nodeId] = Disconnected;
    if (node->hooks.heartbeatError) node->hooks.heartbeatError(node, nodeId);
}

uint32_t producerTimeWritten(NodeData* node, const OdIndexEntry*, uint8_t) {
    // Only a running heartbeat restarts; otherwise the new time applies at the next start.
    if (node->flags.heartbeat) {
        stopHeartbeat(node);
        startHeartbeat(node);
    }
    return 0;
}

void guardTick(NodeData* node, uint32_t) {
    NodeGuardData& g = node->guard;
    for (int id = 0; id < 128; ++id) {
        if (id == node->nodeId || node->remoteStates[id] == Unknown) continue;
        if (g.counters[id] == 0) {
            if (node->hooks.lifeGuard) node->hooks.lifeGuard(node, static_cast<uint8_t>(id));
            node->remoteStates[id] = Disconnected;
        } else {
            --g.counters[id];
        }
        CanMessage m{};
        m.cobId = static_cast<uint16_t>(0x700 + id);
        m.rtr = 1;
        sendCanFrame(node->port, &m);
    }
}

uint32_t guardParameterWritten(NodeData* node, const OdIndexEntry*, uint8_t);

void startNodeGuarding(NodeData* node) {
    // Guard time (0x100C) and life-time factor (0x100D): absent from this dictionary, so the
    // hooks do not register and guarding stays off unless the values are set otherwise.
    registerWriteHook(node, 0x100C, 0, guardParameterWritten);
    registerWriteHook(node, 0x100D, 0, guardParameterWritten);
    NodeGuardData& g = node->guard;
    uint32_t size = sizeof g.guardTime;
    readLocalObject(node, 0x100C, 0, &g.guardTime, &size, nullptr, false);
    size = sizeof g.lifeTimeFactor;
    readLocalObject(node, 0x100D, 0, &g.lifeTimeFactor, &size, nullptr, false);
    if (g.guardTime == 0 || g.lifeTimeFactor == 0) return;
    g.alarm = armAlarm(node, 0, guardTick, g.guardTime, g.guardTime);
}

uint32_t guardParameterWritten(NodeData* node, const OdIndexEntry*, uint8_t) {
    if (node->flags.heartbeat) {
        node->guard.alarm = cancelAlarm(node->guard.alarm);
        startNodeGuarding(node);
    }
    return 0;
}

}  // namespace

void startHeartbeat(NodeData* node) {
    registerWriteHook(node, 0x1017, 0, producerTimeWritten);
    node->guard.toggle = 0;
    const OdValues& v = node->od.values;
    for (int i = 0; i < consumerCount(node); ++i) {
        const uint32_t time = consumerTime(v.heartbeatConsumerTime[i]);
        if (time != 0)
            node->heartbeat.consumerAlarms[i] = armAlarm(node, static_cast<uint32_t>(i), consumerTimedOut, time, 0);
    }
    if (v.heartbeatProducerTime != 0)
        node->heartbeat.producerAlarm =
            armAlarm(node, 0, producerTick, v.heartbeatProducerTime, v.heartbeatProducerTime);
    startNodeGuarding(node);
}

void stopHeartbeat(NodeData* node) {
    for (auto& alarm : node->heartbeat.consumerAlarms) alarm = cancelAlarm(alarm);
    node->heartbeat.producerAlarm = cancelAlarm(node->heartbeat.producerAlarm);
    node->guard.alarm = cancelAlarm(node->guard.alarm);
}

void handleErrorControlFrame(NodeData* node, const CanMessage* message) {
    const uint8_t nodeId = static_cast<uint8_t>(message->cobId & 0x7F);
    if (message->rtr) {
        if (nodeId != node->nodeId) return;
        // Node-guard answer: the state with a toggle bit that alternates from clear.
        sendErrorControl(node, static_cast<uint8_t>((node->nodeState & 0x7F) | node->guard.toggle));
        node->guard.toggle ^= 0x80;
        return;
    }
    if (message->len < 1) return;
    const uint8_t newState = message->data[0] & 0x7F;
    node->guard.counters[nodeId] = node->guard.lifeTimeFactor;
    if (node->remoteStates[nodeId] != newState) {
        if (node->hooks.nodeStateChange) node->hooks.nodeStateChange(node, nodeId, newState);
        node->remoteStates[nodeId] = newState;
    }
    if (newState == Initialisation && node->hooks.slaveBootUp) node->hooks.slaveBootUp(node, nodeId);
    if (newState == Unknown) return;
    const OdValues& v = node->od.values;
    for (int i = 0; i < consumerCount(node); ++i) {
        if (consumerNode(v.heartbeatConsumerTime[i]) != nodeId) continue;
        AlarmHandle& alarm = node->heartbeat.consumerAlarms[i];
        alarm = cancelAlarm(alarm);
        // A zero time means "not watched"; arming it would time out at once.
        const uint32_t time = consumerTime(v.heartbeatConsumerTime[i]);
        if (time != 0) alarm = armAlarm(node, static_cast<uint32_t>(i), consumerTimedOut, time, 0);
    }
}

}  // namespace canopen
