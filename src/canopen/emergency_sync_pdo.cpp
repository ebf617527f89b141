#include "emergency_sync_pdo.h"

#include "alarm.h"
#include "byte_order.h"
#include "node_data.h"
#include "object_dictionary.h"

namespace canopen {

namespace {

constexpr uint16_t kSyncCobIdObject = 0x1005;
constexpr uint16_t kSyncPeriodObject = 0x1006;

bool readU32(NodeData* node, uint16_t index, uint32_t& value) {
    uint32_t size = sizeof value;
    return readLocalObject(node, index, 0, &value, &size, nullptr, false) == 0;
}

void syncTick(NodeData* node, uint32_t) {
    if (node->hooks.sync) node->hooks.sync(node);
}

}  // namespace

void startSync(NodeData* node) {
    // SYNC production needs a producer bit in 0x1005 and a period in 0x1006 (microseconds);
    // a dictionary without them produces nothing.
    uint32_t cobId = 0;
    uint32_t periodUs = 0;
    if (!readU32(node, kSyncCobIdObject, cobId) || !readU32(node, kSyncPeriodObject, periodUs)) return;
    if (!(cobId & 0x40000000u) || periodUs < 1000) return;
    node->syncEmergencyPdo.syncAlarm = armAlarm(node, 0, syncTick, periodUs / 1000, periodUs / 1000);
}

void stopSync(NodeData* node) { node->syncEmergencyPdo.syncAlarm = cancelAlarm(node->syncEmergencyPdo.syncAlarm); }

// Event timers belong to transmit PDOs and mapping to receive PDOs; the node's row ranges for
// both are empty in this dictionary, so there is nothing to time, send or map.
void startPdoEventTimers(NodeData*) {}
void stopPdoEventTimers(NodeData*) {}

void handleSyncFrame(NodeData* node, const CanMessage*) {
    if (node->hooks.sync) node->hooks.sync(node);
    if (node->hooks.transmitPdo) node->hooks.transmitPdo(node);
}

void handleEmergencyFrame(NodeData* node, const CanMessage* message) {
    if (message->len != 8) return;
    const uint16_t errorCode = get16(message->data);
    if (node->hooks.emergency)
        node->hooks.emergency(node, static_cast<uint8_t>(message->cobId & 0x7F), errorCode, message->data[2]);
}

void handlePdoFrame(NodeData*, const CanMessage*) {}

}  // namespace canopen
