#pragma once
// Heartbeat production and consumption, node guarding, and the error-control frames
// (0x700 + node id) that feed the remote node states.
#include "can_message.h"

namespace canopen {

struct NodeData;

// Switched by the node state machine with the heartbeat service.
void startHeartbeat(NodeData* node);
void stopHeartbeat(NodeData* node);

// A frame on 0x700..0x77F while the heartbeat service is on; stack lock held.
void handleErrorControlFrame(NodeData* node, const CanMessage* message);

}  // namespace canopen
