#pragma once
// The SDO engine: client transfers to remote nodes and the server of the local dictionary,
// over the node's single line. No function takes the stack lock itself; callers outside the
// stack's threads hold it around each call.
#include "can_message.h"
#include "sdo_line.h"

#include <cstdint>

namespace canopen {

struct NodeData;

// Starts an upload of the remote object; 0, 0xFE (no client channel for the node) or 0xFF
// (line busy, node not in a state that may send, or send failed).
uint8_t readNetworkDictCallback(NodeData* node, uint8_t nodeId, uint16_t index, uint8_t subIndex, uint8_t dataType,
                                SdoCallback callback, bool useBlockMode);
// Starts a download of `count` bytes, copied from `data` at the call; no completion callback.
// As an upload start, and 0xFE also when more than 1 MiB cannot be copied for lack of memory.
uint8_t writeNetworkDict(NodeData* node, uint8_t nodeId, uint16_t index, uint8_t subIndex, uint32_t count,
                         uint8_t dataType, const void* data, bool useBlockMode);
uint8_t writeNetworkDictWithCallback(NodeData* node, uint8_t nodeId, uint16_t index, uint8_t subIndex, uint32_t count,
                                     uint8_t dataType, const void* data, SdoCallback callback, bool useBlockMode);
// Line state or result code; on 0x01 the data is copied out and the line freed.
uint8_t getReadResultNetworkDict(NodeData* node, uint8_t nodeId, void* destination, uint32_t* size,
                                 uint32_t* abortCode);
uint8_t getWriteResultNetworkDict(NodeData* node, uint8_t nodeId, uint32_t* abortCode);
// 0 when a line of that channel and role was in use and is now free; 0xFF when none; 0x85
// when no client channel serves the node.
uint8_t resetSdoClientLine(NodeData* node, uint8_t nodeId, uint8_t role);
// Writes count - offset of the line (0 while the count is unknown) for progress display;
// 0, or 0xFF (and 0 written) for a line other than 0, the only one.
uint8_t getSdoRemaining(NodeData* node, uint8_t line, uint32_t* remaining);

// Ends a client transfer that runs on the line with an abort to its server (`code`, on the
// transfer's object), so that the server does not take a later client's frames for the rest of
// it; a block segment on its way to the driver goes first. The caller is told as of any local
// abort. Nothing happens when no client transfer runs.
void abortSdoClientTransfer(NodeData* node, uint32_t code);

// Hooks of the engine into the rest of the stack.
// An SDO frame (0x580..0x67F) received while the node's SDO service is on; stack lock held.
void handleSdoFrame(NodeData* node, const CanMessage* message);
// Frees the line: cancels its alarm, clears every field, releases the heap buffer. The node
// state machine calls it when the SDO service goes off; a client request cut off by it ends
// first as aborted locally (0x08000021), so that its caller hears of it.
void freeSdoLine(NodeData* node);

}  // namespace canopen
