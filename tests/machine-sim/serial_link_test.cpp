#include <gtest/gtest.h>

#include "serial_link.h"

namespace msim {
namespace {

using Kind = HostFrameDecoder::Event::Kind;

TEST(SerialLink, ReceiveFrameCarriesIdentifierBigEndianAndTheChecksum) {
    const SerialFrame f = encodeReceiveFrame(CanFrame::make(0x58A, {0x43, 0x18, 0x10, 0x02, 0x05, 0, 0, 0}));
    const SerialFrame want = {0xAA, 0x0F, 0x12, 0x05, 0x8A, 0x00, 0x08, 0x43,
                              0x18, 0x10, 0x02, 0x05, 0x00, 0x00, 0x00, 0x00};
    for (int i = 0; i < 15; ++i) EXPECT_EQ(f[i], want[i]) << "byte " << i;
    // Ones' complement of the end-around-carry sum of bytes 1..14.
    unsigned s = 0;
    for (int i = 1; i < 15; ++i) s += f[i];
    unsigned folded = (s & 0xFF) + (s >> 8);
    EXPECT_EQ(f[15], static_cast<uint8_t>(~((folded & 0xFF) + (folded >> 8))));
}

TEST(SerialLink, HostFramesOfTheDriverAreRecognised) {
    // The driver's own examples: a send of id 0, data 01 05, and the close frame.
    const uint8_t send[16] = {0xAA, 0x0F, 0x10, 0x00, 0x00, 0x00, 0x02, 0x01, 0x05, 0, 0, 0, 0, 0, 0, 0xD8};
    const uint8_t close[16] = {0xAA, 0x0F, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xD0};
    HostFrameDecoder d;
    std::vector<HostFrameDecoder::Event> ev;
    d.feed(send, 16, ev);
    d.feed(close, 16, ev);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].kind, Kind::Send);
    EXPECT_EQ(ev[0].frame, CanFrame::make(0x000, {0x01, 0x05}));
    EXPECT_EQ(ev[1].kind, Kind::Close);
    EXPECT_EQ(encodeHostCloseFrame()[15], 0xD0);
}

TEST(SerialLink, FramesSplitAcrossReadsAndPackedIntoOneAreAllFound) {
    const SerialFrame a = encodeHostSendFrame(CanFrame::make(0x60A, {0x40, 0x00, 0x10, 0, 0, 0, 0, 0}));
    const SerialFrame b = encodeHostSendFrame(CanFrame::make(0x000, {0x01, 0x0A}));
    std::vector<uint8_t> stream(a.begin(), a.end());
    stream.insert(stream.end(), b.begin(), b.end());
    HostFrameDecoder d;
    std::vector<HostFrameDecoder::Event> ev;
    d.feed(stream.data(), 5, ev);
    EXPECT_TRUE(ev.empty());
    d.feed(stream.data() + 5, stream.size() - 5, ev);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].frame.id, 0x60A);
    EXPECT_EQ(ev[1].frame, CanFrame::make(0x000, {0x01, 0x0A}));
    EXPECT_EQ(d.buffered(), 0u);
}

TEST(SerialLink, GarbageAndABadChecksumAreSkippedAndTheNextFrameStillFound) {
    SerialFrame bad = encodeHostSendFrame(CanFrame::make(0x60A, {1, 2, 3}));
    bad[15] ^= 0x01;
    const SerialFrame good = encodeHostSendFrame(CanFrame::make(0x70A, {0x05}));
    std::vector<uint8_t> stream = {0x13, 0x37, 0xAA};
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), good.begin(), good.end());
    HostFrameDecoder d;
    std::vector<HostFrameDecoder::Event> ev;
    d.feed(stream.data(), stream.size(), ev);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].kind, Kind::Garbage);
    EXPECT_EQ(ev[0].skipped, 3u + 16u);
    EXPECT_NE(ev[0].problem.find("checksum"), std::string::npos) << ev[0].problem;
    EXPECT_EQ(ev[1].kind, Kind::Send);
    EXPECT_EQ(ev[1].frame, CanFrame::make(0x70A, {0x05}));
}

TEST(SerialLink, ReceiveFramesFromTheHostAreNotTakenAsSendFrames) {
    const SerialFrame echo = encodeReceiveFrame(CanFrame::make(0x70A, {0x05}));
    HostFrameDecoder d;
    std::vector<HostFrameDecoder::Event> ev;
    d.feed(echo.data(), echo.size(), ev);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, Kind::Garbage);
    EXPECT_NE(ev[0].problem.find("kind"), std::string::npos);
}

TEST(SerialLink, LengthAboveEightCarriesEightBytesAndIsReported) {
    SerialFrame f = encodeHostSendFrame(CanFrame::make(0x123, {1, 2, 3, 4, 5, 6, 7, 8}));
    f[6] = 12;
    f[0] = 0;
    f[15] = 0;
    unsigned s = 0;
    for (int i = 1; i < 15; ++i) s += f[i];
    unsigned folded = (s & 0xFF) + (s >> 8);
    f[15] = static_cast<uint8_t>(~((folded & 0xFF) + (folded >> 8)));
    f[0] = 0xAA;
    HostFrameDecoder d;
    std::vector<HostFrameDecoder::Event> ev;
    d.feed(f.data(), f.size(), ev);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].frame.len, 8);
    EXPECT_FALSE(ev[0].problem.empty());
}

}  // namespace
}  // namespace msim
