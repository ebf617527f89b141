#include "node_data.h"

#include "nmt.h"

namespace canopen {

namespace {

// A node that is not an NMT slave is the master: on entering pre-operational it resets the
// whole network so that every slave boots afresh.
void resetAllNodesUnlessSlave(NodeData* node) {
    if (!node->nmtSlave) sendNmtCommand(node, 0, kNmtResetNode);
}

}  // namespace

NodeHooks::NodeHooks() : preOperational(resetAllNodesUnlessSlave) {}

NodeData::NodeData() {
    for (auto& state : remoteStates) state = Unknown;
}

}  // namespace canopen
