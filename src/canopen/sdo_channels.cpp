// Where SDO frames come from and go to: the server row 0x1200 and the 127 client rows of the
// dictionary, read afresh on every use so that writes to them take effect at once.
#include "alarm.h"
#include "can_port.h"
#include "node_data.h"
#include "sdo_engine.h"

#include <cstring>
#include <mutex>

namespace canopen::sdo {

namespace {

constexpr uint8_t kClientRowSubs = 4;  // count, client-to-server, server-to-client, node id
constexpr uint32_t kCobIdMask = 0x7FF;

const OdIndexEntry* serverRow(NodeData* node) {
    const OdIndexEntry& row = node->od.table()[node->rows.sdoServer.first];
    return row.count >= 3 ? &row : nullptr;
}

bool hasClientRows(const NodeData* node) { return node->rows.sdoClient.last != 0; }

const OdIndexEntry& clientRow(NodeData* node, uint8_t channel) {
    return node->od.table()[node->rows.sdoClient.first + channel];
}

uint32_t u32(const OdSubEntry& sub) { return *static_cast<const uint32_t*>(sub.value); }
uint8_t u8(const OdSubEntry& sub) { return *static_cast<const uint8_t*>(sub.value); }

}  // namespace

uint32_t serverRequestCobId(NodeData* node) {
    const OdIndexEntry* row = serverRow(node);
    return row ? u32(row->subs[1]) : 0xFFFFFFFFu;  // never equals an 11-bit identifier
}

uint32_t serverAnswerCobId(NodeData* node) {
    const OdIndexEntry* row = serverRow(node);
    return row ? u32(row->subs[2]) : 0xFFFFFFFFu;
}

uint8_t findClientChannel(NodeData* node, uint8_t nodeId) {
    if (!hasClientRows(node)) return kSdoNoChannel;
    const OdRowRange range = node->rows.sdoClient;
    for (uint32_t row = range.first; row <= range.last && row < kOdRowCount; ++row) {
        const OdIndexEntry& entry = node->od.table()[row];
        if (entry.count < kClientRowSubs) return kSdoBusy;
        if (u8(entry.subs[3]) == nodeId) return static_cast<uint8_t>(row - range.first);
    }
    return kSdoNoChannel;
}

bool findChannelByAnswerCobId(NodeData* node, uint16_t cobId, uint8_t* channel) {
    if (!hasClientRows(node)) return false;
    const OdRowRange range = node->rows.sdoClient;
    for (uint32_t row = range.first; row <= range.last && row < kOdRowCount; ++row) {
        const OdIndexEntry& entry = node->od.table()[row];
        if (entry.count < kClientRowSubs) return false;
        if (u32(entry.subs[2]) == cobId) {
            *channel = static_cast<uint8_t>(row - range.first);
            return true;
        }
    }
    return false;
}

uint32_t clientRequestCobId(NodeData* node, uint8_t channel) { return u32(clientRow(node, channel).subs[1]); }

uint8_t clientServerNodeId(NodeData* node, uint8_t channel) { return u8(clientRow(node, channel).subs[3]); }

uint32_t transmitCobId(NodeData* node, uint8_t role, uint8_t channel) {
    return role == kSdoRoleServer ? serverAnswerCobId(node) : clientRequestCobId(node, channel);
}

namespace {
CanMessage dataFrame(uint32_t cobId, const uint8_t* bytes) {
    CanMessage message{};
    message.cobId = static_cast<uint16_t>(cobId & kCobIdMask);
    message.rtr = 0;
    message.len = 8;
    std::memcpy(message.data, bytes, 8);
    return message;
}
bool maySend(const NodeData* node) { return node->nodeState == Operational || node->nodeState == Pre_operational; }
}  // namespace

bool transmit(NodeData* node, uint32_t cobId, const uint8_t* bytes) {
    if (!maySend(node)) return false;
    const CanMessage message = dataFrame(cobId, bytes);
    return sendCanFrame(node->port, &message) == 0;
}

bool transmitOutsideLock(NodeData* node, uint32_t cobId, const uint8_t* bytes) {
    if (!maySend(node)) return false;
    const CanMessage message = dataFrame(cobId, bytes);
    CanPort* const port = node->port;
    std::unique_lock<std::mutex> sending(node->sdo.unlockedSend);
    unlockStack();
    const uint8_t result = sendCanFrame(port, &message);
    sending.unlock();
    lockStack();
    return result == 0;
}

}  // namespace canopen::sdo
