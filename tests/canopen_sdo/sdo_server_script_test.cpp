// The local server against a peer client scripted frame by frame after the CiA 301 tables.
#include "canopen/abort_codes.h"
#include "canopen/alarm.h"
#include "canopen/sdo.h"
#include "sdo_bus.h"

#include <gmock/gmock.h>

namespace sdo_test {
namespace {

using namespace canopen;

class SdoServer : public ScriptedPeer {
protected:
    CanMessage abortFrame(uint16_t index, uint8_t sub, uint32_t code) { return abortOn(kFromLocal, index, sub, code); }
    // Points the domain 0x2000 sub 1 at `storage`, so that it holds an object of that size.
    void setDomain(std::vector<uint8_t>& storage) {
        StackLockGuard lock;
        const ObjectLookup lookup = findObject(node.get(), 0x2000);
        lookup.entry->subs[1].value = storage.data();
        lookup.entry->subs[1].size = static_cast<uint32_t>(storage.size());
    }
    const SdoLine& line() const { return node->sdo; }
};

TEST_F(SdoServer, ExpeditedUploadOfAnEntry) {
    node->od.values.identity[1] = 0x12345678;
    exchange(frame(kToLocal, {0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}),
             {frame(kFromLocal, {0x43, 0x18, 0x10, 0x02, 0x78, 0x56, 0x34, 0x12})});
    exchange(frame(kToLocal, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0}),
             {frame(kFromLocal, {0x4F, 0x18, 0x10, 0x00, 0x04, 0, 0, 0})});
    EXPECT_EQ(kSdoFree, line().state);
}

// An expedited answer cannot say "no bytes": the empty domain goes segmented, size 0, with one
// empty last segment.
TEST_F(SdoServer, EmptyObjectIsUploadedSegmentedWithSizeZero) {
    exchange(frame(kToLocal, {0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0}),
             {frame(kFromLocal, {0x41, 0x00, 0x20, 0x01, 0, 0, 0, 0})});
    exchange(frame(kToLocal, {0x60, 0, 0, 0, 0, 0, 0, 0}), {frame(kFromLocal, {0x0F, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, EmptyObjectIsUploadedByBlockWithOneEmptySegment) {
    exchange(frame(kToLocal, {0xA0, 0x00, 0x20, 0x01, 127, 0, 0, 0}),
             {frame(kFromLocal, {0xC2, 0x00, 0x20, 0x01, 0, 0, 0, 0})});
    exchange(frame(kToLocal, {0xA3, 0, 0, 0, 0, 0, 0, 0}), {frame(kFromLocal, {0x81, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kToLocal, {0xA2, 1, 127, 0, 0, 0, 0, 0}), {frame(kFromLocal, {0xDD, 0, 0, 0, 0, 0, 0, 0})});
    exchange(frame(kToLocal, {0xA1, 0, 0, 0, 0, 0, 0, 0}), {});
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, ExpeditedDownloadIsWrittenAndConfirmed) {
    exchange(frame(kToLocal, {0x2F, 0x22, 0x22, 0x01, 0x55, 0xEE, 0xEE, 0xEE}),
             {frame(kFromLocal, {0x60, 0x22, 0x22, 0x01, 0, 0, 0, 0})});
    EXPECT_EQ(0x55, node->od.values.object2222);
    exchange(frame(kToLocal, {0x23, 0x02, 0x30, 0x05, 1, 2, 3, 4}),
             {frame(kFromLocal, {0x60, 0x02, 0x30, 0x05, 0, 0, 0, 0})});
    EXPECT_EQ(0x04030201u, node->od.values.array3002.elements[4]);
    // No size given: the entry's own size.
    exchange(frame(kToLocal, {0x22, 0x01, 0x30, 0x01, 0x34, 0x12, 0xEE, 0xEE}),
             {frame(kFromLocal, {0x60, 0x01, 0x30, 0x01, 0, 0, 0, 0})});
    EXPECT_EQ(0x1234, node->od.values.array3001.elements[0]);
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, DictionaryRefusalsAreSentAsAborts) {
    exchange(frame(kToLocal, {0x23, 0x00, 0x10, 0x00, 1, 0, 0, 0}), {abortFrame(0x1000, 0, kAbortReadOnly)});
    exchange(frame(kToLocal, {0x40, 0x19, 0x10, 0x00, 0, 0, 0, 0}), {abortFrame(0x1019, 0, kAbortNoObject)});
    exchange(frame(kToLocal, {0x40, 0x18, 0x10, 0x05, 0, 0, 0, 0}), {abortFrame(0x1018, 5, kAbortNoSubIndex)});
    exchange(frame(kToLocal, {0x2B, 0x16, 0x10, 0x01, 1, 2, 0, 0}), {abortFrame(0x1016, 1, kAbortLengthMismatch)});
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, SegmentedDownloadWithTogglesIntoTheDomain) {
    std::vector<uint8_t> domain(10);
    setDomain(domain);
    exchange(frame(kToLocal, {0x21, 0x00, 0x20, 0x01, 10, 0, 0, 0}),
             {frame(kFromLocal, {0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0})});
    exchange(frame(kToLocal, {0x00, 1, 2, 3, 4, 5, 6, 7}), {frame(kFromLocal, {0x20, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(0, domain[0]);  // written once everything is in
    exchange(frame(kToLocal, {0x19, 8, 9, 10, 0, 0, 0, 0}), {frame(kFromLocal, {0x30, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_THAT(domain, ::testing::ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10));
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, SegmentedUploadWithToggles) {
    std::vector<uint8_t> domain{1, 2, 3, 4, 5, 6, 7, 8, 9};
    setDomain(domain);
    exchange(frame(kToLocal, {0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0}),
             {frame(kFromLocal, {0x41, 0x00, 0x20, 0x01, 9, 0, 0, 0})});
    exchange(frame(kToLocal, {0x60, 0, 0, 0, 0, 0, 0, 0}), {frame(kFromLocal, {0x00, 1, 2, 3, 4, 5, 6, 7})});
    exchange(frame(kToLocal, {0x70, 0, 0, 0, 0, 0, 0, 0}), {frame(kFromLocal, {0x1B, 8, 9, 0, 0, 0, 0, 0})});
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, WrongToggleInADownloadSegmentIsAborted) {
    std::vector<uint8_t> domain(10);
    setDomain(domain);
    bus.injectAndPump(frame(kToLocal, {0x21, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
    takeSent();
    exchange(frame(kToLocal, {0x10, 1, 2, 3, 4, 5, 6, 7}), {abortFrame(0x2000, 1, kAbortToggleNotAlternated)});
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, BlockDownloadOfAnEntry) {
    exchange(frame(kToLocal, {0xC2, 0x02, 0x30, 0x01, 4, 0, 0, 0}),
             {frame(kFromLocal, {0xA0, 0x02, 0x30, 0x01, 0x78, 0, 0, 0})});
    exchange(frame(kToLocal, {0x81, 0x78, 0x56, 0x34, 0x12, 0, 0, 0}),
             {frame(kFromLocal, {0xA2, 0x01, 0x78, 0, 0, 0, 0, 0})});
    // The last segment again, after its acknowledgement: late, no end request; let pass.
    exchange(frame(kToLocal, {0x81, 0x78, 0x56, 0x34, 0x12, 0, 0, 0}), {});
    exchange(frame(kToLocal, {0xCD, 0, 0, 0, 0, 0, 0, 0}), {frame(kFromLocal, {0xA1, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(0x12345678u, node->od.values.array3002.elements[0]);
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, BlockDownloadRecoversFromLostDuplicatedAndSwappedSegments) {
    std::vector<uint8_t> domain(35);
    setDomain(domain);
    auto segment = [](uint8_t seq, uint8_t value) {
        return frame(kToLocal, {seq, value, value, value, value, value, value, value});
    };
    exchange(frame(kToLocal, {0xC2, 0x00, 0x20, 0x01, 35, 0, 0, 0}),
             {frame(kFromLocal, {0xA0, 0x00, 0x20, 0x01, 0x78, 0, 0, 0})});
    exchange(segment(1, 1), {});
    exchange(segment(1, 1), {});  // duplicated: dropped
    exchange(segment(3, 3), {});  // swapped with 2: dropped
    exchange(segment(2, 2), {});  // stored
    exchange(segment(4, 4), {});  // still in order after 2? no: 3 was dropped
    exchange(segment(0x85, 5), {frame(kFromLocal, {0xA2, 0x02, 0x78, 0, 0, 0, 0, 0})});
    // The client goes on from segment 3, numbered from 1; segment 2 of this block is lost.
    exchange(segment(1, 3), {});
    exchange(segment(0x83, 5), {frame(kFromLocal, {0xA2, 0x01, 0x78, 0, 0, 0, 0, 0})});
    exchange(segment(1, 4), {});
    exchange(segment(0x82, 5), {frame(kFromLocal, {0xA2, 0x02, 0x78, 0, 0, 0, 0, 0})});
    exchange(frame(kToLocal, {0xC1, 0, 0, 0, 0, 0, 0, 0}), {frame(kFromLocal, {0xA1, 0, 0, 0, 0, 0, 0, 0})});
    for (size_t i = 0; i < domain.size(); ++i) ASSERT_EQ(i / 7 + 1, domain[i]) << i;
}

TEST_F(SdoServer, BlockUploadSendsBlocksAndEndsWithTheUnusedByteCount) {
    std::vector<uint8_t> domain(17);
    for (size_t i = 0; i < domain.size(); ++i) domain[i] = static_cast<uint8_t>(i + 1);
    setDomain(domain);
    exchange(frame(kToLocal, {0xA4, 0x00, 0x20, 0x01, 2, 0, 0, 0}),  // asks for CRC; the server has none
             {frame(kFromLocal, {0xC2, 0x00, 0x20, 0x01, 17, 0, 0, 0})});
    exchange(frame(kToLocal, {0xA3, 0, 0, 0, 0, 0, 0, 0}),
             {frame(kFromLocal, {0x01, 1, 2, 3, 4, 5, 6, 7}), frame(kFromLocal, {0x02, 8, 9, 10, 11, 12, 13, 14})});
    // Segment 2 did not arrive: the server sends from there again, in blocks of 3 now.
    exchange(frame(kToLocal, {0xA2, 1, 3, 0, 0, 0, 0, 0}),
             {frame(kFromLocal, {0x01, 8, 9, 10, 11, 12, 13, 14}), frame(kFromLocal, {0x82, 15, 16, 17, 0, 0, 0, 0})});
    exchange(frame(kToLocal, {0xA2, 2, 3, 0, 0, 0, 0, 0}), {frame(kFromLocal, {0xD1, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(kSdoBlockUploadInProgress, line().state);
    exchange(frame(kToLocal, {0xA1, 0, 0, 0, 0, 0, 0, 0}), {});
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, RequestsWhileTheClientHoldsTheLineAreRefused) {
    {
        StackLockGuard lock;
        ASSERT_EQ(kSdoStarted, readNetworkDictCallback(node.get(), kPeerId, 0x1000, 0, 0, nullptr, false));
    }
    takeSent();
    exchange(frame(kToLocal, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0}), {abortFrame(0x1018, 0, kAbortLocalControl)});
    exchange(frame(kToLocal, {0xC2, 0x02, 0x30, 0x01, 4, 0, 0, 0}), {abortFrame(0x3002, 1, kAbortLocalControl)});
    exchange(frame(kToLocal, {0x2F, 0x22, 0x22, 0x01, 0x55, 0, 0, 0}), {abortFrame(0x2222, 1, kAbortLocalControl)});
    exchange(frame(kToLocal, {0x60, 0, 0, 0, 0, 0, 0, 0}), {abortFrame(0, 0, kAbortLocalControl)});
    exchange(frame(kToLocal, {0x80, 0, 0, 0, 0, 0, 0, 0}), {});
    EXPECT_EQ(kSdoRoleClient, line().role);
    EXPECT_EQ(kSdoUploadInProgress, line().state);
    EXPECT_EQ(0, node->od.values.object2222);
}

TEST_F(SdoServer, SegmentRequestsWithoutATransferAreRefused) {
    exchange(frame(kToLocal, {0x60, 0, 0, 0, 0, 0, 0, 0}), {abortFrame(0, 0, kAbortLocalControl)});
    exchange(frame(kToLocal, {0x00, 1, 2, 3, 4, 5, 6, 7}), {abortFrame(0, 0, kAbortLocalControl)});
    exchange(frame(kToLocal, {0xA3, 0, 0, 0, 0, 0, 0, 0}), {abortFrame(0, 0, kAbortLocalControl)});
    exchange(frame(kToLocal, {0xA2, 1, 0x7F, 0, 0, 0, 0, 0}), {abortFrame(0, 0, kAbortLocalControl)});
    exchange(frame(kToLocal, {0xC1, 0, 0, 0, 0, 0, 0, 0}), {abortFrame(0, 0, kAbortLocalControl)});
    exchange(frame(kToLocal, {0xE0, 0, 0, 0, 0, 0, 0, 0}), {abortFrame(0, 0, kAbortLocalControl)});
    // An abort with nothing running is never answered.
    exchange(frame(kToLocal, {0x80, 0, 0, 0, 0, 0, 0, 0}), {});
}

TEST_F(SdoServer, NewInitiateDuringATransferEndsIt) {
    std::vector<uint8_t> domain(10);
    setDomain(domain);
    bus.injectAndPump(frame(kToLocal, {0x21, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
    takeSent();
    exchange(frame(kToLocal, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0}), {abortFrame(0x1018, 0, kAbortLocalControl)});
    EXPECT_EQ(kSdoFree, line().state);
    exchange(frame(kToLocal, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0}),
             {frame(kFromLocal, {0x4F, 0x18, 0x10, 0x00, 0x04, 0, 0, 0})});
}

TEST_F(SdoServer, FrameOfSevenBytesIsAnsweredWithGeneralError) {
    exchange(frame(kToLocal, {0x40, 0x18, 0x10, 0x00, 0, 0, 0}), {abortFrame(0, 0, kAbortGeneral)});
}

TEST_F(SdoServer, SilentClientIsAbortedAfter4000ms) {
    std::vector<uint8_t> domain(10);
    setDomain(domain);
    bus.injectAndPump(frame(kToLocal, {0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0}));
    takeSent();
    bus.advance(3999);
    expectSent({});
    bus.advance(1);
    expectSent({abortFrame(0x2000, 1, kAbortSdoTimedOut)});
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, ObjectTooLargeForTheLineIsRefused) {
    std::vector<uint8_t> domain(kSdoLineInlineSize + 1);
    setDomain(domain);
    exchange(frame(kToLocal, {0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0}), {abortFrame(0x2000, 1, kAbortOutOfMemory)});
    exchange(frame(kToLocal, {0x21, 0x00, 0x20, 0x01, 0x01, 0x00, 0x10, 0x00}),
             {abortFrame(0x2000, 1, kAbortOutOfMemory)});
    exchange(frame(kToLocal, {0xC2, 0x00, 0x20, 0x01, 0x01, 0x00, 0x10, 0x00}),
             {abortFrame(0x2000, 1, kAbortOutOfMemory)});
    EXPECT_EQ(kSdoFree, line().state);
}

TEST_F(SdoServer, NothingIsAnsweredWhileTheNodeIsStopped) {
    {
        StackLockGuard lock;
        ASSERT_EQ(Stopped, setNodeState(node.get(), Stopped));
    }
    takeSent();
    exchange(frame(kToLocal, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0}), {});
    // Frames reach the engine only while its service is on; the engine itself sends nothing
    // outside Operational and Pre_operational either.
    StackLockGuard lock;
    const CanMessage request = frame(kToLocal, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0});
    handleSdoFrame(node.get(), &request);
    expectSent({});
    EXPECT_EQ(kSdoFree, line().state);
}

}  // namespace
}  // namespace sdo_test
