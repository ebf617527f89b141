// The SDO server of the local dictionary: expedited, segmented and block downloads and uploads
// requested by remote clients on the server row's COB-ids. Each request is handled by the
// function named after what the line is waiting for.
#include "abort_codes.h"
#include "node_data.h"
#include "sdo_engine.h"

#include <algorithm>
#include <cstring>

namespace canopen::sdo {

namespace {

constexpr uint32_t kMaxExpedited = 4;

// Client command specifiers (byte 0 >> 5).
enum ClientCommand : uint8_t {
    kDownloadSegment = 0,
    kInitiateDownload = 1,
    kInitiateUpload = 2,
    kUploadSegment = 3,
    kAbort = 4,
    kBlockUpload = 5,
    kBlockDownload = 6,
};

// Sub-commands of a block upload request (byte 0 bits 0..1).
enum BlockUploadSub : uint8_t { kBlockUploadInitiate = 0, kBlockUploadEnd = 1, kBlockUploadAck = 2, kBlockUploadStart = 3 };

bool serverRuns(const SdoLine& line) { return line.role == kSdoRoleServer && inProgress(line.state); }

bool serverRuns(const SdoLine& line, uint8_t state, uint8_t step) {
    return serverRuns(line) && line.state == state && line.step == step;
}

void answer(NodeData* node, const uint8_t* frame) { transmit(node, serverAnswerCobId(node), frame); }

void refuse(NodeData* node, uint16_t index, uint8_t subIndex, uint32_t code) {
    sendAbort(node, kSdoRoleServer, kServerChannel, index, subIndex, code);
}

// A request that fits no transfer of its kind: it ends whatever the server was doing.
void refuseOutOfTurn(NodeData* node) {
    const SdoLine& line = node->sdo;
    if (serverRuns(line))
        abortTransfer(node, kAbortLocalControl);
    else
        refuse(node, 0, 0, kAbortLocalControl);
}

// Takes the line for a new server transfer. A line in use, by this server or by a client
// transfer, refuses it; an interrupted server transfer ends with that refusal.
bool claimLine(NodeData* node, uint16_t index, uint8_t subIndex, uint8_t state, uint8_t step) {
    SdoLine& line = node->sdo;
    if (line.state != kSdoFree || line.role != kSdoRoleNone) {
        refuse(node, index, subIndex, kAbortLocalControl);
        return false;
    }
    line.role = kSdoRoleServer;
    line.channel = kServerChannel;
    line.state = state;
    line.step = step;
    line.index = index;
    line.subIndex = subIndex;
    armTimeout(node);
    return true;
}

// Writes what a remote client downloaded. A write of no bytes says "the entry's size" to the
// dictionary, so it is refused here unless the entry is itself empty.
uint32_t writeDownloaded(NodeData* node, uint32_t size) {
    SdoLine& line = node->sdo;
    if (size == 0) {
        const ObjectLookup lookup = findObject(node, line.index);
        if (lookup.entry && line.subIndex < lookup.entry->count && lookup.entry->subs[line.subIndex].size != 0)
            return kAbortLengthMismatch;
    }
    uint32_t written = size;
    return writeLocalObject(node, line.index, line.subIndex, lineData(line), &written, true);
}

// Reads the object into the line for an upload; 0 or the abort code.
uint32_t readForUpload(NodeData* node) {
    SdoLine& line = node->sdo;
    uint32_t size = kSdoLineInlineSize;
    uint8_t dataType = 0;
    const uint32_t code = readLocalObject(node, line.index, line.subIndex, line.data, &size, &dataType, true);
    if (code) return code;
    noteInlineUse(line, size);
    line.count = size;
    line.sizeIndicated = 1;
    line.dataType = dataType;
    return 0;
}

void onInitiateDownload(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint16_t index = get16(frame + 1);
    const uint8_t subIndex = frame[3];
    const bool expedited = frame[0] & 0x02;
    const bool sizeIndicated = frame[0] & 0x01;
    if (!claimLine(node, index, subIndex, kSdoDownloadInProgress, kStepSegments)) return;
    uint8_t reply[8]{};
    putHeader(reply, 0x60, index, subIndex);
    if (expedited) {
        uint32_t size = kMaxExpedited;
        if (sizeIndicated) {
            size = kMaxExpedited - ((frame[0] >> 2) & 0x03);
        } else {
            // No size given: the entry's own size when it fits the four bytes.
            const ObjectLookup lookup = findObject(node, index);
            if (lookup.entry && subIndex < lookup.entry->count) {
                const uint32_t entrySize = lookup.entry->subs[subIndex].size;
                if (entrySize >= 1 && entrySize <= kMaxExpedited) size = entrySize;
            }
        }
        storeLineData(line, 0, frame + 4, size, false);
        if (const uint32_t code = writeDownloaded(node, size)) {
            abortTransfer(node, code);
            return;
        }
        releaseLine(node);
        answer(node, reply);
        return;
    }
    line.sizeIndicated = sizeIndicated;
    line.count = sizeIndicated ? get32(frame + 4) : 0;
    if (line.count > kSdoLineInlineSize) {
        abortTransfer(node, kAbortOutOfMemory);
        return;
    }
    line.toggle = 0;
    answer(node, reply);
}

void onDownloadSegment(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    if (!serverRuns(line, kSdoDownloadInProgress, kStepSegments)) return refuseOutOfTurn(node);
    const uint8_t toggle = (frame[0] >> 4) & 0x01;
    if (toggle != line.toggle) return abortTransfer(node, kAbortToggleNotAlternated);
    const uint32_t n = kSegmentBytes - ((frame[0] >> 1) & 0x07);
    const bool last = frame[0] & 0x01;
    if (line.sizeIndicated && static_cast<uint64_t>(line.offset) + n > line.count)
        return abortTransfer(node, kAbortLocalControl);
    if (const uint32_t code = storeLineData(line, line.offset, frame + 1, n, false)) return abortTransfer(node, code);
    line.offset += n;
    uint8_t reply[8]{};
    reply[0] = static_cast<uint8_t>(0x20 | toggle << 4);
    if (!last) {
        line.toggle ^= 1;
        answer(node, reply);
        return;
    }
    if (line.sizeIndicated && line.offset != line.count) return abortTransfer(node, kAbortLocalControl);
    if (const uint32_t code = writeDownloaded(node, line.offset)) return abortTransfer(node, code);
    releaseLine(node);
    answer(node, reply);
}

void onInitiateUpload(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint16_t index = get16(frame + 1);
    const uint8_t subIndex = frame[3];
    if (!claimLine(node, index, subIndex, kSdoUploadInProgress, kStepSegments)) return;
    if (const uint32_t code = readForUpload(node)) return abortTransfer(node, code);
    uint8_t reply[8]{};
    // An expedited answer cannot say "no bytes": an empty object goes segmented, size 0, with
    // one empty last segment.
    if (line.count >= 1 && line.count <= kMaxExpedited) {
        putHeader(reply, static_cast<uint8_t>(0x43 | (kMaxExpedited - line.count) << 2), index, subIndex);
        std::memcpy(reply + 4, line.data, line.count);
        releaseLine(node);
        answer(node, reply);
        return;
    }
    putHeader(reply, 0x41, index, subIndex);
    put32(reply + 4, line.count);
    line.toggle = 0;
    answer(node, reply);
}

void onUploadSegment(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    if (!serverRuns(line, kSdoUploadInProgress, kStepSegments)) return refuseOutOfTurn(node);
    const uint8_t toggle = (frame[0] >> 4) & 0x01;
    if (toggle != line.toggle) return abortTransfer(node, kAbortToggleNotAlternated);
    const uint32_t n = std::min(kSegmentBytes, line.count - line.offset);
    const bool last = line.offset + n >= line.count;
    uint8_t reply[8]{};
    reply[0] = static_cast<uint8_t>(toggle << 4 | (kSegmentBytes - n) << 1 | (last ? 1 : 0));
    std::memcpy(reply + 1, lineData(line) + line.offset, n);
    line.offset += n;
    line.toggle ^= 1;
    if (last) releaseLine(node);
    answer(node, reply);
}

void onInitiateBlockDownload(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint16_t index = get16(frame + 1);
    const uint8_t subIndex = frame[3];
    if (!claimLine(node, index, subIndex, kSdoBlockDownloadInProgress, kStepBlockReceive)) return;
    line.peerCrc = (frame[0] >> 2) & 0x01;
    line.sizeIndicated = (frame[0] >> 1) & 0x01;
    line.count = line.sizeIndicated ? get32(frame + 4) : 0;
    line.objectSize = line.count;
    if (line.count > kSdoLineInlineSize) return abortTransfer(node, kAbortOutOfMemory);
    line.blockSize = kReceiveBlockSize;
    uint8_t reply[8]{};
    putHeader(reply, 0xA0, index, subIndex);
    reply[4] = kReceiveBlockSize;
    answer(node, reply);
}

void onBlockDownloadEnd(NodeData* node, const uint8_t* frame) {
    uint32_t size = 0;
    if (!acceptBlockEnd(node, frame, &size)) return;
    if (const uint32_t code = writeDownloaded(node, size)) return abortTransfer(node, code);
    releaseLine(node);
    const uint8_t reply[8]{0xA1};
    answer(node, reply);
}

void onInitiateBlockUpload(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint16_t index = get16(frame + 1);
    const uint8_t subIndex = frame[3];
    if (!claimLine(node, index, subIndex, kSdoBlockUploadInProgress, kStepBlockStart)) return;
    const uint8_t blockSize = frame[4];
    if (blockSize == 0 || blockSize > kMaxBlockSize) return abortTransfer(node, kAbortLocalControl);
    if (const uint32_t code = readForUpload(node)) return abortTransfer(node, code);
    line.peerCrc = (frame[0] >> 2) & 0x01;
    line.blockSize = blockSize;
    line.objectSize = line.count;
    uint8_t reply[8]{};
    putHeader(reply, 0xC2, index, subIndex);  // no CRC, size indicated
    put32(reply + 4, line.count);
    answer(node, reply);
}

void onBlockUploadRequest(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    switch (frame[0] & 0x03) {
        case kBlockUploadInitiate:
            onInitiateBlockUpload(node, frame);
            return;
        case kBlockUploadStart:
            if (!serverRuns(line, kSdoBlockUploadInProgress, kStepBlockStart)) return refuseOutOfTurn(node);
            sendBlock(node);
            return;
        case kBlockUploadAck: {
            if (!serverRuns(line, kSdoBlockUploadInProgress, kStepBlockAck)) return refuseOutOfTurn(node);
            if (!acceptBlockAck(node, frame)) return;
            line.step = kStepBlockEndAnswer;
            const uint8_t end[8]{static_cast<uint8_t>(0xC1 | line.endDataCount << 2)};  // CRC 0
            answer(node, end);
            return;
        }
        case kBlockUploadEnd:
            if (!serverRuns(line, kSdoBlockUploadInProgress, kStepBlockEndAnswer)) return refuseOutOfTurn(node);
            releaseLine(node);
            return;
    }
}

}  // namespace

void handleServerFrame(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t command = frame[0];
    // Inside a block download everything but an abort is a segment, whatever its first byte.
    if (serverRuns(line, kSdoBlockDownloadInProgress, kStepBlockReceive)) {
        if (command == kAbortCommand) return releaseLine(node);
        armTimeout(node);
        receiveBlockSegment(node, frame, false);
        return;
    }
    if (serverRuns(line, kSdoBlockDownloadInProgress, kStepBlockEndRequest)) {
        if (command == kAbortCommand) return releaseLine(node);
        // A late or repeated segment of the finished block is no request: it is let pass.
        if ((command & kBlockEndMask) != 0xC1) return;
        armTimeout(node);
        onBlockDownloadEnd(node, frame);
        return;
    }
    if (command >> 5 == kAbort) {
        if (serverRuns(line)) releaseLine(node);
        return;  // an abort is never answered
    }
    if (serverRuns(line)) armTimeout(node);
    switch (command >> 5) {
        case kInitiateDownload:
            return onInitiateDownload(node, frame);
        case kDownloadSegment:
            return onDownloadSegment(node, frame);
        case kInitiateUpload:
            return onInitiateUpload(node, frame);
        case kUploadSegment:
            return onUploadSegment(node, frame);
        case kBlockDownload:
            if (command & 0x01) return refuseOutOfTurn(node);  // an end request with no block received
            return onInitiateBlockDownload(node, frame);
        case kBlockUpload:
            return onBlockUploadRequest(node, frame);
        default:
            return refuseOutOfTurn(node);
    }
}

}  // namespace canopen::sdo
