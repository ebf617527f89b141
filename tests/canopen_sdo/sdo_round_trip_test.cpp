// Whole transfers, byte for byte: the client against the local server of a second node and
// against the reference server, every size around the segment and block boundaries, the
// largest inline transfer and one byte more, back to back, and with segments lost, repeated
// and swapped inside a block.
#include "canopen/abort_codes.h"
#include "canopen/alarm.h"
#include "canopen/sdo.h"
#include "reference_server.h"
#include "sdo_bus.h"

#include <gmock/gmock.h>

namespace sdo_test {
namespace {

using namespace canopen;

constexpr uint8_t kPeerId = 10;
constexpr size_t kLargestSmallSize = 2 * 889 + 8;  // two blocks of 127 segments and a bit

std::vector<uint8_t> pattern(size_t size, unsigned seed = 0) {
    std::vector<uint8_t> data(size);
    uint32_t x = 0x9E3779B9u * (static_cast<uint32_t>(size) + 1) + seed;
    for (auto& b : data) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return data;
}

enum class Mode { Segmented, Block };

// Drives the client of `client` and reports how each transfer ended.
struct ClientDriver {
    NodeData* client;
    Bus& bus;

    uint8_t download(const std::vector<uint8_t>& data, Mode mode, uint32_t* abortCode) {
        const size_t before = Completions::nodeIds.size();
        {
            StackLockGuard lock;
            const uint8_t started =
                writeNetworkDictWithCallback(client, kPeerId, 0x2000, 1, static_cast<uint32_t>(data.size()), 0,
                                             data.data(), Completions::record, mode == Mode::Block);
            if (started != kSdoStarted) return started;
        }
        bus.pump();
        EXPECT_EQ(before + 1, Completions::nodeIds.size());
        StackLockGuard lock;
        const uint8_t result = getWriteResultNetworkDict(client, kPeerId, abortCode);
        resetSdoClientLine(client, kPeerId, kSdoRoleClient);
        return result;
    }

    // `room`: what the caller offers for the result.
    uint8_t upload(std::vector<uint8_t>* out, Mode mode, uint32_t* abortCode, size_t room) {
        const size_t before = Completions::nodeIds.size();
        {
            StackLockGuard lock;
            const uint8_t started =
                readNetworkDictCallback(client, kPeerId, 0x2000, 1, 0, Completions::record, mode == Mode::Block);
            if (started != kSdoStarted) return started;
        }
        bus.pump();
        EXPECT_EQ(before + 1, Completions::nodeIds.size());
        out->assign(room, 0);
        uint32_t size = static_cast<uint32_t>(out->size());
        StackLockGuard lock;
        const uint8_t result = getReadResultNetworkDict(client, kPeerId, out->data(), &size, abortCode);
        out->resize(size);
        resetSdoClientLine(client, kPeerId, kSdoRoleClient);
        return result;
    }
};

class LocalServerRoundTrip : public TwoNodes {
protected:
    void expectDownload(size_t size, Mode mode) {
        const std::vector<uint8_t> data = pattern(size);
        std::vector<uint8_t> domain(size, 0);
        setServerDomain(domain);
        uint32_t abortCode = 0;
        ASSERT_EQ(kSdoFinished, driver.download(data, mode, &abortCode)) << size << " bytes, abort " << abortCode;
        ASSERT_TRUE(domain == data) << size << " bytes";
        ASSERT_EQ(kSdoFree, server->sdo.state);
        ASSERT_EQ(kSdoFree, client->sdo.state);
    }
    void expectUpload(size_t size, Mode mode) {
        std::vector<uint8_t> domain = pattern(size, 7);
        setServerDomain(domain);
        std::vector<uint8_t> got;
        uint32_t abortCode = 0;
        ASSERT_EQ(kSdoFinished, driver.upload(&got, mode, &abortCode, size + 1))
            << size << " bytes, abort " << abortCode;
        ASSERT_TRUE(got == domain) << size << " bytes";
        ASSERT_EQ(kSdoFree, server->sdo.state);
    }

    ClientDriver driver{client.get(), bus};
};

TEST_F(LocalServerRoundTrip, SegmentedDownloadOfEverySmallSize) {
    for (size_t size = 0; size <= kLargestSmallSize; ++size) expectDownload(size, Mode::Segmented);
}

TEST_F(LocalServerRoundTrip, BlockDownloadOfEverySmallSize) {
    for (size_t size = 0; size <= kLargestSmallSize; ++size) expectDownload(size, Mode::Block);
}

TEST_F(LocalServerRoundTrip, SegmentedUploadOfEverySmallSize) {
    for (size_t size = 0; size <= kLargestSmallSize; ++size) expectUpload(size, Mode::Segmented);
}

TEST_F(LocalServerRoundTrip, BlockUploadOfEverySmallSize) {
    for (size_t size = 0; size <= kLargestSmallSize; ++size) expectUpload(size, Mode::Block);
}

TEST_F(LocalServerRoundTrip, LargestInlineDownloadInBothModes) {
    expectDownload(kSdoLineInlineSize, Mode::Segmented);
    expectDownload(kSdoLineInlineSize, Mode::Block);
}

TEST_F(LocalServerRoundTrip, LargestInlineUploadInBothModesStaysOffTheHeap) {
    expectUpload(kSdoLineInlineSize, Mode::Segmented);
    expectUpload(kSdoLineInlineSize, Mode::Block);
    EXPECT_FALSE(client->sdo.heapBuffer);
}

// The local server holds its objects in the line: one byte more is refused at once.
TEST_F(LocalServerRoundTrip, ObjectsBeyondTheLineAreRefusedByTheLocalServer) {
    std::vector<uint8_t> domain = pattern(kSdoLineInlineSize + 1);
    setServerDomain(domain);
    for (Mode mode : {Mode::Segmented, Mode::Block}) {
        uint32_t abortCode = 0;
        std::vector<uint8_t> got;
        EXPECT_EQ(kSdoAbortedByPeer, driver.upload(&got, mode, &abortCode, domain.size()));
        EXPECT_EQ(kAbortOutOfMemory, abortCode);
        abortCode = 0;
        EXPECT_EQ(kSdoAbortedByPeer, driver.download(domain, mode, &abortCode));
        EXPECT_EQ(kAbortOutOfMemory, abortCode);
    }
}

class ReferenceRoundTrip : public ScriptedPeer {
protected:
    void expectDownload(size_t size, Mode mode) {
        const std::vector<uint8_t> data = pattern(size, 3);
        peer.object.clear();
        uint32_t abortCode = 0;
        ASSERT_EQ(kSdoFinished, driver.download(data, mode, &abortCode)) << size << " bytes, abort " << abortCode;
        ASSERT_TRUE(peer.object == data) << size << " bytes";
    }
    void expectUpload(size_t size, Mode mode) {
        peer.object = pattern(size, 5);
        std::vector<uint8_t> got;
        uint32_t abortCode = 0;
        ASSERT_EQ(kSdoFinished, driver.upload(&got, mode, &abortCode, size + 1))
            << size << " bytes, abort " << abortCode;
        ASSERT_TRUE(got == peer.object) << size << " bytes";
    }

    ReferenceServer peer{bus, kPeerId};
    ClientDriver driver{node.get(), bus};
};

TEST_F(ReferenceRoundTrip, DownloadOfEverySmallSizeInBothModes) {
    for (size_t size = 0; size <= kLargestSmallSize; ++size) {
        expectDownload(size, Mode::Segmented);
        expectDownload(size, Mode::Block);
    }
    EXPECT_EQ(2 * static_cast<int>(kLargestSmallSize + 1), peer.completed);
}

TEST_F(ReferenceRoundTrip, UploadOfEverySmallSizeInBothModes) {
    for (size_t size = 0; size <= kLargestSmallSize; ++size) {
        expectUpload(size, Mode::Segmented);
        expectUpload(size, Mode::Block);
    }
    EXPECT_EQ(2 * static_cast<int>(kLargestSmallSize + 1), peer.completed);
}

TEST_F(ReferenceRoundTrip, LargestInlineTransferInEveryDirectionAndMode) {
    expectDownload(kSdoLineInlineSize, Mode::Segmented);
    expectDownload(kSdoLineInlineSize, Mode::Block);
    expectUpload(kSdoLineInlineSize, Mode::Segmented);
    expectUpload(kSdoLineInlineSize, Mode::Block);
}

TEST_F(ReferenceRoundTrip, OneByteBeyondTheInlineBufferInEveryDirectionAndMode) {
    expectDownload(kSdoLineInlineSize + 1, Mode::Segmented);
    expectDownload(kSdoLineInlineSize + 1, Mode::Block);
    expectUpload(kSdoLineInlineSize + 1, Mode::Segmented);
    expectUpload(kSdoLineInlineSize + 1, Mode::Block);
}

// Uploads beyond the inline buffer move to the heap and grow in fixed steps.
TEST_F(ReferenceRoundTrip, UploadOfSeveralMegabytesGrowsTheHeapBuffer) {
    const size_t size = 3 * kSdoLineInlineSize + 5;
    peer.object = pattern(size);
    {
        StackLockGuard lock;
        ASSERT_EQ(kSdoStarted, readNetworkDictCallback(node.get(), kPeerId, 0x2000, 1, 0, nullptr, true));
    }
    bus.pump();
    ASSERT_EQ(kSdoFinished, node->sdo.state);
    EXPECT_EQ(0u, (node->sdo.heapSize - kSdoLineInlineSize) % 0x50000);
    EXPECT_GE(node->sdo.heapSize, size);
    std::vector<uint8_t> got(size);
    uint32_t gotSize = static_cast<uint32_t>(got.size());
    uint32_t abortCode = 0;
    StackLockGuard lock;
    ASSERT_EQ(kSdoFinished, getReadResultNetworkDict(node.get(), kPeerId, got.data(), &gotSize, &abortCode));
    EXPECT_TRUE(got == peer.object);
    EXPECT_FALSE(node->sdo.heapBuffer);
}

// Each completion fetches its result and starts the next transfer from inside the callback,
// so that a new request meets frames of the last one's end with no gap.
struct Chain {
    static NodeData* node;
    static std::vector<std::vector<uint8_t>> expected;
    static size_t next;
    static std::vector<std::string> failures;

    static void start() {
        const size_t i = next;
        const bool block = i % 3 == 1;
        const uint8_t started = i % 2 == 0 ? readNetworkDictCallback(node, kPeerId, 0x2000, 1, 0, onDone, block)
                                           : writeNetworkDictWithCallback(node, kPeerId, 0x2000, 1,
                                                                          static_cast<uint32_t>(expected[i].size()), 0,
                                                                          expected[i].data(), onDone, block);
        if (started != kSdoStarted) failures.push_back("start " + std::to_string(i));
    }
    static void onDone(NodeData* n, uint8_t nodeId) {
        const size_t i = next++;
        uint32_t abortCode = 0;
        if (i % 2 == 0) {
            std::vector<uint8_t> got(4096);
            uint32_t size = static_cast<uint32_t>(got.size());
            if (getReadResultNetworkDict(n, nodeId, got.data(), &size, &abortCode) != kSdoFinished)
                failures.push_back("upload " + std::to_string(i));
            got.resize(size);
            if (got != expected[i]) failures.push_back("data " + std::to_string(i));
        } else if (getWriteResultNetworkDict(n, nodeId, &abortCode) != kSdoFinished) {
            failures.push_back("download " + std::to_string(i));
        }
        if (next < expected.size()) start();
    }
};
NodeData* Chain::node;
std::vector<std::vector<uint8_t>> Chain::expected;
size_t Chain::next;
std::vector<std::string> Chain::failures;

TEST_F(ReferenceRoundTrip, TransfersBackToBackFromTheCallback) {
    Chain::node = node.get();
    Chain::next = 0;
    Chain::failures.clear();
    Chain::expected.clear();
    for (size_t i = 0; i < 24; ++i) Chain::expected.push_back(pattern((i * 37) % 300, static_cast<unsigned>(i)));
    // The peer serves uploads with what the previous download left; make them agree.
    peer.object = Chain::expected[0];
    for (size_t i = 2; i < Chain::expected.size(); i += 2) Chain::expected[i] = Chain::expected[i - 1];
    {
        StackLockGuard lock;
        Chain::start();
    }
    bus.pump();
    EXPECT_EQ(Chain::expected.size(), Chain::next);
    EXPECT_THAT(Chain::failures, ::testing::IsEmpty());
    EXPECT_EQ(kSdoFree, node->sdo.state);
}

TEST_F(LocalServerRoundTrip, TransfersBackToBackFromTheCallback) {
    std::vector<uint8_t> domain(100);
    setServerDomain(domain);
    Chain::node = client.get();
    Chain::next = 0;
    Chain::failures.clear();
    Chain::expected.clear();
    for (size_t i = 0; i < 24; ++i) Chain::expected.push_back(pattern(100, static_cast<unsigned>(i)));
    domain = Chain::expected[0];
    for (size_t i = 2; i < Chain::expected.size(); i += 2) Chain::expected[i] = Chain::expected[i - 1];
    {
        StackLockGuard lock;
        Chain::start();
    }
    bus.pump();
    EXPECT_EQ(Chain::expected.size(), Chain::next);
    EXPECT_THAT(Chain::failures, ::testing::IsEmpty());
    EXPECT_EQ(kSdoFree, client->sdo.state);
    EXPECT_EQ(kSdoFree, server->sdo.state);
}

// Segments of the sender meet trouble on the bus: the first of a block, one in the middle and
// the one before the block's last. The receiver keeps what came in order and acknowledges up
// to the gap; the sender repeats from there.
enum class Trouble { Lost, Duplicated, Swapped };

struct TroubleCase {
    Trouble trouble;
    bool clientSends;  // block download (the client sends) or upload (the server sends)
};

std::string describe(const TroubleCase& c) {
    const char* what[] = {"lost", "duplicated", "swapped"};
    return std::string(what[static_cast<int>(c.trouble)]) + (c.clientSends ? " in a download" : " in an upload");
}

// Frame 1 on the sender's COB-id is its initiate frame, so frame n + 1 is segment n of the
// first block; the count goes on through the repeats.
std::function<Fate(const CanMessage&, size_t)> troubleOn(uint16_t cobId, Trouble trouble, std::shared_ptr<int> count) {
    return [=](const CanMessage& m, size_t) {
        if (m.cobId != cobId) return Fate::Deliver;
        const int n = ++*count;
        if (n != 2 && n != 38 && n != 120 && n != 200) return Fate::Deliver;
        switch (trouble) {
            case Trouble::Lost: return Fate::Drop;
            case Trouble::Duplicated: return Fate::Duplicate;
            case Trouble::Swapped: return Fate::HoldBack;
        }
        return Fate::Deliver;
    };
}

const TroubleCase kTroubles[] = {{Trouble::Lost, true},        {Trouble::Lost, false},   {Trouble::Duplicated, true},
                                 {Trouble::Duplicated, false}, {Trouble::Swapped, true}, {Trouble::Swapped, false}};

TEST_F(LocalServerRoundTrip, BlockTransfersRecoverFromTroubleInsideABlock) {
    for (const TroubleCase& c : kTroubles) {
        SCOPED_TRACE(describe(c));
        const size_t size = 2000;
        auto count = std::make_shared<int>(0);
        bus.filter = troubleOn(c.clientSends ? 0x600 + kServerId : 0x580 + kServerId, c.trouble, count);
        if (c.clientSends)
            expectDownload(size, Mode::Block);
        else
            expectUpload(size, Mode::Block);
        bus.filter = nullptr;
        // Initiate, 286 segments and the end request or answer when nothing goes again.
        if (c.trouble == Trouble::Duplicated)
            EXPECT_EQ(288, *count);
        else
            EXPECT_GT(*count, 288);
    }
}

TEST_F(ReferenceRoundTrip, BlockTransfersRecoverFromTroubleInsideABlock) {
    for (const TroubleCase& c : kTroubles) {
        SCOPED_TRACE(describe(c));
        const size_t size = 2000;
        auto count = std::make_shared<int>(0);
        bus.filter = troubleOn(c.clientSends ? kToPeer : kFromPeer, c.trouble, count);
        if (c.clientSends)
            expectDownload(size, Mode::Block);
        else
            expectUpload(size, Mode::Block);
        bus.filter = nullptr;
        // Initiate, 286 segments and the end request or answer when nothing goes again.
        if (c.trouble == Trouble::Duplicated)
            EXPECT_EQ(288, *count);
        else
            EXPECT_GT(*count, 288);
    }
}

}  // namespace
}  // namespace sdo_test
