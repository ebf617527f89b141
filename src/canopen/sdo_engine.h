#pragma once
// Internals shared by the SDO engine's units (line keeping, client, server, block transfers).
// Nothing outside the engine includes this header.
#include "can_message.h"
#include "sdo_line.h"
#include "sdo_protocol.h"

#include <cstdint>

namespace canopen {

struct NodeData;

namespace sdo {

constexpr uint32_t kTimeoutMs = 4000;
constexpr uint8_t kReceiveBlockSize = 120;  // segments per block asked for when receiving
constexpr uint8_t kMaxBlockSize = 127;      // a block's sequence numbers are 7 bits, 0 excluded
constexpr uint32_t kHeapGrowth = 0x50000;   // client uploads beyond the inline buffer grow by this
constexpr uint8_t kServerChannel = 0;
constexpr uint32_t kTimeoutAlarmId = 0;  // the line; there is one

inline bool inProgress(uint8_t state) { return state >= kSdoDownloadInProgress && state <= kSdoBlockUploadInProgress; }

// A frame of command byte, index, sub-index and four data bytes.
inline void putHeader(uint8_t* frame, uint8_t command, uint16_t index, uint8_t subIndex) {
    frame[0] = command;
    put16(frame + 1, index);
    frame[3] = subIndex;
}

// Dictionary lookups: the SDO server row and the client rows.
uint32_t serverRequestCobId(NodeData* node);
uint32_t serverAnswerCobId(NodeData* node);
// The client channel serving nodeId, kSdoNoChannel when none, kSdoBusy when the client rows are
// malformed (a row with fewer than four sub-entries).
uint8_t findClientChannel(NodeData* node, uint8_t nodeId);
// The client channel whose server-to-client COB-id is cobId; false when none.
bool findChannelByAnswerCobId(NodeData* node, uint16_t cobId, uint8_t* channel);
uint32_t clientRequestCobId(NodeData* node, uint8_t channel);
uint8_t clientServerNodeId(NodeData* node, uint8_t channel);
// Where the line's own frames go: the server's answer COB-id or the client channel's request one.
uint32_t transmitCobId(NodeData* node, uint8_t role, uint8_t channel);

// Sends one 8-byte data frame; false when the node may not send (only Operational and
// Pre_operational may) or the driver refuses it.
bool transmit(NodeData* node, uint32_t cobId, const uint8_t* bytes);
// The same, with the stack lock let go for the driver's send; the caller holds it once.
bool transmitOutsideLock(NodeData* node, uint32_t cobId, const uint8_t* bytes);

// Line keeping.
void releaseLine(NodeData* node);
void armTimeout(NodeData* node);
uint8_t* lineData(SdoLine& line);
uint32_t lineCapacity(const SdoLine& line);
// Copies n bytes to offset `at` of the line's data. A client line grows onto the heap; a server
// line is bounded by the inline buffer. 0, or the abort code that ends the transfer.
uint32_t storeLineData(SdoLine& line, uint32_t at, const uint8_t* source, uint32_t n, bool mayGrow);
void noteInlineUse(SdoLine& line, uint32_t end);

// Sends an abort for (role, channel) and ends that role's transfer on the channel if one runs:
// a server line is freed, a client line goes to "aborted locally" and its caller is told.
void sendAbort(NodeData* node, uint8_t role, uint8_t channel, uint16_t index, uint8_t subIndex, uint32_t code);
// Ends the running transfer with an abort carrying its own index and sub-index.
void abortTransfer(NodeData* node, uint32_t code);
// Ends a client transfer with its result (finished, or aborted with a code); the caller keeps
// the line for the result functions and tells the client.
void endClientTransfer(SdoLine& line, uint8_t state, uint32_t abortCode);
// Calls the client request's callback with the server's node id; the line may be gone afterwards.
void notifyClient(NodeData* node);

// Frame handlers by role; `frame` holds the 8 data bytes.
void handleServerFrame(NodeData* node, const uint8_t* frame);
void handleClientFrame(NodeData* node, uint8_t channel, const uint8_t* frame);

// Block transfers, either role.
// Sending side: sends the block that starts at lastBlockOffset, with blockSize segments at most;
// the caller's role then waits for its acknowledgement.
void sendBlock(NodeData* node);
// Sends `frame` again when no answer has come after a while (a block's final segment, a block
// download's initiate or end request); any answer or the end of the transfer stops it.
void repeatUnanswered(NodeData* node, const uint8_t* frame);
// Sending side: an acknowledgement; returns true when every byte is acknowledged, false when
// the next block went out or the transfer was aborted (the line state tells which).
bool acceptBlockAck(NodeData* node, const uint8_t* frame);
// Receiving side: one segment; true when it completed the transfer's last block, which was
// then acknowledged: the end request comes next.
bool receiveBlockSegment(NodeData* node, const uint8_t* frame, bool mayGrow);
// Receiving side: the end request; the number of data bytes, or false after aborting.
bool acceptBlockEnd(NodeData* node, const uint8_t* frame, uint32_t* size);

}  // namespace sdo
}  // namespace canopen
