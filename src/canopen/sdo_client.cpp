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

constexpr uint32_t kMaxExpedited = 4;

bool sameObject(const SdoLine& line, const uint8_t* frame) {
    return get16(frame + 1) == line.index && frame[3] == line.subIndex;
}

void finish(NodeData* node) {
    SdoLine& line = node->sdo;
    line.alarm = cancelAlarm(line.alarm);
    line.state = kSdoFinished;
    line.step = kStepNone;
    notifyClient(node);
}

void peerAborted(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    line.alarm = cancelAlarm(line.alarm);
    line.state = kSdoAbortedByPeer;
    line.step = kStepNone;
    line.abortCode = get32(frame + 4);
    notifyClient(node);
}

void sendToServer(NodeData* node, const uint8_t* frame) {
    const SdoLine& line = node->sdo;
    transmit(node, clientRequestCobId(node, line.channel), frame);
}

void sendDownloadSegment(NodeData* node) {
    SdoLine& line = node->sdo;
    const uint32_t n = std::min(kSegmentBytes, line.count - line.offset);
    const bool last = line.offset + n >= line.count;
    uint8_t frame[8]{};
    frame[0] = static_cast<uint8_t>(line.toggle << 4 | (kSegmentBytes - n) << 1 | (last ? 1 : 0));
    std::memcpy(frame + 1, lineData(line) + line.offset, n);
    line.offset += n;
    line.lastSegment = last;
    line.step = kStepSegments;
    sendToServer(node, frame);
}

void onDownloadAnswer(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t command = frame[0];
    if (line.step == kStepInitiateAnswer && (command & 0xE0) == 0x60) {
        if (!sameObject(line, frame)) return abortTransfer(node, kAbortLocalControl);
        if (line.expedited) return finish(node);
        line.toggle = 0;
        return sendDownloadSegment(node);
    }
    if (line.step == kStepSegments && (command & 0xE0) == 0x20) {
        if (((command >> 4) & 0x01) != line.toggle) return abortTransfer(node, kAbortToggleNotAlternated);
        if (line.lastSegment) return finish(node);
        line.toggle ^= 1;
        return sendDownloadSegment(node);
    }
    abortTransfer(node, kAbortLocalControl);
}

void requestUploadSegment(NodeData* node) {
    const uint8_t frame[8]{static_cast<uint8_t>(0x60 | node->sdo.toggle << 4)};
    sendToServer(node, frame);
}

void onUploadAnswer(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t command = frame[0];
    if (line.step == kStepInitiateAnswer && (command & 0xE0) == 0x40) {
        if (!sameObject(line, frame)) return abortTransfer(node, kAbortLocalControl);
        const bool sizeIndicated = command & 0x01;
        if (command & 0x02) {
            const uint32_t n = sizeIndicated ? kMaxExpedited - ((command >> 2) & 0x03) : kMaxExpedited;
            storeLineData(line, 0, frame + 4, n, true);
            line.count = n;
            line.offset = n;
            line.sizeIndicated = 1;
            return finish(node);
        }
        line.sizeIndicated = sizeIndicated;
        line.count = sizeIndicated ? get32(frame + 4) : 0;
        line.toggle = 0;
        line.step = kStepSegments;
        return requestUploadSegment(node);
    }
    if (line.step == kStepSegments && (command & 0xE0) == 0x00) {
        if (((command >> 4) & 0x01) != line.toggle) return abortTransfer(node, kAbortToggleNotAlternated);
        const uint32_t n = kSegmentBytes - ((command >> 1) & 0x07);
        const bool last = command & 0x01;
        if (line.sizeIndicated && static_cast<uint64_t>(line.offset) + n > line.count)
            return abortTransfer(node, kAbortLocalControl);
        if (const uint32_t code = storeLineData(line, line.offset, frame + 1, n, true)) return abortTransfer(node, code);
        line.offset += n;
        if (last) {
            if (line.sizeIndicated && line.offset != line.count) return abortTransfer(node, kAbortLocalControl);
            return finish(node);
        }
        line.toggle ^= 1;
        return requestUploadSegment(node);
    }
    abortTransfer(node, kAbortLocalControl);
}

void onBlockDownloadAnswer(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t command = frame[0];
    if (line.step == kStepInitiateAnswer && (command & kBlockEndMask) == 0xA0) {
        if (!sameObject(line, frame)) return abortTransfer(node, kAbortLocalControl);
        const uint8_t blockSize = frame[4];
        if (blockSize == 0 || blockSize > kMaxBlockSize) return abortTransfer(node, kAbortLocalControl);
        line.peerCrc = (command >> 2) & 0x01;
        line.blockSize = blockSize;
        line.lastBlockOffset = 0;
        return sendBlock(node);
    }
    if (line.step == kStepBlockAck && (command & kBlockEndMask) == kBlockAckCommand) {
        if (!acceptBlockAck(node, frame)) return;
        line.step = kStepBlockEndAnswer;
        const uint8_t end[8]{static_cast<uint8_t>(0xC1 | line.endDataCount << 2)};  // CRC 0
        repeatUnanswered(node, end);
        return sendToServer(node, end);
    }
    if (line.step == kStepBlockEndAnswer && (command & kBlockEndMask) == 0xA1) return finish(node);
    abortTransfer(node, kAbortLocalControl);
}

void onBlockUploadAnswer(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t command = frame[0];
    if (line.step == kStepInitiateAnswer && (command & 0xE1) == 0xC0) {
        if (!sameObject(line, frame)) return abortTransfer(node, kAbortLocalControl);
        line.peerCrc = (command >> 2) & 0x01;
        line.sizeIndicated = (command >> 1) & 0x01;
        line.count = line.sizeIndicated ? get32(frame + 4) : 0;
        line.objectSize = line.count;
        line.blockSize = kReceiveBlockSize;
        line.step = kStepBlockReceive;
        const uint8_t start[8]{0xA3};
        return sendToServer(node, start);
    }
    abortTransfer(node, kAbortLocalControl);
}

void onBlockUploadEnd(NodeData* node, const uint8_t* frame) {
    uint32_t size = 0;
    if (!acceptBlockEnd(node, frame, &size)) return;
    const uint8_t end[8]{0xA1};
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
    line.step = kStepInitiateAnswer;
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
    line.sizeIndicated = 1;
    uint8_t frame[8]{};
    if (useBlockMode) {
        putHeader(frame, 0xC2, index, subIndex);  // no CRC, size indicated
        put32(frame + 4, count);
        repeatUnanswered(node, frame);
    } else if (count >= 1 && count <= kMaxExpedited) {
        putHeader(frame, static_cast<uint8_t>(0x23 | (kMaxExpedited - count) << 2), index, subIndex);
        std::memcpy(frame + 4, lineData(line), count);
        line.offset = count;
        line.expedited = 1;
    } else {
        // Segmented, also for no bytes at all: an expedited request cannot say "none" and
        // would have the server write four.
        putHeader(frame, 0x21, index, subIndex);
        put32(frame + 4, count);
    }
    return sendInitiate(node, frame);
}

}  // namespace

void handleClientFrame(NodeData* node, uint8_t channel, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    // Answers for a channel with no transfer of ours are late or stray: never answered.
    if (line.role != kSdoRoleClient || line.channel != channel || !inProgress(line.state)) return;
    const uint8_t command = frame[0];
    if (line.step == kStepBlockReceive) {
        if (command == kAbortCommand) return peerAborted(node, frame);
        armTimeout(node);
        return receiveBlockSegment(node, frame, true);
    }
    if (line.step == kStepBlockEndRequest) {
        if (command == kAbortCommand) return peerAborted(node, frame);
        // A late or repeated segment of the finished block is no request: it is let pass.
        if ((command & kBlockEndMask) != 0xC1) return;
        armTimeout(node);
        return onBlockUploadEnd(node, frame);
    }
    if ((command & 0xE0) == kAbortCommand) return peerAborted(node, frame);
    armTimeout(node);
    switch (line.state) {
        case kSdoDownloadInProgress:
            return onDownloadAnswer(node, frame);
        case kSdoUploadInProgress:
            return onUploadAnswer(node, frame);
        case kSdoBlockDownloadInProgress:
            return onBlockDownloadAnswer(node, frame);
        case kSdoBlockUploadInProgress:
            return onBlockUploadAnswer(node, frame);
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
    uint8_t frame[8]{};
    if (useBlockMode) {
        putHeader(frame, 0xA0, index, subIndex);  // no CRC
        frame[4] = kReceiveBlockSize;
        frame[5] = 0;  // no switch to a segmented upload
    } else {
        putHeader(frame, 0x40, index, subIndex);
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
    return channel < kSdoNoChannel && line.role == kSdoRoleClient && line.channel == channel &&
           line.state != kSdoFree;
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
