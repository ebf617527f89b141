// The engine behind the real driver binding: the test CAN driver library loaded by path, one
// receive thread per board, the stack lock taken by the receive threads and by this thread
// around every API call.
#include "canopen/abort_codes.h"
#include "canopen/alarm.h"
#include "canopen/alarm_testing.h"
#include "canopen/can_driver.h"
#include "canopen/can_port.h"
#include "canopen/node_data.h"
#include "canopen/sdo.h"
#include "fake_clock.h"
#include "testcan/testcan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace canopen;

CanMessage frame(uint16_t cobId, std::initializer_list<uint8_t> bytes) {
    CanMessage m{};
    m.cobId = cobId;
    for (uint8_t b : bytes) m.data[m.len++] = b;
    return m;
}

std::string text(const CanMessage& m) {
    char out[64];
    int n = std::snprintf(out, sizeof out, "%03X:", m.cobId);
    for (int i = 0; i < m.len && i < 8; ++i) n += std::snprintf(out + n, sizeof out - n, " %02X", m.data[i]);
    return out;
}

std::atomic<int> g_completions{0};
void onComplete(NodeData*, uint8_t) { ++g_completions; }

class SdoOverTestDriver : public ::testing::Test {
protected:
    static constexpr uint8_t kClientId = 1;
    static constexpr uint8_t kServerId = 10;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        bus_ = std::string("sdo.") + info->name();
        clock_.afterWakeup = [this] { settle(); };
        initAlarmService();
        canopen::testing::resetAlarmTable();
        module_ = loadCanDriver(TESTCAN_PATH);
        ASSERT_NE(nullptr, module_);
        inject_ = reinterpret_cast<TestcanInject>(platform::librarySymbol(module_, "testcanInject"));
        waitIdle_ = reinterpret_cast<TestcanWaitIdle>(platform::librarySymbol(module_, "testcanWaitIdle"));
        sentCount_ = reinterpret_cast<TestcanSentCount>(platform::librarySymbol(module_, "testcanSentCount"));
        sentFrame_ = reinterpret_cast<TestcanSentFrame>(platform::librarySymbol(module_, "testcanSentFrame"));
        clearSent_ = reinterpret_cast<TestcanClearSent>(platform::librarySymbol(module_, "testcanClearSent"));
        ASSERT_TRUE(inject_ && waitIdle_ && sentCount_ && sentFrame_ && clearSent_);
        board_ = s_BOARD{bus_.c_str(), "500K"};
        g_completions = 0;
    }

    void TearDown() override {
        for (auto& node : nodes_) closeCanPort(node.get());
        canopen::testing::resetAlarmTable();
        if (module_) unloadCanDriver(module_);
        releaseAlarmService();
    }

    NodeData* addNode(uint8_t id) {
        nodes_.push_back(std::make_unique<NodeData>());
        NodeData* node = nodes_.back().get();
        EXPECT_NE(nullptr, openCanPort(&board_, node));
        StackLockGuard lock;
        setNodeId(node, id);
        setNodeState(node, Initialisation);
        return node;
    }

    void settle() { ASSERT_EQ(1, waitIdle_(bus_.c_str(), 20000)) << "the bus did not come to rest"; }
    void receive(const CanMessage& m) {
        ASSERT_GE(inject_(bus_.c_str(), &m), 1);
        settle();
    }
    std::vector<std::string> takeSent() {
        settle();
        std::vector<std::string> out;
        const int count = sentCount_(bus_.c_str());
        for (int i = 0; i < count; ++i) {
            CanMessage m{};
            sentFrame_(bus_.c_str(), i, &m);
            out.push_back(text(m));
        }
        clearSent_(bus_.c_str());
        return out;
    }
    void advance(uint32_t ms) { clock_.advance(ms); }

    test_support::FakeClock clock_{50000};
    std::string bus_;
    s_BOARD board_{};
    platform::LibraryHandle module_ = nullptr;
    TestcanInject inject_ = nullptr;
    TestcanWaitIdle waitIdle_ = nullptr;
    TestcanSentCount sentCount_ = nullptr;
    TestcanSentFrame sentFrame_ = nullptr;
    TestcanClearSent clearSent_ = nullptr;
    std::vector<std::unique_ptr<NodeData>> nodes_;
};

TEST_F(SdoOverTestDriver, InitiateFramesOfEveryKind) {
    NodeData* node = addNode(kClientId);
    takeSent();  // boot-up
    const uint8_t four[] = {1, 2, 3, 4};
    const uint8_t five[] = {1, 2, 3, 4, 5};
    const struct {
        bool upload;
        bool block;
        uint32_t count;
        const char* frame;
    } cases[] = {
        {true, false, 0, "60A: 40 00 20 01 00 00 00 00"},  {true, true, 0, "60A: A0 00 20 01 78 00 00 00"},
        {false, false, 4, "60A: 23 00 20 01 01 02 03 04"}, {false, false, 1, "60A: 2F 00 20 01 01 00 00 00"},
        {false, false, 5, "60A: 21 00 20 01 05 00 00 00"}, {false, true, 5, "60A: C2 00 20 01 05 00 00 00"},
    };
    for (const auto& c : cases) {
        {
            StackLockGuard lock;
            const uint8_t started = c.upload
                                        ? readNetworkDictCallback(node, kServerId, 0x2000, 1, 0, onComplete, c.block)
                                        : writeNetworkDictWithCallback(node, kServerId, 0x2000, 1, c.count, 0,
                                                                       c.count == 4 ? four : five, onComplete, c.block);
            ASSERT_EQ(kSdoStarted, started);
        }
        EXPECT_EQ(std::vector<std::string>{c.frame}, takeSent());
        StackLockGuard lock;
        EXPECT_EQ(0, resetSdoClientLine(node, kServerId, kSdoRoleClient));
    }
}

TEST_F(SdoOverTestDriver, SegmentedUploadFromAScriptedServer) {
    NodeData* node = addNode(kClientId);
    takeSent();
    {
        StackLockGuard lock;
        ASSERT_EQ(kSdoStarted, readNetworkDictCallback(node, kServerId, 0x2000, 1, 0, onComplete, false));
    }
    receive(frame(0x58A, {0x41, 0x00, 0x20, 0x01, 8, 0, 0, 0}));
    receive(frame(0x58A, {0x00, 1, 2, 3, 4, 5, 6, 7}));
    receive(frame(0x58A, {0x1D, 8, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ((std::vector<std::string>{"60A: 40 00 20 01 00 00 00 00", "60A: 60 00 00 00 00 00 00 00",
                                        "60A: 70 00 00 00 00 00 00 00"}),
              takeSent());
    EXPECT_EQ(1, g_completions.load());
    uint8_t out[8] = {};
    uint32_t size = sizeof out;
    uint32_t abortCode = 0;
    StackLockGuard lock;
    ASSERT_EQ(kSdoFinished, getReadResultNetworkDict(node, kServerId, out, &size, &abortCode));
    EXPECT_EQ(8u, size);
    EXPECT_EQ(8, out[7]);
}

TEST_F(SdoOverTestDriver, SilentServerTimesOut) {
    NodeData* node = addNode(kClientId);
    takeSent();
    {
        StackLockGuard lock;
        ASSERT_EQ(kSdoStarted, writeNetworkDict(node, kServerId, 0x2000, 1, 3, 0, "abc", false));
    }
    takeSent();
    advance(3999);
    EXPECT_TRUE(takeSent().empty());
    advance(1);
    EXPECT_EQ(std::vector<std::string>{"60A: 80 00 20 01 00 00 04 05"}, takeSent());
}

// Two nodes on one virtual bus: the client of one against the local server of the other, each
// handled on its own receive thread while this thread starts transfers and fetches results.
TEST_F(SdoOverTestDriver, ClientAndServerOnTheirOwnThreads) {
    NodeData* client = addNode(kClientId);
    NodeData* server = addNode(kServerId);
    settle();
    std::vector<uint8_t> domain(6000);
    {
        StackLockGuard lock;
        const ObjectLookup lookup = findObject(server, 0x2000);
        lookup.entry->subs[1].value = domain.data();
        lookup.entry->subs[1].size = static_cast<uint32_t>(domain.size());
    }
    for (int round = 0; round < 4; ++round) {
        const bool block = round % 2 == 1;
        std::vector<uint8_t> data(domain.size());
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + round);
        {
            StackLockGuard lock;
            ASSERT_EQ(kSdoStarted,
                      writeNetworkDictWithCallback(client, kServerId, 0x2000, 1, static_cast<uint32_t>(data.size()), 0,
                                                   data.data(), onComplete, block));
        }
        settle();
        {
            StackLockGuard lock;
            uint32_t abortCode = 0;
            ASSERT_EQ(kSdoFinished, getWriteResultNetworkDict(client, kServerId, &abortCode)) << abortCode;
            EXPECT_TRUE(domain == data);
            ASSERT_EQ(kSdoStarted, readNetworkDictCallback(client, kServerId, 0x2000, 1, 0, onComplete, !block));
        }
        settle();
        std::vector<uint8_t> got(domain.size());
        uint32_t size = static_cast<uint32_t>(got.size());
        uint32_t abortCode = 0;
        StackLockGuard lock;
        ASSERT_EQ(kSdoFinished, getReadResultNetworkDict(client, kServerId, got.data(), &size, &abortCode));
        EXPECT_TRUE(got == data);
    }
    EXPECT_EQ(8, g_completions.load());
}

}  // namespace
