#pragma once
// What the stack calls when a request's transfer has ended: fetch the result, convert it
// into the caller's storage, free the one-operation flag, call the caller's callback. They run
// on stack threads with the stack lock held.
#include <cstdint>

namespace canopen {
struct NodeData;
}

namespace CommDiag::detail {

void readNumberFinished(canopen::NodeData* node, uint8_t nodeId);
void elementFinished(canopen::NodeData* node, uint8_t nodeId);
void domainFinished(canopen::NodeData* node, uint8_t nodeId);

}  // namespace CommDiag::detail
