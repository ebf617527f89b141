#include "can_port.h"

#include "emergency_sync_pdo.h"
#include "heartbeat.h"
#include "lss.h"
#include "nmt.h"
#include "node_data.h"
#include "sdo.h"

namespace canopen {

namespace {

constexpr uint16_t kLssMasterCobId = 0x7E5;  // requests to slaves
constexpr uint16_t kLssSlaveCobId = 0x7E4;   // answers of slaves

}  // namespace

void dispatchCanFrame(NodeData* node, const CanMessage* message) {
    if (!node || !message) return;
    const CanMessage& m = *message;
    // A length code above 8 is no frame of ours; a remote frame carries data only as a
    // node-guard request.
    if (m.len > 8 || m.cobId >= 0x800) return;
    const unsigned functionCode = m.cobId >> 7;
    if (m.rtr && functionCode != 14) return;
    const NodeData& n = *node;
    switch (functionCode) {
        case 0:
            if (m.cobId == 0 && n.nmtSlave) handleNmtCommand(node, message);
            break;
        case 1:
            if (m.cobId == 0x080) {
                if (n.flags.sync) handleSyncFrame(node, message);
            } else if (n.flags.emergency) {
                handleEmergencyFrame(node, message);
            }
            break;
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
            if (n.flags.pdo) handlePdoFrame(node, message);
            break;
        case 11:
        case 12:
            if (n.flags.sdo) handleSdoFrame(node, message);
            break;
        case 14:
            if (n.flags.heartbeat) handleErrorControlFrame(node, message);
            break;
        case 15:
            if (m.cobId == kLssMasterCobId && n.flags.lss && n.nmtSlave) handleLssRequest(node, message);
            if (m.cobId == kLssSlaveCobId && n.flags.lss && !n.nmtSlave) handleLssAnswer(node, message);
            break;
        default:  // 2 (0x100..0x17F) and 13 (0x680..0x6FF) are no concern of this node
            break;
    }
}

}  // namespace canopen
