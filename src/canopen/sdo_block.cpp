// Block transfers, the same for both roles: the sending side (client download, server upload)
// and the receiving side (server download, client upload). Segments carry 7 bytes each and are
// numbered from 1 within a block; no CRC is computed.
#include "abort_codes.h"
#include "node_data.h"
#include "sdo_engine.h"

#include <algorithm>
#include <cstring>

namespace canopen::sdo {

namespace {

// A block's acknowledgement comes within a few frame times; when it has not come after this, the
// block's final segment or the acknowledgement was lost on the line, and the final segment goes
// again (the receiver answers it with its acknowledgement) instead of the transfer timing out.
// A block download's initiate and end requests are repeated the same way.
constexpr uint32_t kAckWaitMs = 1000;
constexpr uint32_t kAckAlarmId = 1;

bool awaitsBlockAck(const SdoLine& line) {
    return line.role == kSdoRoleClient ? line.clientWait == ClientWait::BlockAck
                                       : line.serverWait == ServerWait::BlockAck;
}

bool awaitsBlockAnswer(const SdoLine& line) {
    if (!inProgress(line.state)) return false;
    if (awaitsBlockAck(line)) return true;
    // The client of a block download also repeats its initiate and end requests.
    return line.role == kSdoRoleClient && (line.clientWait == ClientWait::BlockDownloadInitiateAnswer ||
                                           line.clientWait == ClientWait::BlockDownloadEndAnswer);
}

void onAckWait(NodeData* node, uint32_t) {
    SdoLine& line = node->sdo;
    line.ackAlarm = NO_ALARM;
    if (!awaitsBlockAnswer(line)) return;
    transmit(node, transmitCobId(node, line.role, line.channel), line.blockFinalFrame);
    line.ackAlarm = armAlarm(node, kAckAlarmId, onAckWait, kAckWaitMs, 0);
}

}  // namespace

// A block of up to 127 segments takes half a second on a 38400 bit/s adapter line. Each segment
// but the last is handed to the driver without the stack lock, so that the alarm thread's
// heartbeat and the host's calls get in between segments instead of waiting for the whole block.
// Only a receive thread sends blocks (they answer frames), so the port stays open meanwhile.
void sendBlock(NodeData* node) {
    SdoLine& line = node->sdo;
    const uint32_t cobId = transmitCobId(node, line.role, line.channel);
    uint32_t position = line.lastBlockOffset;
    line.sequence = 0;
    line.lastSegment = false;
    line.ackAlarm = cancelAlarm(line.ackAlarm);  // a repeat armed for the initiate request is over
    const uint32_t generation = ++line.generation;
    for (uint8_t sequence = 1; sequence <= line.blockSize; ++sequence) {
        const uint32_t n = std::min<uint32_t>(kSegmentBytes, line.count - position);
        const bool last = position + n >= line.count;
        uint8_t frame[8]{command::blockSegment(sequence, last)};
        std::memcpy(frame + 1, lineData(line) + position, n);
        position += n;
        line.sequence = sequence;
        if (last) {
            line.lastSegment = true;
            line.endDataCount = static_cast<uint8_t>(kSegmentBytes - n);
        }
        // A segment the driver drops is one the receiver does not acknowledge; it goes again.
        if (last || sequence == line.blockSize) {
            repeatUnanswered(node, frame);
            transmit(node, cobId, frame);
            break;
        }
        transmitOutsideLock(node, cobId, frame);
        // The transfer may have ended (time-out, abort) while the lock was free.
        if (line.generation != generation || !inProgress(line.state) || !awaitsBlockAck(line)) return;
    }
}

void repeatUnanswered(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    std::memcpy(line.blockFinalFrame, frame, sizeof line.blockFinalFrame);
    line.ackAlarm = cancelAlarm(line.ackAlarm);
    line.ackAlarm = armAlarm(node, kAckAlarmId, onAckWait, kAckWaitMs, 0);
}

bool acceptBlockAck(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    line.ackAlarm = cancelAlarm(line.ackAlarm);
    const uint8_t acknowledged = frame[1];
    const uint8_t nextBlockSize = frame[2];
    // The receiver cannot have seen a segment that was never sent; anything up to the count sent
    // is a sound answer, 0 included (nothing arrived, the whole block goes again).
    if (acknowledged > line.sequence) {
        abortTransfer(node, kAbortLocalControl);
        return false;
    }
    if (acknowledged == line.sequence && line.lastSegment) {
        line.offset = line.count;
        return true;
    }
    if (nextBlockSize == 0 || nextBlockSize > kMaxBlockSize) {
        abortTransfer(node, kAbortLocalControl);
        return false;
    }
    // The short last segment carries the position past the data size; the cap keeps an
    // acknowledged position within the data.
    const uint64_t position = static_cast<uint64_t>(line.lastBlockOffset) + kSegmentBytes * acknowledged;
    line.lastBlockOffset = static_cast<uint32_t>(std::min<uint64_t>(position, line.count));
    line.offset = line.lastBlockOffset;
    line.blockSize = nextBlockSize;
    sendBlock(node);
    return false;
}

bool receiveBlockSegment(NodeData* node, const uint8_t* frame, bool mayGrow) {
    SdoLine& line = node->sdo;
    const uint8_t sequence = sequenceNumber(frame[0]);
    const bool last = lastInTransfer(frame[0]);
    if (line.segmentsSinceAck < 0xFF) ++line.segmentsSinceAck;
    const bool inOrder = sequence == line.ackSequence + 1 && sequence <= kReceiveBlockSize;
    if (inOrder) {
        // With a size given, every segment must start inside it (an empty object still has its
        // one empty segment); a longer stream is a peer that disagrees with itself.
        if (line.sizeIndicated && line.offset >= std::max<uint32_t>(line.count, 1)) {
            abortTransfer(node, kAbortLocalControl);
            return false;
        }
        if (line.offset > 0xFFFFFFFFu - kSegmentBytes) {
            abortTransfer(node, kAbortOutOfMemory);
            return false;
        }
        // Bytes past a known size are padding and are not kept; so a transfer of exactly the
        // inline size stays inline.
        uint32_t keep =
            line.sizeIndicated ? std::min<uint32_t>(kSegmentBytes, line.count - line.offset) : kSegmentBytes;
        if (!mayGrow && !line.sizeIndicated) {
            const uint32_t room = lineCapacity(line) - std::min(line.offset, lineCapacity(line));
            if (room == 0) {
                abortTransfer(node, kAbortOutOfMemory);
                return false;
            }
            keep = std::min(keep, room);  // the end request tells whether the rest was padding
        }
        if (const uint32_t code = storeLineData(line, line.offset, frame + 1, keep, mayGrow)) {
            abortTransfer(node, code);
            return false;
        }
        line.offset += kSegmentBytes;
        line.ackSequence = sequence;
        if (last) line.lastSegment = true;
    }
    if (!last && sequence != kReceiveBlockSize) return false;
    // The block's final segment arriving again right after its acknowledgement is a duplicate;
    // acknowledging it would make the sender repeat a block that already arrived.
    if (!inOrder && !last && line.segmentsSinceAck == 1) return false;
    // Acknowledgements go to the sender: a server answering a block download, a client a block
    // upload; both carry the same byte.
    const uint8_t ackCommand = line.role == kSdoRoleServer ? command::block(ServerCommand::BlockDownload, BlockSub::Ack)
                                                           : command::block(ClientCommand::BlockUpload, BlockSub::Ack);
    uint8_t ack[8]{ackCommand, line.ackSequence, kReceiveBlockSize};
    line.ackSequence = 0;
    line.segmentsSinceAck = 0;
    transmit(node, transmitCobId(node, line.role, line.channel), ack);
    return line.lastSegment;
}

bool acceptBlockEnd(NodeData* node, const uint8_t* frame, uint32_t* size) {
    SdoLine& line = node->sdo;
    const uint32_t unused = blockEndUnused(frame[0]);
    if (line.offset < unused) {
        abortTransfer(node, kAbortLocalControl);
        return false;
    }
    const uint32_t received = line.offset - unused;
    if (line.sizeIndicated && received != line.count) {
        abortTransfer(node, kAbortLocalControl);
        return false;
    }
    if (received > lineCapacity(line)) {  // only a server line without a given size gets here
        abortTransfer(node, kAbortOutOfMemory);
        return false;
    }
    line.count = received;
    line.offset = received;
    *size = received;
    return true;
}

}  // namespace canopen::sdo
