#pragma once
// Layer setting services as a slave: identification, node id and bit-rate configuration.
#include "can_message.h"

namespace canopen {

struct NodeData;

// Bit-rate texts by bit-timing table index.
constexpr int kLssBitTimingCount = 9;
extern const char* const kLssBitTimingTexts[kLssBitTimingCount];

// A request from an LSS master (0x7E5); stack lock held.
void handleLssRequest(NodeData* node, const CanMessage* message);
// An answer of another slave (0x7E4), heard while the node is not an NMT slave.
void handleLssAnswer(NodeData* node, const CanMessage* message);

}  // namespace canopen
