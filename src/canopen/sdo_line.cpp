// Keeping the node's one SDO line: its buffers, its time-out, and how a transfer ends by abort.
#include "abort_codes.h"
#include "node_data.h"
#include "sdo.h"
#include "sdo_engine.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace canopen::sdo {

namespace {

// A peer that goes quiet for the time-out ends the transfer. The client's caller is told; if it
// did not take the result in its callback, nobody will, and the line is freed for the next one.
void onTimeout(NodeData* node, uint32_t) {
    SdoLine& line = node->sdo;
    line.alarm = NO_ALARM;
    if (!inProgress(line.state)) return;
    uint8_t frame[8]{};
    putHeader(frame, kAbortByte, line.index, line.subIndex);
    put32(frame + 4, kAbortSdoTimedOut);
    const uint32_t cobId = transmitCobId(node, line.role, line.channel);
    if (line.role == kSdoRoleServer) {
        releaseLine(node);
        transmit(node, cobId, frame);
        return;
    }
    endClientTransfer(line, kSdoAbortedLocally, kAbortSdoTimedOut);
    transmit(node, cobId, frame);
    notifyClient(node);
    if (line.abortCode == kAbortSdoTimedOut) releaseLine(node);
}

}  // namespace

void releaseLine(NodeData* node) {
    SdoLine& line = node->sdo;
    line.alarm = cancelAlarm(line.alarm);
    line.ackAlarm = cancelAlarm(line.ackAlarm);
    static_cast<SdoTransfer&>(line) = SdoTransfer{};
    ++line.generation;
    // Only the bytes written since the last free can be non-zero, so clearing them clears the
    // whole inline buffer.
    std::memset(line.data, 0, std::min(line.inlineUsed, kSdoLineInlineSize));
    line.inlineUsed = 0;
    line.heapBuffer.reset();
    line.heapSize = 0;
}

void armTimeout(NodeData* node) {
    SdoLine& line = node->sdo;
    line.alarm = cancelAlarm(line.alarm);
    line.alarm = armAlarm(node, kTimeoutAlarmId, onTimeout, kTimeoutMs, 0);
}

uint8_t* lineData(SdoLine& line) { return line.heapBuffer ? line.heapBuffer.get() : line.data; }

uint32_t lineCapacity(const SdoLine& line) { return line.heapBuffer ? line.heapSize : kSdoLineInlineSize; }

void noteInlineUse(SdoLine& line, uint32_t end) {
    if (!line.heapBuffer) line.inlineUsed = std::max(line.inlineUsed, std::min(end, kSdoLineInlineSize));
}

uint32_t storeLineData(SdoLine& line, uint32_t at, const uint8_t* source, uint32_t n, bool mayGrow) {
    if (n == 0) return 0;
    const uint64_t end = static_cast<uint64_t>(at) + n;
    if (end > 0xFFFFFFFFu) return kAbortOutOfMemory;
    if (end > lineCapacity(line)) {
        if (!mayGrow) return kAbortOutOfMemory;
        uint64_t capacity = lineCapacity(line);
        while (capacity < end) capacity += kHeapGrowth;
        capacity = std::min<uint64_t>(capacity, 0xFFFFFFFFu);
        std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[static_cast<size_t>(capacity)]);
        if (!grown) return kAbortOutOfMemory;
        std::memcpy(grown.get(), lineData(line), at);
        line.heapBuffer = std::move(grown);
        line.heapSize = static_cast<uint32_t>(capacity);
    }
    std::memcpy(lineData(line) + at, source, n);
    noteInlineUse(line, static_cast<uint32_t>(end));
    return 0;
}

void endClientTransfer(SdoLine& line, uint8_t state, uint32_t abortCode) {
    line.state = state;
    line.clientWait = ClientWait::Nothing;
    line.abortCode = abortCode;
}

void notifyClient(NodeData* node) {
    SdoLine& line = node->sdo;
    if (line.callback) line.callback(node, clientServerNodeId(node, line.channel));
}

void sendAbort(NodeData* node, uint8_t role, uint8_t channel, uint16_t index, uint8_t subIndex, uint32_t code) {
    SdoLine& line = node->sdo;
    const bool endsTransfer = line.role == role && line.channel == channel && inProgress(line.state);
    uint8_t frame[8]{};
    putHeader(frame, kAbortByte, index, subIndex);
    put32(frame + 4, code);
    const uint32_t cobId = transmitCobId(node, role, channel);
    if (!endsTransfer) {
        transmit(node, cobId, frame);
        return;
    }
    if (role == kSdoRoleServer) {
        releaseLine(node);
        transmit(node, cobId, frame);
        return;
    }
    // The caller learns at once rather than at the time-out, which would overwrite the code.
    line.alarm = cancelAlarm(line.alarm);
    endClientTransfer(line, kSdoAbortedLocally, code);
    transmit(node, cobId, frame);
    notifyClient(node);
}

void abortTransfer(NodeData* node, uint32_t code) {
    SdoLine& line = node->sdo;
    sendAbort(node, line.role, line.channel, line.index, line.subIndex, code);
}

}  // namespace canopen::sdo

namespace canopen {

void abortSdoClientTransfer(NodeData* node, uint32_t code) {
    if (!node) return;
    SdoLine& line = node->sdo;
    if (line.role != kSdoRoleClient || !sdo::inProgress(line.state)) return;
    // Sent after the segment being handed over now: behind the abort, the server would read the
    // segment as a request of its own.
    std::lock_guard<std::mutex> afterSegment(line.unlockedSend);
    sdo::abortTransfer(node, code);
}

}  // namespace canopen
