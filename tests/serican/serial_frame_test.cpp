#include "serial_frame.h"

#include <gtest/gtest.h>

#include <vector>

#include "adapter_frames.h"

using serican_test::checksumHolds;

namespace {

std::vector<uint8_t> bytesOf(const serican::SerialFrame& frame) { return {frame.begin(), frame.end()}; }

CanMessage message(uint16_t cobId, uint8_t rtr, uint8_t len, std::vector<uint8_t> data) {
    CanMessage m{};
    m.cobId = cobId;
    m.rtr = rtr;
    m.len = len;
    for (std::size_t i = 0; i < data.size() && i < 8; ++i) m.data[i] = data[i];
    return m;
}

}  // namespace

TEST(SericanSendFrame, CarriesTheIdentifierHighByteFirstAndTheRtrBit) {
    const auto frame = bytesOf(serican::encodeSendFrame(message(0x7E5, 1, 0, {})));
    EXPECT_EQ(frame[3], 0x07);
    EXPECT_EQ(frame[4], 0xE5);
    EXPECT_EQ(frame[5], 0x01);
    EXPECT_TRUE(checksumHolds(frame));
}

TEST(SericanSendFrame, DataBytesBeyondTheLengthGoOutAsZero) {
    const auto frame = bytesOf(serican::encodeSendFrame(message(0x123, 0, 3, {9, 9, 9, 9, 9, 9, 9, 9})));
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 7, frame.begin() + 15),
              (std::vector<uint8_t>{9, 9, 9, 0, 0, 0, 0, 0}));
}

TEST(SericanSendFrame, ChecksumFoldsTheCarryOfLargeSums) {
    // Bytes summing far beyond 255 exercise the end-around carry.
    const auto frame =
        bytesOf(serican::encodeSendFrame(message(0x7FF, 1, 8, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})));
    EXPECT_TRUE(checksumHolds(frame));
}
