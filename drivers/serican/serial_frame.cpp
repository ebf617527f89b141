#include "serial_frame.h"

#include <cstring>

#include "common/frame_checksum.h"

namespace serican {

namespace {

constexpr std::size_t kDataOffset = 7;

SerialFrame sealed(SerialFrame frame) {
    // The checksum covers bytes 1 to 14; the start byte counts as 0.
    frame[0] = 0x00;
    frame[1] = kSecondByte;
    frame[15] = orbel::frameChecksum(frame.data(), 15);
    frame[0] = kStartByte;
    return frame;
}

}  // namespace

SerialFrame encodeSendFrame(const CanMessage& message) {
    SerialFrame frame{};
    frame[kCommandOffset] = kSendCommand;
    frame[3] = static_cast<uint8_t>(message.cobId >> 8);
    frame[4] = static_cast<uint8_t>(message.cobId & 0xFF);
    frame[5] = message.rtr;
    // The length goes out as given, even above 8; the adapter gets no more than 8 data bytes.
    frame[6] = message.len;
    for (std::size_t i = 0; i < message.len && i < kMaxDataLength; ++i) frame[kDataOffset + i] = message.data[i];
    return sealed(frame);
}

SerialFrame encodeCloseFrame() {
    SerialFrame frame{};
    frame[kCommandOffset] = kCloseCommand;
    return sealed(frame);
}

void decodeReceiveFrame(const uint8_t* frame, CanMessage& message) {
    std::memset(&message, 0, sizeof message);
    message.cobId = static_cast<uint16_t>((frame[3] << 8) | frame[4]);
    message.rtr = frame[5];
    // A length above 8 cannot be honoured by the 8 data bytes of a message; it reads as 8.
    message.len = frame[6] > kMaxDataLength ? static_cast<uint8_t>(kMaxDataLength) : frame[6];
    std::memcpy(message.data, frame + kDataOffset, message.len);
}

}  // namespace serican
