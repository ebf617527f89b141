// The client against a peer server scripted frame by frame after the CiA 301 protocol tables.
#include "canopen/abort_codes.h"
#include "canopen/alarm.h"
#include "canopen/sdo.h"
#include "sdo_bus.h"

#include <gmock/gmock.h>

#include <cstring>
#include <numeric>

namespace sdo_test {
namespace {

using namespace canopen;
using ::testing::ElementsAre;

class SdoClient : public ScriptedPeer {
protected:
    uint8_t read(uint16_t index, uint8_t sub, bool block = false) {
        StackLockGuard lock;
        return readNetworkDictCallback(node.get(), kPeerId, index, sub, 0, Completions::record, block);
    }
    uint8_t write(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data, bool block = false) {
        StackLockGuard lock;
        return writeNetworkDictWithCallback(node.get(), kPeerId, index, sub, static_cast<uint32_t>(data.size()), 0,
                                            data.data(), Completions::record, block);
    }
    std::vector<uint8_t> fetch(uint8_t expectedResult = kSdoFinished) {
        std::vector<uint8_t> out(0x200000);
        uint32_t size = static_cast<uint32_t>(out.size());
        uint32_t abortCode = 0xDEAD;
        StackLockGuard lock;
        EXPECT_EQ(expectedResult, getReadResultNetworkDict(node.get(), kPeerId, out.data(), &size, &abortCode));
        out.resize(size);
        return out;
    }
    uint8_t writeResult(uint32_t* abortCode) {
        StackLockGuard lock;
        return getWriteResultNetworkDict(node.get(), kPeerId, abortCode);
    }
    const SdoLine& line() const { return node->sdo; }
};

TEST_F(SdoClient, ExpeditedUploadSendsInitiateAndTakesTheAnswer) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    expectSent({frame(kToPeer, {0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x4B, 0x00, 0x20, 0x01, 0x34, 0x12, 0xEE, 0xEE}), {});
    EXPECT_THAT(Completions::nodeIds, ElementsAre(kPeerId));
    EXPECT_THAT(fetch(), ElementsAre(0x34, 0x12));
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoClient, ExpeditedUploadWithoutSizeGivesFourBytes) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    takeSent();
    exchange(frame(kFromPeer, {0x42, 0x00, 0x20, 0x01, 1, 2, 3, 4}), {});
    EXPECT_THAT(fetch(), ElementsAre(1, 2, 3, 4));
}

TEST_F(SdoClient, BlockUploadInitiateAsksForBlocksOf120WithoutCrc) {
    ASSERT_EQ(kSdoStarted, read(0x1018, 3, true));
    expectSent({frame(kToPeer, {0xA0, 0x18, 0x10, 0x03, 0x78, 0x00, 0, 0})});
}

TEST_F(SdoClient, DownloadInitiateBytesByCount) {
    const struct {
        size_t count;
        uint8_t command;
    } cases[] = {{1, 0x2F}, {2, 0x2B}, {3, 0x27}, {4, 0x23}};
    for (const auto& c : cases) {
        std::vector<uint8_t> data(c.count);
        std::iota(data.begin(), data.end(), 0x11);
        ASSERT_EQ(kSdoStarted, write(0x3002, 7, data));
        CanMessage want = frame(kToPeer, {c.command, 0x02, 0x30, 0x07, 0, 0, 0, 0});
        for (size_t i = 0; i < c.count; ++i) want.data[4 + i] = data[i];
        expectSent({want});
        exchange(frame(kFromPeer, {0x60, 0x02, 0x30, 0x07, 0, 0, 0, 0}), {});
        uint32_t abortCode = 1;
        EXPECT_EQ(kSdoFinished, writeResult(&abortCode));
        EXPECT_EQ(0u, abortCode);
    }
}

TEST_F(SdoClient, SegmentedDownloadOfFiveBytes) {
    ASSERT_EQ(kSdoStarted, write(0x2000, 1, {1, 2, 3, 4, 5}));
    expectSent({frame(kToPeer, {0x21, 0x00, 0x20, 0x01, 5, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0}),
             {frame(kToPeer, {0x05, 1, 2, 3, 4, 5, 0, 0})});  // toggle 0, 2 bytes unused, last
    exchange(frame(kFromPeer, {0x20, 0, 0, 0, 0, 0, 0, 0}), {});
    uint32_t abortCode = 1;
    EXPECT_EQ(kSdoFinished, writeResult(&abortCode));
    EXPECT_THAT(Completions::nodeIds, ElementsAre(kPeerId));
}

TEST_F(SdoClient, SegmentedDownloadTogglesEverySegment) {
    std::vector<uint8_t> data(15);
    std::iota(data.begin(), data.end(), 1);
    ASSERT_EQ(kSdoStarted, write(0x2000, 1, data));
    expectSent({frame(kToPeer, {0x21, 0x00, 0x20, 0x01, 15, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0}), {frame(kToPeer, {0x00, 1, 2, 3, 4, 5, 6, 7})});
    exchange(frame(kFromPeer, {0x20, 0, 0, 0, 0, 0, 0, 0}), {frame(kToPeer, {0x10, 8, 9, 10, 11, 12, 13, 14})});
    exchange(frame(kFromPeer, {0x30, 0, 0, 0, 0, 0, 0, 0}), {frame(kToPeer, {0x0D, 15, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x20, 0, 0, 0, 0, 0, 0, 0}), {});
    uint32_t abortCode = 1;
    EXPECT_EQ(kSdoFinished, writeResult(&abortCode));
}

// An expedited request cannot say "no bytes" (its count field says 4 - n with n of 0..3).
TEST_F(SdoClient, DownloadOfNoBytesGoesSegmentedWithOneEmptySegment) {
    ASSERT_EQ(kSdoStarted, write(0x2000, 1, {}));
    expectSent({frame(kToPeer, {0x21, 0x00, 0x20, 0x01, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0}), {frame(kToPeer, {0x0F, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x20, 0, 0, 0, 0, 0, 0, 0}), {});
    uint32_t abortCode = 1;
    EXPECT_EQ(kSdoFinished, writeResult(&abortCode));
}

TEST_F(SdoClient, SegmentedUploadTogglesAndKeepsOnlyUsedBytes) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    expectSent({frame(kToPeer, {0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x41, 0x00, 0x20, 0x01, 10, 0, 0, 0}), {frame(kToPeer, {0x60, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x00, 1, 2, 3, 4, 5, 6, 7}), {frame(kToPeer, {0x70, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(3u, [&] {
        uint32_t remaining = 0;
        StackLockGuard lock;
        getSdoRemaining(node.get(), 0, &remaining);
        return remaining;
    }());
    exchange(frame(kFromPeer, {0x19, 8, 9, 10, 0xEE, 0xEE, 0xEE, 0xEE}), {});  // toggle 1, 4 unused, last
    EXPECT_THAT(fetch(), ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10));
}

TEST_F(SdoClient, SegmentedUploadOfAnEmptyObject) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    takeSent();
    exchange(frame(kFromPeer, {0x41, 0x00, 0x20, 0x01, 0, 0, 0, 0}), {frame(kToPeer, {0x60, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x0F, 0, 0, 0, 0, 0, 0, 0}), {});
    EXPECT_TRUE(fetch().empty());
}

TEST_F(SdoClient, SegmentWithTheWrongToggleIsAborted) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    takeSent();
    exchange(frame(kFromPeer, {0x41, 0x00, 0x20, 0x01, 20, 0, 0, 0}), {frame(kToPeer, {0x60, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x10, 1, 2, 3, 4, 5, 6, 7}),
             {frame(kToPeer, {0x80, 0x00, 0x20, 0x01, 0x00, 0x00, 0x03, 0x05})});
    EXPECT_THAT(Completions::nodeIds, ElementsAre(kPeerId));
    uint32_t abortCode = 0;
    uint32_t size = 99;
    StackLockGuard lock;
    EXPECT_EQ(kSdoAbortedLocally, getReadResultNetworkDict(node.get(), kPeerId, nullptr, &size, &abortCode));
    EXPECT_EQ(kAbortToggleNotAlternated, abortCode);
    EXPECT_EQ(0u, size);
    EXPECT_EQ(0, resetSdoClientLine(node.get(), kPeerId, kSdoRoleClient));
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoClient, BlockUploadEndsWithTheUnusedByteCount) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1, true));
    expectSent({frame(kToPeer, {0xA0, 0x00, 0x20, 0x01, 0x78, 0x00, 0, 0})});
    exchange(frame(kFromPeer, {0xC6, 0x00, 0x20, 0x01, 10, 0, 0, 0}), {frame(kToPeer, {0xA3, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x01, 1, 2, 3, 4, 5, 6, 7}), {});
    exchange(frame(kFromPeer, {0x82, 8, 9, 10, 0, 0, 0, 0}), {frame(kToPeer, {0xA2, 0x02, 0x78, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0xD1, 0x00, 0x00, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xA1, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(1u, line().peerCrc);  // stored, never acted on
    EXPECT_THAT(Completions::nodeIds, ElementsAre(kPeerId));
    EXPECT_THAT(fetch(), ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10));
}

TEST_F(SdoClient, BlockUploadAcknowledgesEvery120Segments) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1, true));
    takeSent();
    exchange(frame(kFromPeer, {0xC0, 0x00, 0x20, 0x01, 0, 0, 0, 0}), {frame(kToPeer, {0xA3, 0, 0, 0, 0, 0, 0, 0})});
    for (uint8_t seq = 1; seq < 120; ++seq) exchange(frame(kFromPeer, {seq, seq, 0, 0, 0, 0, 0, 0}), {});
    exchange(frame(kFromPeer, {120, 120, 0, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xA2, 120, 0x78, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x81, 121, 0, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xA2, 1, 0x78, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0xC1 | 6 << 2, 0, 0, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xA1, 0, 0, 0, 0, 0, 0, 0})});
    const std::vector<uint8_t> data = fetch();
    ASSERT_EQ(121u * 7 - 6, data.size());
    EXPECT_EQ(120, data[119 * 7]);
    EXPECT_EQ(121, data[120 * 7]);
}

TEST_F(SdoClient, BlockUploadWithALostSegmentIsAcknowledgedUpToTheGap) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1, true));
    takeSent();
    exchange(frame(kFromPeer, {0xC2, 0x00, 0x20, 0x01, 28, 0, 0, 0}), {frame(kToPeer, {0xA3, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x01, 1, 1, 1, 1, 1, 1, 1}), {});
    // Segment 2 is lost: 3 is dropped, the last one makes the client tell what it has.
    exchange(frame(kFromPeer, {0x03, 3, 3, 3, 3, 3, 3, 3}), {});
    exchange(frame(kFromPeer, {0x84, 4, 4, 4, 4, 4, 4, 4}), {frame(kToPeer, {0xA2, 0x01, 0x78, 0, 0, 0, 0, 0})});
    // The server sends again from segment 2, numbered from 1.
    exchange(frame(kFromPeer, {0x01, 2, 2, 2, 2, 2, 2, 2}), {});
    exchange(frame(kFromPeer, {0x02, 3, 3, 3, 3, 3, 3, 3}), {});
    exchange(frame(kFromPeer, {0x83, 4, 4, 4, 4, 4, 4, 4}), {frame(kToPeer, {0xA2, 0x03, 0x78, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0xC1, 0, 0, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xA1, 0, 0, 0, 0, 0, 0, 0})});
    const std::vector<uint8_t> data = fetch();
    ASSERT_EQ(28u, data.size());
    for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(i / 7 + 1, data[i]) << i;
}

TEST_F(SdoClient, BlockDownloadInitiateIndicatesTheSize) {
    ASSERT_EQ(kSdoStarted, write(0x2000, 1, std::vector<uint8_t>(1000), true));
    expectSent({frame(kToPeer, {0xC2, 0x00, 0x20, 0x01, 0xE8, 0x03, 0x00, 0x00})});
}

// 1000 bytes are 143 segments, the last with 6 bytes. The server takes blocks of 127 and
// loses segment 50 of the first; the client goes on from the acknowledged position 49 * 7.
TEST_F(SdoClient, BlockDownloadResendsFromTheAcknowledgedPosition) {
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    ASSERT_EQ(kSdoStarted, write(0x2000, 1, data, true));
    takeSent();
    bus.injectAndPump(frame(kFromPeer, {0xA0, 0x00, 0x20, 0x01, 127, 0, 0, 0}));
    std::vector<CanMessage> block = takeSent();
    ASSERT_EQ(127u, block.size());
    for (size_t s = 0; s < block.size(); ++s) {
        ASSERT_EQ(s + 1, block[s].data[0]);
        ASSERT_EQ(0, std::memcmp(block[s].data + 1, data.data() + 7 * s, 7)) << s;
    }
    bus.injectAndPump(frame(kFromPeer, {0xA2, 49, 127, 0, 0, 0, 0, 0}));
    block = takeSent();
    ASSERT_EQ(94u, block.size());  // (1000 - 343) / 7 rounded up
    for (size_t s = 0; s < block.size(); ++s) {
        const size_t at = 343 + 7 * s;
        const size_t n = std::min<size_t>(7, 1000 - at);
        ASSERT_EQ(s + 1 == block.size() ? 0x80 | (s + 1) : s + 1, block[s].data[0]);
        ASSERT_EQ(0, std::memcmp(block[s].data + 1, data.data() + at, n)) << s;
    }
    EXPECT_THAT(block.back().data,
                ElementsAre(0x80 | 94, data[994], data[995], data[996], data[997], data[998], data[999], 0));
    // Acknowledging the short last segment carries the position to 1001: the end follows.
    exchange(frame(kFromPeer, {0xA2, 94, 127, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xC5, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0xA1, 0, 0, 0, 0, 0, 0, 0}), {});
    uint32_t abortCode = 1;
    EXPECT_EQ(kSdoFinished, writeResult(&abortCode));
    EXPECT_THAT(Completions::nodeIds, ElementsAre(kPeerId));
}

TEST_F(SdoClient, BlockDownloadAcknowledgementOfNothingResendsTheWholeBlock) {
    ASSERT_EQ(kSdoStarted, write(0x2000, 1, std::vector<uint8_t>(20, 0x5A), true));
    takeSent();
    bus.injectAndPump(frame(kFromPeer, {0xA0, 0x00, 0x20, 0x01, 5, 0, 0, 0}));
    ASSERT_EQ(3u, takeSent().size());
    bus.injectAndPump(frame(kFromPeer, {0xA2, 0, 5, 0, 0, 0, 0, 0}));
    const std::vector<CanMessage> again = takeSent();
    ASSERT_EQ(3u, again.size());
    EXPECT_EQ(0x83, again[2].data[0]);
    exchange(frame(kFromPeer, {0xA2, 3, 5, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xC1 | 1 << 2, 0, 0, 0, 0, 0, 0, 0})});
}

TEST_F(SdoClient, BlockDownloadAcknowledgementBeyondTheSegmentsSentIsAborted) {
    ASSERT_EQ(kSdoStarted, write(0x2000, 1, std::vector<uint8_t>(20, 0x5A), true));
    takeSent();
    bus.injectAndPump(frame(kFromPeer, {0xA0, 0x00, 0x20, 0x01, 5, 0, 0, 0}));
    ASSERT_EQ(3u, takeSent().size());
    exchange(frame(kFromPeer, {0xA2, 4, 5, 0, 0, 0, 0, 0}),
             {frame(kToPeer, {0x80, 0x00, 0x20, 0x01, 0x21, 0x00, 0x00, 0x08})});
    uint32_t abortCode = 0;
    EXPECT_EQ(kSdoAbortedLocally, writeResult(&abortCode));
    EXPECT_EQ(kAbortLocalControl, abortCode);
}

TEST_F(SdoClient, BlockDownloadOfNoBytesSendsOneEmptySegment) {
    ASSERT_EQ(kSdoStarted, write(0x2000, 1, {}, true));
    expectSent({frame(kToPeer, {0xC2, 0x00, 0x20, 0x01, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0xA0, 0x00, 0x20, 0x01, 127, 0, 0, 0}), {frame(kToPeer, {0x81, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0xA2, 1, 127, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xDD, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0xA1, 0, 0, 0, 0, 0, 0, 0}), {});
    uint32_t abortCode = 1;
    EXPECT_EQ(kSdoFinished, writeResult(&abortCode));
}

TEST_F(SdoClient, PeerAbortEndsTheTransferWithItsCode) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    takeSent();
    exchange(frame(kFromPeer, {0x80, 0x00, 0x20, 0x01, 0x00, 0x00, 0x02, 0x06}), {});
    EXPECT_THAT(Completions::nodeIds, ElementsAre(kPeerId));
    uint32_t abortCode = 0;
    uint32_t size = 5;
    StackLockGuard lock;
    EXPECT_EQ(kSdoAbortedByPeer, getReadResultNetworkDict(node.get(), kPeerId, nullptr, &size, &abortCode));
    EXPECT_EQ(kAbortNoObject, abortCode);
    // An aborted line stays until it is reset.
    EXPECT_EQ(kSdoBusy, readNetworkDictCallback(node.get(), kPeerId, 0x2000, 1, 0, nullptr, false));
    EXPECT_EQ(0, resetSdoClientLine(node.get(), kPeerId, kSdoRoleClient));
    EXPECT_EQ(0xFF, resetSdoClientLine(node.get(), kPeerId, kSdoRoleClient));
    EXPECT_EQ(kSdoStarted, readNetworkDictCallback(node.get(), kPeerId, 0x2000, 1, 0, nullptr, false));
}

TEST_F(SdoClient, FrameOfSevenBytesIsAnsweredWithGeneralError) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    takeSent();
    exchange(frame(kFromPeer, {0x4F, 0x00, 0x20, 0x01, 1, 0, 0}),
             {frame(kToPeer, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08})});
    EXPECT_EQ(kSdoAbortedLocally, line().state);
    EXPECT_EQ(kAbortGeneral, line().abortCode);
    EXPECT_THAT(Completions::nodeIds, ElementsAre(kPeerId));
}

// Other nodes' conversations pass on the answer COB-ids of our client channels too: a broken
// frame there is no business of ours unless our transfer runs on that channel.
TEST_F(SdoClient, ShortFramesOfChannelsWithoutOurTransferAreIgnored) {
    exchange(frame(kFromPeer, {0x60, 0x00, 0x20}), {});
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    takeSent();
    exchange(frame(0x585, {0x43, 0x00, 0x20, 0x01}), {});
    EXPECT_EQ(kSdoUploadInProgress, line().state);
    EXPECT_TRUE(Completions::nodeIds.empty());
}

TEST_F(SdoClient, SilentServerIsAbortedAfter4000ms) {
    static uint8_t seenState;
    static uint32_t seenAbort;
    seenState = 0;
    seenAbort = 0;
    {
        StackLockGuard lock;
        ASSERT_EQ(kSdoStarted, readNetworkDictCallback(
                                   node.get(), kPeerId, 0x2000, 1, 0,
                                   [](NodeData* n, uint8_t id) {
                                       uint32_t size = 0;
                                       seenState = getReadResultNetworkDict(n, id, nullptr, &size, &seenAbort);
                                   },
                                   false));
    }
    takeSent();
    bus.advance(3999);
    expectSent({});
    bus.advance(1);
    expectSent({frame(kToPeer, {0x80, 0x00, 0x20, 0x01, 0x00, 0x00, 0x04, 0x05})});
    EXPECT_EQ(kSdoAbortedLocally, seenState);
    EXPECT_EQ(kAbortSdoTimedOut, seenAbort);
    // Nobody took the result in the callback: the line is free for the next request.
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoClient, EveryFrameOfTheTransferRestartsTheTimeOut) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    takeSent();
    bus.advance(3000);
    exchange(frame(kFromPeer, {0x41, 0x00, 0x20, 0x01, 20, 0, 0, 0}), {frame(kToPeer, {0x60, 0, 0, 0, 0, 0, 0, 0})});
    bus.advance(3999);
    expectSent({});
    EXPECT_EQ(kSdoUploadInProgress, line().state);
    bus.advance(1);
    expectSent({frame(kToPeer, {0x80, 0x00, 0x20, 0x01, 0x00, 0x00, 0x04, 0x05})});
    // Without a callback to collect it, the result stays readable until the line is freed.
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoClient, TimeOutWithoutCallbackLeavesTheLineFreeAndTheResultSaysTimedOut) {
    {
        StackLockGuard lock;
        ASSERT_EQ(kSdoStarted, writeNetworkDict(node.get(), kPeerId, 0x2000, 1, 4, 0, "abcd", false));
    }
    bus.advance(4000);
    uint32_t abortCode = 0;
    EXPECT_EQ(kSdoAbortedLocally, writeResult(&abortCode));
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoClient, SecondRequestWhileBusyIsRefused) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    EXPECT_EQ(kSdoBusy, read(0x2000, 1));
    EXPECT_EQ(kSdoBusy, write(0x2000, 1, {1}));
    StackLockGuard lock;
    EXPECT_EQ(kSdoBusy, readNetworkDictCallback(node.get(), 3, 0x1000, 0, 0, nullptr, false));
}

TEST_F(SdoClient, NodesWithoutAClientChannelAreRefused) {
    StackLockGuard lock;
    EXPECT_EQ(kSdoNoChannel, readNetworkDictCallback(node.get(), 127, 0x1000, 0, 0, nullptr, false));
    EXPECT_EQ(kSdoNoChannel, writeNetworkDict(node.get(), 127, 0x1000, 0, 1, 0, "x", false));
    EXPECT_EQ(kSdoNoChannel, readNetworkDictCallback(node.get(), 200, 0x1000, 0, 0, nullptr, false));
    uint32_t abortCode = 0;
    EXPECT_EQ(kSdoAbortedLocally, getWriteResultNetworkDict(node.get(), 127, &abortCode));
    EXPECT_EQ(kSdoAbortedLocally, resetSdoClientLine(node.get(), 127, kSdoRoleClient));
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoClient, ShortBufferKeepsTheResultForALaterFetch) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    takeSent();
    exchange(frame(kFromPeer, {0x43, 0x00, 0x20, 0x01, 1, 2, 3, 4}), {});
    uint8_t out[4] = {};
    uint32_t size = 3;
    uint32_t abortCode = 7;
    StackLockGuard lock;
    EXPECT_EQ(kSdoBufferTooSmall, getReadResultNetworkDict(node.get(), kPeerId, out, &size, &abortCode));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(kSdoFinished, line().state);
    size = 4;
    EXPECT_EQ(kSdoFinished, getReadResultNetworkDict(node.get(), kPeerId, out, &size, &abortCode));
    EXPECT_EQ(4u, size);
    EXPECT_THAT(out, ElementsAre(1, 2, 3, 4));
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoClient, NothingStartsWhileTheNodeIsStopped) {
    StackLockGuard lock;
    ASSERT_EQ(Stopped, setNodeState(node.get(), Stopped));
    takeSent();
    EXPECT_EQ(kSdoBusy, readNetworkDictCallback(node.get(), kPeerId, 0x2000, 1, 0, nullptr, false));
    EXPECT_EQ(kSdoBusy, writeNetworkDict(node.get(), kPeerId, 0x2000, 1, 2, 0, "ab", true));
    EXPECT_EQ(kSdoFree, line().state);
    EXPECT_EQ(NO_ALARM, line().alarm);
    expectSent({});
}

TEST_F(SdoClient, StoppingTheNodeMidTransferTellsTheCaller) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    StackLockGuard lock;
    ASSERT_EQ(Stopped, setNodeState(node.get(), Stopped));
    EXPECT_THAT(Completions::nodeIds, ElementsAre(kPeerId));
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoClient, AnswersOnOtherChannelsAreIgnored) {
    ASSERT_EQ(kSdoStarted, read(0x2000, 1));
    takeSent();
    exchange(frame(0x580 + 11, {0x4F, 0x00, 0x20, 0x01, 1, 0, 0, 0}), {});
    exchange(frame(0x580 + 11, {0x80, 0x00, 0x20, 0x01, 0, 0, 0, 0x08}), {});
    exchange(frame(0x5FF, {0x4F, 0x00, 0x20, 0x01, 1, 0, 0, 0}), {});
    EXPECT_EQ(kSdoUploadInProgress, line().state);
    EXPECT_TRUE(Completions::nodeIds.empty());
    exchange(frame(kFromPeer, {0x4F, 0x00, 0x20, 0x01, 9, 0, 0, 0}), {});
    EXPECT_THAT(fetch(), ElementsAre(9));
}

}  // namespace
}  // namespace sdo_test
