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

bool serverRuns(const SdoLine& line) { return line.role == kSdoRoleServer && inProgress(line.state); }

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
bool claimLine(NodeData* node, uint16_t index, uint8_t subIndex, uint8_t state, ServerWait wait) {
    SdoLine& line = node->sdo;
    if (line.state != kSdoFree || line.role != kSdoRoleNone) {
        refuse(node, index, subIndex, kAbortLocalControl);
        return false;
    }
    line.role = kSdoRoleServer;
    line.channel = kServerChannel;
    line.state = state;
    line.serverWait = wait;
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
    line.sizeIndicated = true;
    line.dataType = dataType;
    return 0;
}

void onInitiateDownload(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t request = frame[0];
    const uint16_t index = get16(frame + 1);
    const uint8_t subIndex = frame[3];
    if (!claimLine(node, index, subIndex, kSdoDownloadInProgress, ServerWait::DownloadSegment)) return;
    uint8_t reply[8]{};
    putHeader(reply, command::make(ServerCommand::InitiateDownload), index, subIndex);
    if (expedited(request)) {
        uint32_t size = kExpeditedBytes;
        if (sizeIndicated(request)) {
            size = kExpeditedBytes - expeditedUnused(request);
        } else {
            // No size given: the entry's own size when it fits the four bytes.
            const ObjectLookup lookup = findObject(node, index);
            if (lookup.entry && subIndex < lookup.entry->count) {
                const uint32_t entrySize = lookup.entry->subs[subIndex].size;
                if (entrySize >= 1 && entrySize <= kExpeditedBytes) size = entrySize;
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
    line.sizeIndicated = sizeIndicated(request);
    line.count = line.sizeIndicated ? get32(frame + 4) : 0;
    if (line.count > kSdoLineInlineSize) {
        abortTransfer(node, kAbortOutOfMemory);
        return;
    }
    line.toggle = false;
    answer(node, reply);
}

void onInitiateUpload(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint16_t index = get16(frame + 1);
    const uint8_t subIndex = frame[3];
    if (!claimLine(node, index, subIndex, kSdoUploadInProgress, ServerWait::UploadSegmentRequest)) return;
    if (const uint32_t code = readForUpload(node)) return abortTransfer(node, code);
    uint8_t reply[8]{};
    // An expedited answer cannot say "no bytes": an empty object goes segmented, size 0, with
    // one empty last segment.
    if (line.count >= 1 && line.count <= kExpeditedBytes) {
        putHeader(reply, command::expeditedUploadAnswer(static_cast<uint8_t>(kExpeditedBytes - line.count)), index,
                  subIndex);
        std::memcpy(reply + 4, line.data, line.count);
        releaseLine(node);
        answer(node, reply);
        return;
    }
    putHeader(reply, command::segmentedUploadAnswer(), index, subIndex);
    put32(reply + 4, line.count);
    line.toggle = false;
    answer(node, reply);
}

void onInitiateBlockDownload(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint16_t index = get16(frame + 1);
    const uint8_t subIndex = frame[3];
    if (!claimLine(node, index, subIndex, kSdoBlockDownloadInProgress, ServerWait::ReceivingBlock)) return;
    line.peerCrc = crcSupported(frame[0]);
    line.sizeIndicated = blockSizeIndicated(frame[0]);
    line.count = line.sizeIndicated ? get32(frame + 4) : 0;
    line.objectSize = line.count;
    if (line.count > kSdoLineInlineSize) return abortTransfer(node, kAbortOutOfMemory);
    line.blockSize = kReceiveBlockSize;
    uint8_t reply[8]{};
    putHeader(reply, command::block(ServerCommand::BlockDownload, BlockSub::Initiate), index, subIndex);  // no CRC
    reply[4] = kReceiveBlockSize;
    answer(node, reply);
}

void onInitiateBlockUpload(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint16_t index = get16(frame + 1);
    const uint8_t subIndex = frame[3];
    if (!claimLine(node, index, subIndex, kSdoBlockUploadInProgress, ServerWait::BlockUploadStart)) return;
    const uint8_t blockSize = frame[4];
    if (blockSize == 0 || blockSize > kMaxBlockSize) return abortTransfer(node, kAbortLocalControl);
    if (const uint32_t code = readForUpload(node)) return abortTransfer(node, code);
    line.peerCrc = crcSupported(frame[0]);
    line.blockSize = blockSize;
    line.objectSize = line.count;
    uint8_t reply[8]{};
    putHeader(reply, command::blockUploadAnswer(), index, subIndex);  // no CRC, size indicated
    put32(reply + 4, line.count);
    answer(node, reply);
}

// A frame the line does not wait for, or any frame while no transfer of ours runs: an abort
// ends the running transfer (and is never answered), an initiate starts one (refused while the
// line is in use), anything else is out of turn.
void onRequest(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t request = frame[0];
    if (isAbort(request)) {
        if (serverRuns(line)) releaseLine(node);
        return;
    }
    if (serverRuns(line)) armTimeout(node);
    switch (static_cast<ClientCommand>(specifier(request))) {
        case ClientCommand::InitiateDownload: return onInitiateDownload(node, frame);
        case ClientCommand::InitiateUpload: return onInitiateUpload(node, frame);
        case ClientCommand::BlockDownload:
            // An end request with no block received is out of turn.
            if (isBlockInitiate(request, ClientCommand::BlockDownload)) return onInitiateBlockDownload(node, frame);
            break;
        case ClientCommand::BlockUpload:
            if (blockSub(request) == BlockSub::Initiate) return onInitiateBlockUpload(node, frame);
            break;
        default: break;
    }
    refuseOutOfTurn(node);
}

void onDownloadSegment(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    const uint8_t segment = frame[0];
    if (!is(segment, ClientCommand::DownloadSegment)) return onRequest(node, frame);
    armTimeout(node);
    if (toggle(segment) != line.toggle) return abortTransfer(node, kAbortToggleNotAlternated);
    const uint32_t n = kSegmentBytes - segmentUnused(segment);
    if (line.sizeIndicated && static_cast<uint64_t>(line.offset) + n > line.count)
        return abortTransfer(node, kAbortLocalControl);
    if (const uint32_t code = storeLineData(line, line.offset, frame + 1, n, false)) return abortTransfer(node, code);
    line.offset += n;
    const uint8_t reply[8]{command::downloadSegmentAnswer(line.toggle)};
    if (!lastSegment(segment)) {
        line.toggle = !line.toggle;
        answer(node, reply);
        return;
    }
    if (line.sizeIndicated && line.offset != line.count) return abortTransfer(node, kAbortLocalControl);
    if (const uint32_t code = writeDownloaded(node, line.offset)) return abortTransfer(node, code);
    releaseLine(node);
    answer(node, reply);
}

void onUploadSegmentRequest(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    if (!is(frame[0], ClientCommand::UploadSegment)) return onRequest(node, frame);
    armTimeout(node);
    if (toggle(frame[0]) != line.toggle) return abortTransfer(node, kAbortToggleNotAlternated);
    const uint32_t n = std::min<uint32_t>(kSegmentBytes, line.count - line.offset);
    const bool last = line.offset + n >= line.count;
    uint8_t reply[8]{command::uploadSegment(line.toggle, static_cast<uint8_t>(kSegmentBytes - n), last)};
    std::memcpy(reply + 1, lineData(line) + line.offset, n);
    line.offset += n;
    line.toggle = !line.toggle;
    if (last) releaseLine(node);
    answer(node, reply);
}

// Inside a block download everything but the abort byte is a segment, whatever its first byte.
void onBlockDownloadSegment(NodeData* node, const uint8_t* frame) {
    if (frame[0] == kAbortByte) return releaseLine(node);
    armTimeout(node);
    if (receiveBlockSegment(node, frame, false)) node->sdo.serverWait = ServerWait::BlockDownloadEnd;
}

void onBlockDownloadEnd(NodeData* node, const uint8_t* frame) {
    if (frame[0] == kAbortByte) return releaseLine(node);
    // A late or repeated segment of the finished block is no request: it is let pass.
    if (!isBlock(frame[0], ClientCommand::BlockDownload, BlockSub::End)) return;
    armTimeout(node);
    uint32_t size = 0;
    if (!acceptBlockEnd(node, frame, &size)) return;
    if (const uint32_t code = writeDownloaded(node, size)) return abortTransfer(node, code);
    releaseLine(node);
    const uint8_t reply[8]{command::block(ServerCommand::BlockDownload, BlockSub::End)};
    answer(node, reply);
}

void onBlockUploadStart(NodeData* node, const uint8_t* frame) {
    if (!isBlock(frame[0], ClientCommand::BlockUpload, BlockSub::Start)) return onRequest(node, frame);
    armTimeout(node);
    node->sdo.serverWait = ServerWait::BlockAck;
    sendBlock(node);
}

void onBlockUploadAck(NodeData* node, const uint8_t* frame) {
    SdoLine& line = node->sdo;
    if (!isBlock(frame[0], ClientCommand::BlockUpload, BlockSub::Ack)) return onRequest(node, frame);
    armTimeout(node);
    if (!acceptBlockAck(node, frame)) return;
    line.serverWait = ServerWait::BlockUploadEndAnswer;
    const uint8_t end[8]{command::blockEnd(ServerCommand::BlockUpload, line.endDataCount)};
    answer(node, end);
}

void onBlockUploadEndAnswer(NodeData* node, const uint8_t* frame) {
    if (!isBlock(frame[0], ClientCommand::BlockUpload, BlockSub::End)) return onRequest(node, frame);
    releaseLine(node);
}

}  // namespace

void handleServerFrame(NodeData* node, const uint8_t* frame) {
    // The wait is Request whenever no server transfer runs, a client transfer's included.
    switch (node->sdo.serverWait) {
        case ServerWait::Request: return onRequest(node, frame);
        case ServerWait::DownloadSegment: return onDownloadSegment(node, frame);
        case ServerWait::UploadSegmentRequest: return onUploadSegmentRequest(node, frame);
        case ServerWait::ReceivingBlock: return onBlockDownloadSegment(node, frame);
        case ServerWait::BlockDownloadEnd: return onBlockDownloadEnd(node, frame);
        case ServerWait::BlockUploadStart: return onBlockUploadStart(node, frame);
        case ServerWait::BlockAck: return onBlockUploadAck(node, frame);
        case ServerWait::BlockUploadEndAnswer: return onBlockUploadEndAnswer(node, frame);
    }
}

}  // namespace canopen::sdo
