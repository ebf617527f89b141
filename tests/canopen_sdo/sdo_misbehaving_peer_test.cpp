// Peers that break the protocol: every such frame ends the transfer with the right abort or is
// let pass, and the line is never left stuck.
#include "canopen/abort_codes.h"
#include "canopen/alarm.h"
#include "canopen/sdo.h"
#include "sdo_bus.h"

#include <gmock/gmock.h>

namespace sdo_test {
namespace {

using namespace canopen;
using ::testing::ElementsAre;

class MisbehavingServer : public ScriptedPeer {
protected:
    void startRead(bool block) {
        StackLockGuard lock;
        ASSERT_EQ(kSdoStarted, readNetworkDictCallback(node.get(), kPeerId, 0x2000, 1, 0, Completions::record, block));
        takeSent();
    }
    void startWrite(size_t size, bool block) {
        const std::vector<uint8_t> data(size, 0x77);
        StackLockGuard lock;
        ASSERT_EQ(kSdoStarted, writeNetworkDictWithCallback(node.get(), kPeerId, 0x2000, 1, static_cast<uint32_t>(size),
                                                            0, data.data(), Completions::record, block));
        takeSent();
    }
    // The transfer ended with our abort `code`, the caller was told, and the line serves again.
    void expectAbortedWith(uint32_t code) {
        const std::vector<CanMessage> out = takeSent();
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(describe(abortOn(kToPeer, 0x2000, 1, code)), describe(out.back()));
        EXPECT_EQ(kSdoAbortedLocally, node->sdo.state);
        EXPECT_EQ(code, node->sdo.abortCode);
        EXPECT_EQ(1u, Completions::nodeIds.size());
        StackLockGuard lock;
        EXPECT_EQ(0, resetSdoClientLine(node.get(), kPeerId, kSdoRoleClient));
        EXPECT_EQ(kSdoStarted, readNetworkDictCallback(node.get(), kPeerId, 0x2000, 1, 0, nullptr, false));
    }
};

TEST_F(MisbehavingServer, WrongTogglesAreAborted) {
    startWrite(10, false);
    bus.injectAndPump(frame(kFromPeer, {0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0}));
    bus.injectAndPump(frame(kFromPeer, {0x30, 0, 0, 0, 0, 0, 0, 0}));  // segment 0 answered with toggle 1
    expectAbortedWith(kAbortToggleNotAlternated);
}

TEST_F(MisbehavingServer, AnswersOfTheWrongKindAreAborted) {
    const struct {
        bool block;
        bool upload;
        CanMessage answer;
    } cases[] = {
        {false, true, frame(kFromPeer, {0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0})},   // download answer to an upload
        {false, false, frame(kFromPeer, {0x4F, 0x00, 0x20, 0x01, 1, 0, 0, 0})},  // upload answer to a download
        {true, false, frame(kFromPeer, {0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0})},   // plain answer to a block download
        {true, true, frame(kFromPeer, {0x41, 0x00, 0x20, 0x01, 9, 0, 0, 0})},    // plain answer to a block upload
        {false, true, frame(kFromPeer, {0xE0, 0, 0, 0, 0, 0, 0, 0})},            // no such command
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.answer));
        Completions::nodeIds.clear();
        if (c.upload)
            startRead(c.block);
        else
            startWrite(20, c.block);
        bus.injectAndPump(c.answer);
        expectAbortedWith(kAbortLocalControl);
        StackLockGuard lock;
        resetSdoClientLine(node.get(), kPeerId, kSdoRoleClient);
    }
}

// An initiate answer naming another object is a late one of an earlier transfer: it is let pass,
// nothing sent and nobody told, and the transfer's own answer goes on with it.
TEST_F(MisbehavingServer, LateAnswersOfAnotherObjectAreLetPass) {
    startRead(false);
    bus.injectAndPump(frame(kFromPeer, {0x60, 0x16, 0x10, 0x01, 0, 0, 0, 0}));  // a write's answer
    bus.injectAndPump(frame(kFromPeer, {0x4F, 0x01, 0x54, 0x01, 1, 0, 0, 0}));  // another object's read
    EXPECT_TRUE(takeSent().empty());
    EXPECT_TRUE(Completions::nodeIds.empty());
    bus.injectAndPump(frame(kFromPeer, {0x4F, 0x00, 0x20, 0x01, 7, 0, 0, 0}));
    EXPECT_EQ(kSdoFinished, node->sdo.state);
    EXPECT_EQ(1u, Completions::nodeIds.size());
    {
        StackLockGuard lock;
        resetSdoClientLine(node.get(), kPeerId, kSdoRoleClient);
    }
    startWrite(20, true);
    bus.injectAndPump(frame(kFromPeer, {0xA0, 0x50, 0x1F, 0x01, 127, 0, 0, 0}));
    EXPECT_TRUE(takeSent().empty());
    bus.injectAndPump(frame(kFromPeer, {0xA0, 0x00, 0x20, 0x01, 127, 0, 0, 0}));
    EXPECT_EQ(3u, takeSent().size()) << "the block's three segments";
}

TEST_F(MisbehavingServer, BlockSizesOutsideOneTo127AreAborted) {
    for (uint8_t size : {0, 128, 255}) {
        Completions::nodeIds.clear();
        startWrite(20, true);
        bus.injectAndPump(frame(kFromPeer, {0xA0, 0x00, 0x20, 0x01, size, 0, 0, 0}));
        expectAbortedWith(kAbortLocalControl);
        StackLockGuard lock;
        resetSdoClientLine(node.get(), kPeerId, kSdoRoleClient);
    }
    Completions::nodeIds.clear();
    startWrite(20, true);
    bus.injectAndPump(frame(kFromPeer, {0xA0, 0x00, 0x20, 0x01, 2, 0, 0, 0}));
    takeSent();
    bus.injectAndPump(frame(kFromPeer, {0xA2, 2, 0, 0, 0, 0, 0, 0}));  // next block of 0 segments
    expectAbortedWith(kAbortLocalControl);
}

TEST_F(MisbehavingServer, SegmentedSizesThatDisagreeAreAborted) {
    // More bytes than announced.
    startRead(false);
    bus.injectAndPump(frame(kFromPeer, {0x41, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
    bus.injectAndPump(frame(kFromPeer, {0x00, 1, 2, 3, 4, 5, 6, 7}));
    bus.injectAndPump(frame(kFromPeer, {0x10, 1, 2, 3, 4, 5, 6, 7}));
    expectAbortedWith(kAbortLocalControl);
    // Fewer.
    {
        StackLockGuard lock;
        resetSdoClientLine(node.get(), kPeerId, kSdoRoleClient);
    }
    Completions::nodeIds.clear();
    startRead(false);
    bus.injectAndPump(frame(kFromPeer, {0x41, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
    bus.injectAndPump(frame(kFromPeer, {0x01, 1, 2, 3, 4, 5, 6, 7}));
    expectAbortedWith(kAbortLocalControl);
}

TEST_F(MisbehavingServer, BlockUploadSizesThatDisagreeAreAborted) {
    // The end request leaves 10 - 1 bytes of the 10 announced.
    startRead(true);
    bus.injectAndPump(frame(kFromPeer, {0xC2, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
    bus.injectAndPump(frame(kFromPeer, {0x01, 1, 2, 3, 4, 5, 6, 7}));
    bus.injectAndPump(frame(kFromPeer, {0x82, 8, 9, 10, 0, 0, 0, 0}));
    bus.injectAndPump(frame(kFromPeer, {0xC1 | 5 << 2, 0, 0, 0, 0, 0, 0, 0}));
    expectAbortedWith(kAbortLocalControl);
    {
        StackLockGuard lock;
        resetSdoClientLine(node.get(), kPeerId, kSdoRoleClient);
    }
    // Segments go on past the 10 announced.
    Completions::nodeIds.clear();
    startRead(true);
    bus.injectAndPump(frame(kFromPeer, {0xC2, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
    bus.injectAndPump(frame(kFromPeer, {0x01, 1, 2, 3, 4, 5, 6, 7}));
    bus.injectAndPump(frame(kFromPeer, {0x02, 8, 9, 10, 0, 0, 0, 0}));
    bus.injectAndPump(frame(kFromPeer, {0x03, 1, 1, 1, 1, 1, 1, 1}));
    expectAbortedWith(kAbortLocalControl);
}

TEST_F(MisbehavingServer, BlockSegmentsNumbered0OrBeyondTheBlockAreDropped) {
    startRead(true);
    bus.injectAndPump(frame(kFromPeer, {0xC2, 0x00, 0x20, 0x01, 14, 0, 0, 0}));
    takeSent();
    exchange(frame(kFromPeer, {0x00, 9, 9, 9, 9, 9, 9, 9}), {});
    exchange(frame(kFromPeer, {0x01, 1, 2, 3, 4, 5, 6, 7}), {});
    exchange(frame(kFromPeer, {0x7F, 9, 9, 9, 9, 9, 9, 9}), {});
    exchange(frame(kFromPeer, {121, 9, 9, 9, 9, 9, 9, 9}), {});
    exchange(frame(kFromPeer, {0xFF, 9, 9, 9, 9, 9, 9, 9}), {frame(kToPeer, {0xA2, 0x01, 0x78, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0x81, 8, 9, 10, 11, 12, 13, 14}), {frame(kToPeer, {0xA2, 0x01, 0x78, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {0xC1, 0, 0, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xA1, 0, 0, 0, 0, 0, 0, 0})});
    std::vector<uint8_t> out(14);
    uint32_t size = 14;
    uint32_t abortCode = 0;
    StackLockGuard lock;
    ASSERT_EQ(kSdoFinished, getReadResultNetworkDict(node.get(), kPeerId, out.data(), &size, &abortCode));
    EXPECT_THAT(out, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14));
}

// A repeated block-end segment right after its acknowledgement must not make the sender repeat
// a block that arrived whole.
TEST_F(MisbehavingServer, RepeatedEndOfBlockSegmentIsNotAcknowledgedAgain) {
    startRead(true);
    bus.injectAndPump(frame(kFromPeer, {0xC0, 0x00, 0x20, 0x01, 0, 0, 0, 0}));
    takeSent();
    for (uint8_t seq = 1; seq <= 120; ++seq) bus.injectAndPump(frame(kFromPeer, {seq, seq, 0, 0, 0, 0, 0, 0}));
    expectSent({frame(kToPeer, {0xA2, 120, 0x78, 0, 0, 0, 0, 0})});
    exchange(frame(kFromPeer, {120, 120, 0, 0, 0, 0, 0, 0}), {});
    exchange(frame(kFromPeer, {0x81, 121, 0, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xA2, 1, 0x78, 0, 0, 0, 0, 0})});
    // ... and so is the last segment after the end of the transfer.
    exchange(frame(kFromPeer, {0x81, 121, 0, 0, 0, 0, 0, 0}), {});
    exchange(frame(kFromPeer, {0xC1 | 6 << 2, 0, 0, 0, 0, 0, 0, 0}), {frame(kToPeer, {0xA1, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(kSdoFinished, node->sdo.state);
    EXPECT_EQ(121u * 7 - 6, node->sdo.count);
}

class MisbehavingClient : public ScriptedPeer {
protected:
    void setDomain(std::vector<uint8_t>& storage) {
        StackLockGuard lock;
        const ObjectLookup lookup = findObject(node.get(), 0x2000);
        lookup.entry->subs[1].value = storage.data();
        lookup.entry->subs[1].size = static_cast<uint32_t>(storage.size());
    }
    void expectRefusal(uint16_t index, uint8_t sub, uint32_t code) {
        expectSent({abortOn(kFromLocal, index, sub, code)});
        EXPECT_EQ(kSdoFree, node->sdo.state);
        // The server serves the next request.
        exchange(frame(kToLocal, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0}),
                 {frame(kFromLocal, {0x4F, 0x18, 0x10, 0x00, 4, 0, 0, 0})});
    }
    std::vector<uint8_t> domain = std::vector<uint8_t>(10);
    void SetUp() override {
        ScriptedPeer::SetUp();
        setDomain(domain);
    }
};

TEST_F(MisbehavingClient, WrongToggleInAnUploadSegmentRequest) {
    bus.injectAndPump(frame(kToLocal, {0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0}));
    bus.injectAndPump(frame(kToLocal, {0x60, 0, 0, 0, 0, 0, 0, 0}));
    takeSent();
    bus.injectAndPump(frame(kToLocal, {0x60, 0, 0, 0, 0, 0, 0, 0}));
    expectRefusal(0x2000, 1, kAbortToggleNotAlternated);
}

TEST_F(MisbehavingClient, SegmentedDownloadLongerThanAnnounced) {
    bus.injectAndPump(frame(kToLocal, {0x21, 0x00, 0x20, 0x01, 5, 0, 0, 0}));
    takeSent();
    bus.injectAndPump(frame(kToLocal, {0x00, 1, 2, 3, 4, 5, 6, 7}));
    expectRefusal(0x2000, 1, kAbortLocalControl);
}

TEST_F(MisbehavingClient, SegmentedDownloadShorterThanAnnounced) {
    bus.injectAndPump(frame(kToLocal, {0x21, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
    takeSent();
    bus.injectAndPump(frame(kToLocal, {0x01, 1, 2, 3, 4, 5, 6, 7}));
    expectRefusal(0x2000, 1, kAbortLocalControl);
}

TEST_F(MisbehavingClient, SegmentedDownloadThatDoesNotFitTheObject) {
    bus.injectAndPump(frame(kToLocal, {0x21, 0x00, 0x20, 0x01, 7, 0, 0, 0}));
    takeSent();
    bus.injectAndPump(frame(kToLocal, {0x01, 1, 2, 3, 4, 5, 6, 7}));
    expectRefusal(0x2000, 1, kAbortLengthMismatch);
}

TEST_F(MisbehavingClient, DownloadOfNoBytesToAnEntryWithSize) {
    bus.injectAndPump(frame(kToLocal, {0x21, 0x02, 0x30, 0x01, 0, 0, 0, 0}));
    takeSent();
    bus.injectAndPump(frame(kToLocal, {0x0F, 0, 0, 0, 0, 0, 0, 0}));
    expectRefusal(0x3002, 1, kAbortLengthMismatch);
}

TEST_F(MisbehavingClient, BlockDownloadEndThatDisagreesWithTheSize) {
    bus.injectAndPump(frame(kToLocal, {0xC2, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
    bus.injectAndPump(frame(kToLocal, {0x01, 1, 2, 3, 4, 5, 6, 7}));
    bus.injectAndPump(frame(kToLocal, {0x82, 8, 9, 10, 0, 0, 0, 0}));
    takeSent();
    bus.injectAndPump(frame(kToLocal, {0xC1 | 3 << 2, 0, 0, 0, 0, 0, 0, 0}));
    expectRefusal(0x2000, 1, kAbortLocalControl);
}

TEST_F(MisbehavingClient, BlockDownloadBeyondTheLineWithoutASize) {
    bus.injectAndPump(frame(kToLocal, {0xC0, 0x00, 0x20, 0x01, 0, 0, 0, 0}));
    takeSent();
    const size_t segments = kSdoLineInlineSize / 7 + 2;
    for (size_t s = 0; s < segments; ++s) {
        const uint8_t seq = static_cast<uint8_t>(s % 120 + 1);
        bus.injectAndPump(frame(kToLocal, {seq, 1, 2, 3, 4, 5, 6, 7}));
        if (node->sdo.state == kSdoFree) break;
    }
    const std::vector<CanMessage> out = takeSent();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(describe(abortOn(kFromLocal, 0x2000, 1, kAbortOutOfMemory)), describe(out.back()));
    EXPECT_EQ(kSdoFree, node->sdo.state);
}

TEST_F(MisbehavingClient, BlockUploadAcknowledgementBeyondTheSegmentsSent) {
    bus.injectAndPump(frame(kToLocal, {0xA0, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
    bus.injectAndPump(frame(kToLocal, {0xA3, 0, 0, 0, 0, 0, 0, 0}));
    takeSent();
    bus.injectAndPump(frame(kToLocal, {0xA2, 3, 10, 0, 0, 0, 0, 0}));
    expectRefusal(0x2000, 1, kAbortLocalControl);
}

TEST_F(MisbehavingClient, RequestsForOtherServersAreIgnored) {
    exchange(frame(0x602, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0}), {});
    exchange(frame(0x67F, {0x40, 0x18, 0x10, 0x00, 0, 0, 0}), {});
    exchange(frame(0x581, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0}), {});  // our own answer COB-id
    CanMessage remote = frame(kToLocal, {});
    remote.rtr = 1;
    exchange(remote, {});
}

// Aborts of the peer at every step of every kind of transfer, from both sides: the side that
// hears the abort stops at once; the other times out; both lines serve again afterwards.
struct AbortStep {
    bool upload;
    bool block;
    bool fromServer;
};

class AbortsAtEveryStep : public TwoNodes {
protected:
    // Replaces the sender's n-th frame of the transfer with an abort; false once the transfer
    // had fewer frames than that.
    bool runWithAbortAt(const AbortStep& s, int n) {
        std::vector<uint8_t> domain(40, 0x11);
        setServerDomain(domain);
        const uint16_t senderCobId = s.fromServer ? 0x580 + kServerId : 0x600 + kServerId;
        auto count = std::make_shared<int>(0);
        bus.filter = [&, count, senderCobId](const CanMessage& m, size_t) {
            if (m.cobId != senderCobId || ++*count != n) return Fate::Deliver;
            bus.inject(abortOn(senderCobId, 0x2000, 1, 0x06040047));
            return Fate::Drop;
        };
        Completions::nodeIds.clear();
        {
            StackLockGuard lock;
            const std::vector<uint8_t> data(40, 0x22);
            const uint8_t started =
                s.upload ? readNetworkDictCallback(client.get(), kServerId, 0x2000, 1, 0, Completions::record, s.block)
                         : writeNetworkDictWithCallback(client.get(), kServerId, 0x2000, 1, 40, 0, data.data(),
                                                        Completions::record, s.block);
            EXPECT_EQ(kSdoStarted, started);
        }
        bus.pump();
        const bool hit = *count >= n;
        if (hit && s.fromServer) {
            // The client heard the abort; the server's line ends by its own time-out.
            EXPECT_EQ(kSdoAbortedByPeer, client->sdo.state);
            EXPECT_EQ(0x06040047u, client->sdo.abortCode);
        } else if (hit) {
            // The server heard it. The client waits for its time-out, unless that was its last
            // frame, or the rest of its block met a server with no transfer, which refuses it.
            EXPECT_EQ(kSdoFree, server->sdo.state);
            const bool refused = client->sdo.state == kSdoAbortedByPeer && client->sdo.abortCode == kAbortLocalControl;
            EXPECT_TRUE(inFlight(client->sdo.state) || client->sdo.state == kSdoFinished || refused)
                << int(client->sdo.state);
        }
        bus.filter = nullptr;
        bus.advance(4000);
        EXPECT_EQ(kSdoFree, server->sdo.state);
        EXPECT_EQ(1u, Completions::nodeIds.size());
        {
            StackLockGuard lock;
            resetSdoClientLine(client.get(), kServerId, kSdoRoleClient);
        }
        // The next transfer goes through.
        std::vector<uint8_t> fresh(40, 0x33);
        setServerDomain(fresh);
        StackLockGuard lock;
        EXPECT_EQ(kSdoStarted, readNetworkDictCallback(client.get(), kServerId, 0x2000, 1, 0, nullptr, s.block));
        bus.pump();
        std::vector<uint8_t> got(40);
        uint32_t size = 40;
        uint32_t abortCode = 0;
        EXPECT_EQ(kSdoFinished, getReadResultNetworkDict(client.get(), kServerId, got.data(), &size, &abortCode));
        EXPECT_EQ(fresh, got);
        return hit;
    }
    static bool inFlight(uint8_t state) {
        return state >= kSdoDownloadInProgress && state <= kSdoBlockUploadInProgress;
    }
};

TEST_F(AbortsAtEveryStep, EveryKindOfTransferFromEitherSide) {
    for (bool upload : {false, true})
        for (bool block : {false, true})
            for (bool fromServer : {false, true}) {
                const AbortStep s{upload, block, fromServer};
                int n = 1;
                for (; n < 50; ++n) {
                    SCOPED_TRACE(::testing::Message() << (upload ? "upload" : "download") << (block ? " block" : "")
                                                      << (fromServer ? " server" : " client") << " frame " << n);
                    if (!runWithAbortAt(s, n)) break;
                }
                EXPECT_GT(n, 2);
            }
}

// Random frames on every SDO COB-id of the node, in every state the line reaches: the node
// neither crashes nor overruns, and after the time-out the line serves again.
TEST_F(AbortsAtEveryStep, FloodOfRandomFramesLeavesNothingStuck) {
    std::vector<uint8_t> domain(3000, 0x44);
    setServerDomain(domain);
    uint32_t x = 12345;
    auto next = [&x] {
        x = x * 1103515245u + 12345u;
        return static_cast<uint8_t>(x >> 16);
    };
    // Requests to the client node's own server are left out: random writes to its client rows
    // would take it off the bus for the check at the end.
    const uint16_t cobIds[] = {0x600 + kServerId, 0x580 + kServerId, 0x580 + kServerId + 1, 0x580 + kClientId};
    for (int round = 0; round < 400; ++round) {
        {
            StackLockGuard lock;
            const std::vector<uint8_t> data(next() * 7u + next() % 7, 0x55);
            if (round % 2)
                readNetworkDictCallback(client.get(), kServerId, 0x2000, 1, 0, nullptr, round % 4 == 1);
            else
                writeNetworkDict(client.get(), kServerId, 0x2000, 1, static_cast<uint32_t>(data.size()), 0, data.data(),
                                 round % 4 == 2);
        }
        for (int i = 0; i < 60; ++i) {
            CanMessage m = frame(cobIds[next() % 4], {next(), next(), next(), next(), next(), next(), next(), next()});
            if (next() % 8 == 0) m.len = next() % 9;
            if (next() % 2) m.data[0] = static_cast<uint8_t>((m.data[0] & 0x1F) | (next() % 8) << 5);
            bus.inject(m);
            bus.pump(1 + next() % 3);
        }
        bus.pump();
        if (round % 10 == 0) bus.advance(4000);
        StackLockGuard lock;
        resetSdoClientLine(client.get(), kServerId, kSdoRoleClient);
    }
    bus.advance(4000);
    {
        StackLockGuard lock;
        resetSdoClientLine(client.get(), kServerId, kSdoRoleClient);
    }
    EXPECT_EQ(kSdoFree, client->sdo.state);
    EXPECT_EQ(kSdoFree, server->sdo.state);
    std::vector<uint8_t> fresh(100, 0x66);
    setServerDomain(fresh);
    StackLockGuard lock;
    ASSERT_EQ(kSdoStarted, readNetworkDictCallback(client.get(), kServerId, 0x2000, 1, 0, nullptr, true));
    bus.pump();
    std::vector<uint8_t> got(100);
    uint32_t size = 100;
    uint32_t abortCode = 0;
    EXPECT_EQ(kSdoFinished, getReadResultNetworkDict(client.get(), kServerId, got.data(), &size, &abortCode));
    EXPECT_EQ(fresh, got);
}

}  // namespace
}  // namespace sdo_test
