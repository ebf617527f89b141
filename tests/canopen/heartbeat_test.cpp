// Heartbeat production and consumption, node-guard answers and remote node states, on the
// test clock.
#include "stack_fixture.h"

#include "canopen/nmt.h"
#include "canopen/node_state.h"
#include "canopen/object_dictionary.h"

namespace canopen_test {
namespace {

using namespace canopen;

struct HookLog {
    std::vector<uint8_t> heartbeatErrors;
    std::vector<std::pair<uint8_t, uint8_t>> stateChanges;
    std::vector<uint8_t> bootUps;
};
HookLog g_log;
void onHeartbeatError(NodeData*, uint8_t id) { g_log.heartbeatErrors.push_back(id); }
void onStateChange(NodeData*, uint8_t id, uint8_t state) { g_log.stateChanges.emplace_back(id, state); }
void onBootUp(NodeData*, uint8_t id) { g_log.bootUps.push_back(id); }

class HeartbeatTest : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        g_log = HookLog{};
        node->hooks.heartbeatError = onHeartbeatError;
        node->hooks.nodeStateChange = onStateChange;
        node->hooks.slaveBootUp = onBootUp;
    }
    uint32_t write(uint16_t index, uint8_t sub, const void* value, uint32_t size) {
        StackLockGuard lock;
        return writeLocalObject(node.get(), index, sub, value, &size, true);
    }
    void setProducerTime(uint16_t ms) { ASSERT_EQ(write(0x1017, 0, &ms, 2), 0u); }
    void watchNode(uint8_t id, uint16_t ms) {
        const uint32_t entry = static_cast<uint32_t>(id) << 16 | ms;
        ASSERT_EQ(write(0x1016, 1, &entry, 4), 0u);
    }
    HookLog log() {
        StackLockGuard lock;
        return g_log;
    }
    uint8_t remoteState(uint8_t id) {
        StackLockGuard lock;
        return getNodeState(node.get(), id);
    }
    std::vector<uint8_t> heartbeatsSent() {
        std::vector<uint8_t> states;
        for (const CanMessage& m : sent())
            if (m.cobId == 0x701 && m.len == 1 && !m.rtr) states.push_back(m.data[0]);
        return states;
    }
};

TEST_F(HeartbeatTest, ProducerSendsTheStateAtItsTime) {
    setProducerTime(500);
    setState(Initialisation);
    clearSent();
    advance(499);
    EXPECT_TRUE(heartbeatsSent().empty());
    advance(1);
    EXPECT_EQ(heartbeatsSent(), std::vector<uint8_t>{0x7F});
    receive(frame(0x000, {kNmtStart, 0}));
    advance(500);
    EXPECT_EQ(heartbeatsSent(), (std::vector<uint8_t>{0x7F, 0x05}));
    receive(frame(0x000, {kNmtStop, 0}));
    advance(500);
    EXPECT_EQ(heartbeatsSent(), (std::vector<uint8_t>{0x7F, 0x05, 0x04}));
    EXPECT_EQ(sent().size(), 3u);
}

TEST_F(HeartbeatTest, WritingTheProducerTimeRestartsProduction) {
    setProducerTime(500);
    setState(Initialisation);
    clearSent();
    advance(300);
    setProducerTime(100);
    advance(99);
    EXPECT_TRUE(heartbeatsSent().empty());
    advance(1);
    advance(100);
    EXPECT_EQ(heartbeatsSent().size(), 2u);
    setProducerTime(0);
    advance(1000);
    EXPECT_EQ(heartbeatsSent().size(), 2u);
}

TEST_F(HeartbeatTest, ProducerTimeWrittenBeforeStartWaitsForTheStart) {
    setProducerTime(100);
    advance(1000);
    EXPECT_TRUE(sent().empty());
}

TEST_F(HeartbeatTest, ResetNodeRestartsProductionWithoutDoubling) {
    setProducerTime(100);
    setState(Initialisation);
    receive(frame(0x000, {kNmtResetNode, 0}));
    clearSent();
    advance(1000);
    EXPECT_EQ(heartbeatsSent().size(), 10u);
}

TEST_F(HeartbeatTest, HeartbeatRecordsTheRemoteStateWithoutTheToggleBit) {
    setState(Initialisation);
    receive(frame(0x705, {0x85}));
    EXPECT_EQ(remoteState(5), Operational);
    receive(frame(0x705, {0x05}));  // same state: no second change
    ASSERT_EQ(log().stateChanges.size(), 1u);
    EXPECT_EQ(log().stateChanges[0], std::make_pair(uint8_t{5}, uint8_t{Operational}));
}

TEST_F(HeartbeatTest, BootUpOfARemoteNodeReachesItsHook) {
    setState(Initialisation);
    receive(frame(0x70A, {0x00}));
    EXPECT_EQ(remoteState(10), Initialisation);
    EXPECT_EQ(log().bootUps, std::vector<uint8_t>{10});
}

TEST_F(HeartbeatTest, ConsumerTimesOutOnceAfterSilenceAndIsReArmedByAHeartbeat) {
    watchNode(5, 1000);
    setState(Initialisation);
    receive(frame(0x705, {0x05}));
    advance(999);
    EXPECT_TRUE(log().heartbeatErrors.empty());
    receive(frame(0x705, {0x05}));  // restarts the watch
    advance(999);
    EXPECT_TRUE(log().heartbeatErrors.empty());
    advance(1);
    EXPECT_EQ(log().heartbeatErrors, std::vector<uint8_t>{5});
    EXPECT_EQ(remoteState(5), Disconnected);
    advance(5000);
    EXPECT_EQ(log().heartbeatErrors.size(), 1u);

    receive(frame(0x705, {0x05}));
    EXPECT_EQ(remoteState(5), Operational);
    advance(1000);
    EXPECT_EQ(log().heartbeatErrors, (std::vector<uint8_t>{5, 5}));
}

TEST_F(HeartbeatTest, ConsumerWatchStartsWithTheHeartbeatService) {
    watchNode(5, 1000);
    setState(Initialisation);
    advance(1000);  // nothing heard from node 5 at all
    EXPECT_EQ(log().heartbeatErrors, std::vector<uint8_t>{5});
}

TEST_F(HeartbeatTest, HeartbeatsOfOtherNodesDoNotFeedTheWatch) {
    watchNode(5, 1000);
    setState(Initialisation);
    advance(600);
    receive(frame(0x706, {0x05}));
    advance(400);
    EXPECT_EQ(log().heartbeatErrors, std::vector<uint8_t>{5});
}

TEST_F(HeartbeatTest, UnknownStateInAHeartbeatDoesNotFeedTheWatch) {
    watchNode(5, 1000);
    setState(Initialisation);
    advance(600);
    receive(frame(0x705, {0x0F}));
    advance(400);
    EXPECT_EQ(log().heartbeatErrors.size(), 1u);
}

TEST_F(HeartbeatTest, NodeGuardRequestIsAnsweredWithAToggleBit) {
    setState(Initialisation);
    clearSent();
    receive(remoteFrame(0x701));
    receive(remoteFrame(0x701));
    receive(remoteFrame(0x701));
    receive(remoteFrame(0x702));  // another node's
    const auto frames = sent();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].data[0], 0x7F);
    EXPECT_EQ(frames[1].data[0], 0xFF);
    EXPECT_EQ(frames[2].data[0], 0x7F);
    for (const CanMessage& m : frames) {
        EXPECT_EQ(m.cobId, 0x701);
        EXPECT_EQ(m.len, 1);
        EXPECT_EQ(m.rtr, 0);
    }
}

TEST_F(HeartbeatTest, ErrorControlFramesAreIgnoredWhileTheServiceIsOff) {
    receive(frame(0x705, {0x05}));
    receive(remoteFrame(0x701));
    EXPECT_EQ(remoteState(5), Unknown);
    EXPECT_TRUE(sent().empty());
}

TEST_F(HeartbeatTest, RequestNodeGuardForgetsTheStateAndAsksWithARemoteFrame) {
    setState(Initialisation);
    receive(frame(0x705, {0x05}));
    receive(frame(0x706, {0x05}));
    clearSent();
    {
        StackLockGuard lock;
        EXPECT_EQ(requestNodeGuard(node.get(), 5), 0);
    }
    EXPECT_EQ(remoteState(5), Unknown);
    EXPECT_EQ(remoteState(6), Operational);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].cobId, 0x705);
    EXPECT_EQ(sent()[0].rtr, 1);
    EXPECT_EQ(sent()[0].len, 0);
    {
        StackLockGuard lock;
        requestNodeGuard(node.get(), 0);
        EXPECT_EQ(requestNodeGuard(node.get(), 128), 1);
    }
    EXPECT_EQ(remoteState(6), Unknown);
}

TEST_F(HeartbeatTest, NodeStateOfAnIdAbove127IsUnknown) {
    StackLockGuard lock;
    EXPECT_EQ(getNodeState(node.get(), 200), Unknown);
    EXPECT_EQ(getNodeState(node.get(), 128), Unknown);
    EXPECT_EQ(getNodeState(node.get(), 255), Unknown);
}

TEST_F(HeartbeatTest, ConsumerCountWrittenBeyondTheTableIsHarmless) {
    const uint8_t count = 200;
    {
        StackLockGuard lock;
        uint32_t size = 1;
        ASSERT_EQ(writeLocalObject(node.get(), 0x1016, 0, &count, &size, false), 0u);  // access checks off
    }
    watchNode(5, 100);
    setState(Initialisation);
    receive(frame(0x705, {0x05}));
    advance(100);
    EXPECT_EQ(log().heartbeatErrors, std::vector<uint8_t>{5});
}

}  // namespace
}  // namespace canopen_test
