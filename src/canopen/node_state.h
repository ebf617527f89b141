#pragma once
// The local node's NMT state machine and the remote node states the stack has heard.
#include <cstdint>

namespace canopen {

struct NodeData;

// Node state codes, for the local node and for remote nodes alike.
enum NodeState : uint8_t {
    Initialisation = 0x00,  // also: a boot-up frame was heard
    Disconnected = 0x01,    // a heartbeat or node-guard time-out
    Stopped = 0x04,
    Operational = 0x05,
    Unknown = 0x0F,  // nothing heard yet
    Pre_operational = 0x7F,
};

constexpr uint8_t kStateRefused = 0xFF;
constexpr uint8_t kNodeIdUnconfigured = 0xFF;

// Moves the local node to `state`, switching its communication services; the resulting
// state, or 0xFF when the transition is refused. Initialisation goes on to Pre_operational.
uint8_t setNodeState(NodeData* node, uint8_t state);
// Sets the pending node id and, for 1..127, the node id itself with every default COB-id.
void setNodeId(NodeData* node, uint8_t id);
uint8_t getNodeId(const NodeData* node);
// The last state heard from a remote node; Unknown for ids of 128 and above.
uint8_t getNodeState(const NodeData* node, uint8_t nodeId);
// Forgets every remote node state and node-guard count, as if nothing had been heard yet: what
// one user of the node heard must not answer for the next one.
void forgetRemoteNodes(NodeData* node);

}  // namespace canopen
