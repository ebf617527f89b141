#pragma once
// SYNC, EMCY and PDO services. The local dictionary has none of their objects, so they never
// send; received EMCY and SYNC frames still reach the node's hooks.
#include "can_message.h"

namespace canopen {

struct NodeData;

void startSync(NodeData* node);
void stopSync(NodeData* node);
void startPdoEventTimers(NodeData* node);
void stopPdoEventTimers(NodeData* node);

// Frames received while the matching service is on; stack lock held.
void handleSyncFrame(NodeData* node, const CanMessage* message);
void handleEmergencyFrame(NodeData* node, const CanMessage* message);
void handlePdoFrame(NodeData* node, const CanMessage* message);

}  // namespace canopen
