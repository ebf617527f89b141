#pragma once
// The SDO frame's first byte, by name: the command specifiers of both directions, the bit fields
// each kind of frame carries, and builders of the bytes the engine sends. Frames are 8 bytes:
// the command byte, then index, sub-index and four data bytes (initiate, abort) or seven data
// bytes (segments). The little-endian field helpers come with it.
#include "byte_order.h"

#include <cstdint>

namespace canopen::sdo {

// Command specifier of a client request (bits 5..7).
enum class ClientCommand : uint8_t {
    DownloadSegment = 0,
    InitiateDownload = 1,
    InitiateUpload = 2,
    UploadSegment = 3,
    Abort = 4,
    BlockUpload = 5,
    BlockDownload = 6,
};

// Command specifier of a server answer (bits 5..7).
enum class ServerCommand : uint8_t {
    UploadSegment = 0,
    DownloadSegment = 1,
    InitiateUpload = 2,
    InitiateDownload = 3,
    Abort = 4,
    BlockDownload = 5,
    BlockUpload = 6,
};

// Sub-command of a block frame (bits 0..1). Client block download and server block upload
// frames have only Initiate and End, with bit 1 carrying "size indicated" on the initiate and
// reserved (0) on the end.
enum class BlockSub : uint8_t { Initiate = 0, End = 1, Ack = 2, Start = 3 };

constexpr uint8_t kSegmentBytes = 7;
constexpr uint8_t kExpeditedBytes = 4;

constexpr uint8_t specifier(uint8_t command) { return static_cast<uint8_t>(command >> 5); }
constexpr bool is(uint8_t command, ClientCommand c) { return specifier(command) == static_cast<uint8_t>(c); }
constexpr bool is(uint8_t command, ServerCommand c) { return specifier(command) == static_cast<uint8_t>(c); }
// Either direction: the abort specifier is the same.
constexpr bool isAbort(uint8_t command) { return is(command, ClientCommand::Abort); }
// The abort as a block's receiver tells it apart from a segment: the whole byte, since any
// other byte there is a sequence number.
constexpr uint8_t kAbortByte = 0x80;

// Initiate frames (expedited and segmented transfers).
constexpr bool sizeIndicated(uint8_t command) { return command & 0x01; }
constexpr bool expedited(uint8_t command) { return command & 0x02; }
constexpr uint8_t expeditedUnused(uint8_t command) { return (command >> 2) & 0x03; }
// Segments and their answers.
constexpr bool toggle(uint8_t command) { return (command >> 4) & 0x01; }
constexpr uint8_t segmentUnused(uint8_t command) { return (command >> 1) & 0x07; }
constexpr bool lastSegment(uint8_t command) { return command & 0x01; }
// Block frames.
constexpr BlockSub blockSub(uint8_t command) { return static_cast<BlockSub>(command & 0x03); }
constexpr bool isBlock(uint8_t command, ClientCommand c, BlockSub sub) {
    return is(command, c) && blockSub(command) == sub;
}
constexpr bool isBlock(uint8_t command, ServerCommand c, BlockSub sub) {
    return is(command, c) && blockSub(command) == sub;
}
// An initiate of the frames with a one-bit sub-command (bit 1 is "size indicated" there).
constexpr bool isBlockInitiate(uint8_t command, ClientCommand c) { return is(command, c) && !(command & 0x01); }
constexpr bool isBlockInitiate(uint8_t command, ServerCommand c) { return is(command, c) && !(command & 0x01); }
constexpr bool crcSupported(uint8_t command) { return (command >> 2) & 0x01; }
constexpr bool blockSizeIndicated(uint8_t command) { return (command >> 1) & 0x01; }
constexpr uint8_t blockEndUnused(uint8_t command) { return (command >> 2) & 0x07; }
// A block segment's first byte: sequence number 1..127 and the flag of the last segment.
constexpr uint8_t sequenceNumber(uint8_t command) { return command & 0x7F; }
constexpr bool lastInTransfer(uint8_t command) { return command & 0x80; }

namespace command {

constexpr uint8_t make(ClientCommand c, unsigned bits = 0) {
    return static_cast<uint8_t>(static_cast<unsigned>(c) << 5 | bits);
}
constexpr uint8_t make(ServerCommand c, unsigned bits = 0) {
    return static_cast<uint8_t>(static_cast<unsigned>(c) << 5 | bits);
}
constexpr uint8_t block(ClientCommand c, BlockSub sub, unsigned bits = 0) {
    return make(c, bits | static_cast<unsigned>(sub));
}
constexpr uint8_t block(ServerCommand c, BlockSub sub, unsigned bits = 0) {
    return make(c, bits | static_cast<unsigned>(sub));
}

// Expedited: the unused bytes of the four, size indicated.
constexpr uint8_t expeditedDownload(uint8_t unused) {
    return make(ClientCommand::InitiateDownload, unused << 2 | 0x03);
}
constexpr uint8_t expeditedUploadAnswer(uint8_t unused) {
    return make(ServerCommand::InitiateUpload, unused << 2 | 0x03);
}
// Segmented with the size in the data bytes.
constexpr uint8_t segmentedDownload() { return make(ClientCommand::InitiateDownload, 0x01); }
constexpr uint8_t segmentedUploadAnswer() { return make(ServerCommand::InitiateUpload, 0x01); }
constexpr uint8_t downloadSegment(bool toggle, uint8_t unused, bool last) {
    return make(ClientCommand::DownloadSegment, unsigned{toggle} << 4 | unused << 1 | unsigned{last});
}
constexpr uint8_t uploadSegment(bool toggle, uint8_t unused, bool last) {
    return make(ServerCommand::UploadSegment, unsigned{toggle} << 4 | unused << 1 | unsigned{last});
}
constexpr uint8_t uploadSegmentRequest(bool toggle) {
    return make(ClientCommand::UploadSegment, unsigned{toggle} << 4);
}
constexpr uint8_t downloadSegmentAnswer(bool toggle) {
    return make(ServerCommand::DownloadSegment, unsigned{toggle} << 4);
}
// Block initiates: no CRC from us; the block download's size is always indicated.
constexpr uint8_t blockDownload() { return block(ClientCommand::BlockDownload, BlockSub::Initiate, 0x02); }
constexpr uint8_t blockUploadAnswer() { return block(ServerCommand::BlockUpload, BlockSub::Initiate, 0x02); }
// The block's sending side: the end request with the unused bytes of the last segment, CRC 0.
constexpr uint8_t blockEnd(ClientCommand c, uint8_t unused) { return block(c, BlockSub::End, unused << 2); }
constexpr uint8_t blockEnd(ServerCommand c, uint8_t unused) { return block(c, BlockSub::End, unused << 2); }
constexpr uint8_t blockSegment(uint8_t sequence, bool last) {
    return static_cast<uint8_t>(sequence | (last ? 0x80 : 0));
}

}  // namespace command

}  // namespace canopen::sdo
