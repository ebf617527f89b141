#pragma once
// The adapter's line protocol: every message, either way, is one 16-byte frame.
//   0 start (0xAA)  1 0x0F  2 command  3 identifier high  4 identifier low  5 rtr  6 length
//   7..14 data  15 checksum
#include <array>
#include <cstddef>
#include <cstdint>

#include "serican.h"

namespace serican {

constexpr std::size_t kFrameSize = 16;
using SerialFrame = std::array<uint8_t, kFrameSize>;

constexpr uint8_t kSendCommand = 0x10;     // host to adapter: put this message on the bus
constexpr uint8_t kCloseCommand = 0x20;    // host to adapter: the host lets go of the adapter
constexpr uint8_t kReceiveCommand = 0x12;  // adapter to host: a message from the bus
constexpr std::size_t kCommandOffset = 2;
constexpr uint8_t kStartByte = 0xAA;
constexpr uint8_t kSecondByte = 0x0F;
constexpr uint16_t kMaxIdentifier = 0x7FF;  // 11-bit CAN identifiers
constexpr uint8_t kMaxDataLength = 8;

SerialFrame encodeSendFrame(const CanMessage& message);
SerialFrame encodeCloseFrame();

// Reads a receive frame (16 bytes, command already checked) into message. The checksum is taken
// as it comes, so that every adapter that speaks this protocol is understood.
void decodeReceiveFrame(const uint8_t* frame, CanMessage& message);

}  // namespace serican
