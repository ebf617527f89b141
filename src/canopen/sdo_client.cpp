// The SDO client: transfers to and from remote nodes over the client channel that serves each
// node, started by the API below and carried on by the server's answers.
#include "abort_codes.h"
#include "node_data.h"
#include "sdo.h"
#include "sdo_engine.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace canopen {

namespace sdo {

namespace {

bool sameObject(const SdoLine& line, const uint8_t* frame) {
    return get16(frame + 1) == line.index && frame[3] == line.subIndex;
}

void finish(NodeData* node) {
    SdoLine& line = node->sdo;
    line.alarm = cancelAlarm(line.alarm);
    endClientTransfer(line, kSdoFinished, line.abortCode);
    notifyClient(node);
}

void peerAborted(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    line.alarm = cancelAlarm(line.alarm);
    endClientTransfer(line, kSdoAbortedByPeer, get32(frame + 4));
    notifyClient(node);
}

void sendToServer(NodeData* node, const uint8_t* frame) {
    const SdoLine& line = node->sdo;
    transmit(node, clientRequestCobId(node, line.channel), frame);
}

// An answer outside a block: the server's abort ends the transfer, anything else restarts the
// time-out. False when the transfer ended here, an answer other than `expected` included.
bool takeAnswer(NodeData* node, const uint8_t* frame, bool expected) {
    if (isAbort(frame[0])) {
        peerAborted(node, frame);
        return false;
    }
    armTimeout(node);
    if (!expected) abortTransfer(node, kAbortLocalControl);
    return expected;
}

void sendDownloadSegment(NodeData* node) {
    SdoLine& line = node->sdo;
    const uint32_t n = std::min<uint32_t>(kSegmentBytes, line.count - line.offset);
    const bool last = line.offset + n >= line.count;
    uint8_t frame[8]{command::downloadSegment(line.toggle, static_cast<uint8_t>(kSegmentBytes - n), last)};
    std::memcpy(frame + 1, lineData(line) + line.offset, n);
    line.offset += n;
    line.lastSegment = last;
    line.clientWait = ClientWait::DownloadSegmentAnswer;
    sendToServer(node, frame);
}

void onDownloadInitiateAnswer(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    if (!takeAnswer(node, frame, is(frame[0], ServerCommand::InitiateDownload))) return;
    if (!sameObject(line, frame)) return abortTransfer(node, kAbortLocalControl);
    if (line.expedited) return finish(node);
    line.toggle = false;
    sendDownloadSegment(node);
}

void onDownloadSegmentAnswer(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    if (!takeAnswer(node, frame, is(frame[0], ServerCommand::DownloadSegment))) return;
    if (toggle(frame[0]) != line.toggle) return abortTransfer(node, kAbortToggleNotAlternated);
    if (line.lastSegment) return finish(node);
    line.toggle = !line.toggle;
    sendDownloadSegment(node);
}

void requestUploadSegment(NodeData* node) {
    SdoLine& line = node->sdo;
    line.clientWait = ClientWait::UploadSegment;
    const uint8_t frame[8]{command::uploadSegmentRequest(line.toggle)};
    sendToServer(node, frame);
}

void onUploadInitiateAnswer(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t answer = frame[0];
    if (!takeAnswer(node, frame, is(answer, ServerCommand::InitiateUpload))) return;
    if (!sameObject(line, frame)) return abortTransfer(node, kAbortLocalControl);
    if (expedited(answer)) {
        const uint32_t n = sizeIndicated(answer) ? kExpeditedBytes - expeditedUnused(answer) : kExpeditedBytes;
        storeLineData(line, 0, frame + 4, n, true);
        line.count = n;
        line.offset = n;
        line.sizeIndicated = true;
        return finish(node);
    }
    line.sizeIndicated = sizeIndicated(answer);
    line.count = line.sizeIndicated ? get32(frame + 4) : 0;
    line.toggle = false;
    requestUploadSegment(node);
}

void onUploadSegment(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t segment = frame[0];
    if (!takeAnswer(node, frame, is(segment, ServerCommand::UploadSegment))) return;
    if (toggle(segment) != line.toggle) return abortTransfer(node, kAbortToggleNotAlternated);
    const uint32_t n = kSegmentBytes - segmentUnused(segment);
    if (line.sizeIndicated && static_cast<uint64_t>(line.offset) + n > line.count)
        return abortTransfer(node, kAbortLocalControl);
    if (const uint32_t code = storeLineData(line, line.offset, frame + 1, n, true)) return abortTransfer(node, code);
    line.offset += n;
    if (lastSegment(segment)) {
        if (line.sizeIndicated && line.offset != line.count) return abortTransfer(node, kAbortLocalControl);
        return finish(node);
    }
    line.toggle = !line.toggle;
    requestUploadSegment(node);
}

void onBlockDownloadInitiateAnswer(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    if (!takeAnswer(node, frame, isBlock(frame[0], ServerCommand::BlockDownload, BlockSub::Initiate))) return;
    if (!sameObject(line, frame)) return abortTransfer(node, kAbortLocalControl);
    const uint8_t blockSize = frame[4];
    if (blockSize == 0 || blockSize > kMaxBlockSize) return abortTransfer(node, kAbortLocalControl);
    line.peerCrc = crcSupported(frame[0]);
    line.blockSize = blockSize;
    line.lastBlockOffset = 0;
    line.clientWait = ClientWait::BlockAck;
    sendBlock(node);
}

void onBlockDownloadAck(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    if (!takeAnswer(node, frame, isBlock(frame[0], ServerCommand::BlockDownload, BlockSub::Ack))) return;
    if (!acceptBlockAck(node, frame)) return;
    line.clientWait = ClientWait::BlockDownloadEndAnswer;
    const uint8_t end[8]{command::blockEnd(ClientCommand::BlockDownload, line.endDataCount)};
    repeatUnanswered(node, end);
    sendToServer(node, end);
}

void onBlockDownloadEndAnswer(NodeData* node, const uint8_t* frame) {
    if (!takeAnswer(node, frame, isBlock(frame[0], ServerCommand::BlockDownload, BlockSub::End))) return;
    finish(node);
}

void onBlockUploadInitiateAnswer(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t answer = frame[0];
    if (!takeAnswer(node, frame, isBlockInitiate(answer, ServerCommand::BlockUpload))) return;
    if (!sameObject(line, frame)) return abortTransfer(node, kAbortLocalControl);
    line.peerCrc = crcSupported(answer);
    line.sizeIndicated = blockSizeIndicated(answer);
    line.count = line.sizeIndicated ? get32(frame + 4) : 0;
    line.objectSize = line.count;
    line.blockSize = kReceiveBlockSize;
    line.clientWait = ClientWait::ReceivingBlock;
    const uint8_t start[8]{command::block(ClientCommand::BlockUpload, BlockSub::Start)};
    sendToServer(node, start);
}

// Inside a block everything but the abort byte is a segment, whatever its first byte.
void onBlockUploadSegment(NodeData* node, const uint8_t* frame) {
    if (frame[0] == kAbortByte) return peerAborted(node, frame);
    armTimeout(node);
    if (receiveBlockSegment(node, frame, true)) node->sdo.clientWait = ClientWait::BlockUploadEnd;
}

void onBlockUploadEnd(NodeData* node, const uint8_t* frame) {
    if (frame[0] == kAbortByte) return peerAborted(node, frame);
    // A late or repeated segment of the finished block is no request: it is let pass.
    if (!isBlock(frame[0], ServerCommand::BlockUpload, BlockSub::End)) return;
    armTimeout(node);
    uint32_t size = 0;
    if (!acceptBlockEnd(node, frame, &size)) return;
    const uint8_t end[8]{command::block(ClientCommand::BlockUpload, BlockSub::End)};
    sendToServer(node, end);
    finish(node);
}

// Claims the free line for a client transfer on `channel`; false when it is in use.
bool claimLine(NodeData* node, uint8_t channel, uint16_t index, uint8_t subIndex, uint8_t state, uint8_t dataType,
               SdoCallback callback) {
    SdoLine& line = node->sdo;
    if (line.state != kSdoFree || line.role != kSdoRoleNone) return false;
    line.role = kSdoRoleClient;
    line.channel = channel;
    line.state = state;
    line.index = index;
    line.subIndex = subIndex;
    line.dataType = dataType;
    line.callback = callback;
    return true;
}

// Arms the time-out and sends the initiate request; on failure the line is free again.
uint8_t sendInitiate(NodeData* node, const uint8_t* frame) {
    armTimeout(node);
    if (!transmit(node, clientRequestCobId(node, node->sdo.channel), frame)) {
        releaseLine(node);
        return kSdoBusy;
    }
    return kSdoStarted;
}

uint8_t startDownload(NodeData* node, uint8_t nodeId, uint16_t index, uint8_t subIndex, uint32_t count,
                      uint8_t dataType, const void* data, SdoCallback callback, bool useBlockMode) {
    if (!node) return kSdoBusy;
    const uint8_t channel = findClientChannel(node, nodeId);
    if (channel >= kSdoNoChannel) return channel;
    if (count && !data) return kSdoBusy;
    const uint8_t state = useBlockMode ? kSdoBlockDownloadInProgress : kSdoDownloadInProgress;
    if (!claimLine(node, channel, index, subIndex, state, dataType, callback)) return kSdoBusy;
    SdoLine& line = node->sdo;
    if (count > kSdoLineInlineSize) {
        line.heapBuffer.reset(new (std::nothrow) uint8_t[count]);
        if (!line.heapBuffer) {
            releaseLine(node);
            return kSdoNoChannel;
        }
        line.heapSize = count;
    }
    if (count) std::memcpy(lineData(line), data, count);
    noteInlineUse(line, count);
    line.count = count;
    line.objectSize = count;
    line.sizeIndicated = true;
    uint8_t frame[8]{};
    if (useBlockMode) {
        line.clientWait = ClientWait::BlockDownloadInitiateAnswer;
        putHeader(frame, command::blockDownload(), index, subIndex);
        put32(frame + 4, count);
        repeatUnanswered(node, frame);
    } else if (count >= 1 && count <= kExpeditedBytes) {
        line.clientWait = ClientWait::DownloadInitiateAnswer;
        putHeader(frame, command::expeditedDownload(static_cast<uint8_t>(kExpeditedBytes - count)), index, subIndex);
        std::memcpy(frame + 4, lineData(line), count);
        line.offset = count;
        line.expedited = true;
    } else {
        // Segmented, also for no bytes at all: an expedited request cannot say "none" and
        // would have the server write four.
        line.clientWait = ClientWait::DownloadInitiateAnswer;
        putHeader(frame, command::segmentedDownload(), index, subIndex);
        put32(frame + 4, count);
    }
    return sendInitiate(node, frame);
}

// The answer to an initiate request, naming an object other than this transfer's: a late answer
// to an earlier transfer (one ended by its time-out, an abort, or a client that went while a slow
// machine still answered). Only a block's receiver takes every frame for a segment.
bool lateInitiateAnswer(const SdoLine& line, const uint8_t* frame) {
    const uint8_t c = frame[0];
    const bool initiateAnswer = is(c, ServerCommand::InitiateDownload) || is(c, ServerCommand::InitiateUpload) ||
                                isBlock(c, ServerCommand::BlockDownload, BlockSub::Initiate) ||
                                isBlockInitiate(c, ServerCommand::BlockUpload);
    return initiateAnswer && line.clientWait != ClientWait::ReceivingBlock && !sameObject(line, frame);
}

}  // namespace

void handleClientFrame(NodeData* node, uint8_t channel, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    // Answers for a channel with no transfer of ours are late or stray: never answered.
    if (line.role != kSdoRoleClient || line.channel != channel || !inProgress(line.state)) return;
    // Taken for this transfer's answer, it would end this transfer too, and leave this one's answer
    // to end the next: a slow machine would never be reached again. It is let pass; this
    // transfer's own answer or its time-out follows.
    if (lateInitiateAnswer(line, frame)) return;
    switch (line.clientWait) {
        case ClientWait::DownloadInitiateAnswer: return onDownloadInitiateAnswer(node, frame);
        case ClientWait::DownloadSegmentAnswer: return onDownloadSegmentAnswer(node, frame);
        case ClientWait::UploadInitiateAnswer: return onUploadInitiateAnswer(node, frame);
        case ClientWait::UploadSegment: return onUploadSegment(node, frame);
        case ClientWait::BlockDownloadInitiateAnswer: return onBlockDownloadInitiateAnswer(node, frame);
        case ClientWait::BlockAck: return onBlockDownloadAck(node, frame);
        case ClientWait::BlockDownloadEndAnswer: return onBlockDownloadEndAnswer(node, frame);
        case ClientWait::BlockUploadInitiateAnswer: return onBlockUploadInitiateAnswer(node, frame);
        case ClientWait::ReceivingBlock: return onBlockUploadSegment(node, frame);
        case ClientWait::BlockUploadEnd: return onBlockUploadEnd(node, frame);
        case ClientWait::Nothing: return;
    }
}

}  // namespace sdo

using namespace sdo;

uint8_t readNetworkDictCallback(NodeData* node, uint8_t nodeId, uint16_t index, uint8_t subIndex, uint8_t dataType,
                                SdoCallback callback, bool useBlockMode) {
    if (!node) return kSdoBusy;
    const uint8_t channel = findClientChannel(node, nodeId);
    if (channel >= kSdoNoChannel) return channel;
    const uint8_t state = useBlockMode ? kSdoBlockUploadInProgress : kSdoUploadInProgress;
    if (!claimLine(node, channel, index, subIndex, state, dataType, callback)) return kSdoBusy;
    SdoLine& line = node->sdo;
    uint8_t frame[8]{};
    if (useBlockMode) {
        line.clientWait = ClientWait::BlockUploadInitiateAnswer;
        putHeader(frame, command::block(ClientCommand::BlockUpload, BlockSub::Initiate), index, subIndex);  // no CRC
        frame[4] = kReceiveBlockSize;
        frame[5] = 0;  // no switch to a segmented upload
    } else {
        line.clientWait = ClientWait::UploadInitiateAnswer;
        putHeader(frame, command::make(ClientCommand::InitiateUpload), index, subIndex);
    }
    return sendInitiate(node, frame);
}

uint8_t writeNetworkDict(NodeData* node, uint8_t nodeId, uint16_t index, uint8_t subIndex, uint32_t count,
                         uint8_t dataType, const void* data, bool useBlockMode) {
    return startDownload(node, nodeId, index, subIndex, count, dataType, data, nullptr, useBlockMode);
}

uint8_t writeNetworkDictWithCallback(NodeData* node, uint8_t nodeId, uint16_t index, uint8_t subIndex, uint32_t count,
                                     uint8_t dataType, const void* data, SdoCallback callback, bool useBlockMode) {
    return startDownload(node, nodeId, index, subIndex, count, dataType, data, callback, useBlockMode);
}

namespace {

bool clientLineOf(NodeData* node, uint8_t nodeId) {
    const uint8_t channel = findClientChannel(node, nodeId);
    const SdoLine& line = node->sdo;
    return channel < kSdoNoChannel && line.role == kSdoRoleClient && line.channel == channel && line.state != kSdoFree;
}

}  // namespace

uint8_t getReadResultNetworkDict(NodeData* node, uint8_t nodeId, void* destination, uint32_t* size,
                                 uint32_t* abortCode) {
    if (!node || !clientLineOf(node, nodeId)) {
        if (size) *size = 0;
        return kSdoAbortedLocally;
    }
    SdoLine& line = node->sdo;
    if (line.state != kSdoFinished) {
        if (line.state == kSdoAbortedByPeer || line.state == kSdoAbortedLocally) {
            if (abortCode) *abortCode = line.abortCode;
            if (size) *size = 0;
        }
        return line.state;
    }
    const uint32_t count = line.count ? line.count : line.offset;
    if (!size || *size < count || (count && !destination)) {
        if (size) *size = 0;
        return kSdoBufferTooSmall;
    }
    if (count) std::memcpy(destination, lineData(line), count);
    *size = count;
    if (abortCode) *abortCode = line.abortCode;
    releaseLine(node);
    return kSdoFinished;
}

uint8_t getWriteResultNetworkDict(NodeData* node, uint8_t nodeId, uint32_t* abortCode) {
    if (!node || !clientLineOf(node, nodeId)) return kSdoAbortedLocally;
    SdoLine& line = node->sdo;
    if (abortCode) *abortCode = line.abortCode;
    const uint8_t state = line.state;
    if (state == kSdoFinished) releaseLine(node);
    return state;
}

uint8_t resetSdoClientLine(NodeData* node, uint8_t nodeId, uint8_t role) {
    if (!node) return kSdoAbortedLocally;
    const uint8_t channel = findClientChannel(node, nodeId);
    if (channel >= kSdoNoChannel) return kSdoAbortedLocally;
    const SdoLine& line = node->sdo;
    if (line.state == kSdoFree || line.role != role || line.channel != channel) return 0xFF;
    releaseLine(node);
    return 0;
}

}  // namespace canopen
