#pragma once
// NMT master commands the stack sends, and the NMT commands it obeys as a slave.
#include "can_message.h"

#include <cstdint>

namespace canopen {

struct NodeData;

enum NmtCommand : uint8_t {
    kNmtStart = 0x01,
    kNmtStop = 0x02,
    kNmtEnterPreOperational = 0x80,
    kNmtResetNode = 0x81,
    kNmtResetCommunication = 0x82,
};

// Sends an NMT command to nodeId (0: all nodes); the result of sendCanFrame.
uint8_t sendNmtCommand(NodeData* node, uint8_t nodeId, uint8_t command);
// Forgets the state of nodeId (of all nodes for 0) and asks it for its state with a remote
// frame; the result of sendCanFrame.
uint8_t requestNodeGuard(NodeData* node, uint8_t nodeId);

// An NMT command frame (COB-id 0x000) addressed to the bus; stack lock held.
void handleNmtCommand(NodeData* node, const CanMessage* message);

}  // namespace canopen
