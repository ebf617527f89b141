#pragma once
// The node's single SDO transfer line, shared by the client and the server role: at any
// moment the node runs at most one SDO transfer.
#include "alarm.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace canopen {

struct NodeData;

constexpr uint32_t kSdoLineInlineSize = 0x100000;  // transfers up to this size never touch the heap

// Completion of a client request, called on a stack thread with the stack lock held.
using SdoCallback = void (*)(NodeData* node, uint8_t nodeId);

// Line roles.
enum SdoRole : uint8_t { kSdoRoleNone = 0, kSdoRoleServer = 1, kSdoRoleClient = 2 };

// Line states; the result functions return them too.
enum SdoLineState : uint8_t {
    kSdoFree = 0x00,
    kSdoFinished = 0x01,
    kSdoDownloadInProgress = 0x02,
    kSdoUploadInProgress = 0x03,
    kSdoBlockDownloadInProgress = 0x04,
    kSdoBlockUploadInProgress = 0x05,
    kSdoAbortedByPeer = 0x80,
    kSdoAbortedLocally = 0x85,
};

// Results of the client API besides the line states.
constexpr uint8_t kSdoStarted = 0x00;
constexpr uint8_t kSdoBufferTooSmall = 0x8A;
constexpr uint8_t kSdoNoChannel = 0xFE;
constexpr uint8_t kSdoBusy = 0xFF;

// What the line waits for next, by role; the value alone says which handler takes the frame.
enum class ClientWait : uint8_t {
    Nothing = 0,
    DownloadInitiateAnswer,  // expedited or segmented download requested
    DownloadSegmentAnswer,   // a download segment went out
    UploadInitiateAnswer,
    UploadSegment,  // a segment was requested
    BlockDownloadInitiateAnswer,
    BlockAck,                // sending a block download: a block went out
    BlockDownloadEndAnswer,  // end request sent
    BlockUploadInitiateAnswer,
    ReceivingBlock,  // block upload: segments arrive
    BlockUploadEnd,  // block upload: last segment stored, the server's end request next
};

enum class ServerWait : uint8_t {
    Request = 0,  // no transfer of ours: an initiate request
    DownloadSegment,
    UploadSegmentRequest,
    ReceivingBlock,    // block download: segments arrive
    BlockDownloadEnd,  // block download: last segment stored, the client's end request next
    BlockUploadStart,  // block upload initiate answered
    BlockAck,          // block upload: a block went out
    BlockUploadEndAnswer,
};

// Everything a transfer sets up and changes between two frames; a free line holds the defaults,
// restored in one assignment. The data itself lives in the line.
struct SdoTransfer {
    uint8_t channel = 0;  // client: channel n (row 0x1280 + n); server: 0
    uint8_t role = kSdoRoleNone;
    uint8_t state = kSdoFree;
    ClientWait clientWait = ClientWait::Nothing;
    ServerWait serverWait = ServerWait::Request;
    bool toggle = false;  // expected toggle bit of the next segment
    uint32_t abortCode = 0;
    uint16_t index = 0;
    uint8_t subIndex = 0;
    uint8_t dataType = 0;        // kept for the caller
    uint32_t count = 0;          // total data bytes, 0 while unknown
    uint32_t offset = 0;         // bytes transferred so far
    bool sizeIndicated = false;  // the count was given by the peer or the caller, 0 included
    bool expedited = false;      // a client download sent whole in its initiate request
    SdoCallback callback = nullptr;
    // Block transfer.
    bool peerCrc = false;          // peer supports CRC (stored, never acted on)
    bool lastSegment = false;      // the segment with the last data byte was sent / stored
    uint8_t blockSize = 0;         // segments per block
    uint8_t ackSequence = 0;       // last sequence number received in order
    uint8_t sequence = 0;          // last sequence number sent within the block
    uint8_t endDataCount = 0;      // bytes unused in the last segment
    uint8_t segmentsSinceAck = 0;  // receiving side: frames seen since the last acknowledgement
    uint32_t objectSize = 0;       // size indicated for the block transfer
    uint32_t lastBlockOffset = 0;  // offset at the start of the current block
    uint8_t blockFinalFrame[8]{};  // sending side: the frame sent again when no answer comes
};

struct SdoLine : SdoTransfer {
    AlarmHandle alarm = NO_ALARM;     // time-out
    AlarmHandle ackAlarm = NO_ALARM;  // block answer not come: the last frame goes again
    uint32_t generation = 0;          // moves on whenever a block is (re)started or the line is freed
    uint8_t data[kSdoLineInlineSize]{};
    std::unique_ptr<uint8_t[]> heapBuffer;  // replaces data for transfers above the inline size
    uint32_t heapSize = 0;
    uint32_t inlineUsed = 0;  // bytes of `data` written since the line was freed (cleared on free)
    // Held while a block segment is handed to the driver without the stack lock (taken with the
    // stack lock held, let go before taking it again), so that a frame sent under the stack lock
    // can wait for that segment to have gone.
    std::mutex unlockedSend;
};

}  // namespace canopen
