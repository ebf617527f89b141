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

TEST(SericanSendFrame, IdentifierZeroWithTwoDataBytes) {
    const std::vector<uint8_t> expected = {0xAA, 0x0F, 0x10, 0x00, 0x00, 0x00, 0x02, 0x01,
                                           0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD8};
    EXPECT_EQ(bytesOf(serican::encodeSendFrame(message(0x000, 0, 2, {0x01, 0x05}))), expected);
}

TEST(SericanSendFrame, CarriesTheIdentifierHighByteFirstAndTheRtrBit) {
    const auto frame = bytesOf(serican::encodeSendFrame(message(0x7E5, 1, 0, {})));
    EXPECT_EQ(frame[3], 0x07);
    EXPECT_EQ(frame[4], 0xE5);
    EXPECT_EQ(frame[5], 0x01);
    EXPECT_TRUE(checksumHolds(frame));
}

TEST(SericanSendFrame, LengthAboveEightKeepsTheLengthButOnlyEightDataBytes) {
    CanMessage m = message(0x601, 0, 12, {1, 2, 3, 4, 5, 6, 7, 8});
    const auto frame = bytesOf(serican::encodeSendFrame(m));
    EXPECT_EQ(frame[6], 12);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 7, frame.begin() + 15), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(checksumHolds(frame));
}

TEST(SericanSendFrame, DataBytesBeyondTheLengthGoOutAsZero) {
    const auto frame = bytesOf(serican::encodeSendFrame(message(0x123, 0, 3, {9, 9, 9, 9, 9, 9, 9, 9})));
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 7, frame.begin() + 15), (std::vector<uint8_t>{9, 9, 9, 0, 0, 0, 0, 0}));
}

TEST(SericanSendFrame, ChecksumFoldsTheCarryOfLargeSums) {
    // Bytes summing far beyond 255 exercise the end-around carry.
    const auto frame = bytesOf(serican::encodeSendFrame(message(0x7FF, 1, 8, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})));
    EXPECT_TRUE(checksumHolds(frame));
}

TEST(SericanCloseFrame, IsCommand0x20WithTwelveZeroBytesAndD0) {
    std::vector<uint8_t> expected = {0xAA, 0x0F, 0x20};
    expected.resize(15, 0x00);
    expected.push_back(0xD0);
    EXPECT_EQ(bytesOf(serican::encodeCloseFrame()), expected);
}
