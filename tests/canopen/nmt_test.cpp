// The local NMT state machine, NMT commands sent and obeyed, node ids and COB-ids.
#include "stack_fixture.h"

#include "canopen/nmt.h"
#include "canopen/node_state.h"
#include "canopen/sdo.h"

namespace canopen_test {
namespace {

using namespace canopen;

std::vector<std::string> g_calls;
uint8_t g_stateSetInsideInitialisation = 0;
void onInitialisation(NodeData* node) {
    g_calls.push_back("init");
    g_stateSetInsideInitialisation = setNodeState(node, Operational);
}
void onPreOperational(NodeData*) { g_calls.push_back("preop"); }
void onOperational(NodeData*) { g_calls.push_back("op"); }
void onStopped(NodeData*) { g_calls.push_back("stopped"); }
void onResetNode(NodeData*) { g_calls.push_back("reset node"); }
void onResetCommunication(NodeData*) { g_calls.push_back("reset communication"); }

class NmtTest : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        g_calls.clear();
        NodeHooks& h = node->hooks;
        h.initialisation = onInitialisation;
        h.preOperational = onPreOperational;
        h.operational = onOperational;
        h.stopped = onStopped;
        h.resetNode = onResetNode;
        h.resetCommunication = onResetCommunication;
    }
    uint8_t state() {
        StackLockGuard lock;
        return static_cast<uint8_t>(node->nodeState);
    }
    std::vector<std::string> calls() {
        StackLockGuard lock;
        return g_calls;
    }
    size_t bootUpFrames(uint16_t cobId = 0x701) {
        size_t count = 0;
        for (const CanMessage& m : sent())
            if (m.cobId == cobId && m.len == 1 && m.data[0] == 0x00 && !m.rtr) ++count;
        return count;
    }
};

TEST_F(NmtTest, InitialisationSendsExactlyOneBootUpAndEndsInPreOperational) {
    EXPECT_EQ(setState(Initialisation), Pre_operational);
    EXPECT_EQ(state(), Pre_operational);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(bootUpFrames(), 1u);
    EXPECT_EQ(calls(), (std::vector<std::string>{"init", "preop"}));
    EXPECT_EQ(g_stateSetInsideInitialisation, kStateRefused);
}

TEST_F(NmtTest, OperationalStraightFromUnknownIsAcceptedWithoutBootUp) {
    EXPECT_EQ(setState(Operational), Operational);
    EXPECT_TRUE(sent().empty());
    StackLockGuard lock;
    EXPECT_EQ(node->flags.pdo, 1);
    EXPECT_EQ(node->flags.lss, 0);
    EXPECT_EQ(node->flags.sdo, 1);
}

TEST_F(NmtTest, FlagsFollowTheState) {
    setState(Stopped);
    {
        StackLockGuard lock;
        const CommunicationFlags& f = node->flags;
        EXPECT_EQ(f.heartbeat + f.lss, 2);
        EXPECT_EQ(f.sdo + f.emergency + f.sync + f.pdo + f.bootUp, 0);
    }
    setState(Pre_operational);
    StackLockGuard lock;
    const CommunicationFlags& f = node->flags;
    EXPECT_EQ(f.sdo + f.emergency + f.sync + f.heartbeat + f.lss, 5);
    EXPECT_EQ(f.pdo + f.bootUp, 0);
}

TEST_F(NmtTest, RequestForTheCurrentStateDoesNothingAndUnknownStatesAreRefused) {
    setState(Operational);
    g_calls.clear();
    EXPECT_EQ(setState(Operational), Operational);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(setState(0x80), kStateRefused);
    EXPECT_EQ(setState(0xFF), kStateRefused);
    EXPECT_EQ(setState(0x03), kStateRefused);
    EXPECT_EQ(state(), Operational);
}

TEST_F(NmtTest, NmtStartAddressedToUsOrToAllIsObeyedToAnotherIgnored) {
    setState(Initialisation);
    receive(frame(0x000, {kNmtStart, 2}));
    EXPECT_EQ(state(), Pre_operational);
    receive(frame(0x000, {kNmtStart, 1}));
    EXPECT_EQ(state(), Operational);
    receive(frame(0x000, {kNmtStop, 0}));
    EXPECT_EQ(state(), Stopped);
    receive(frame(0x000, {kNmtStart, 0}));
    EXPECT_EQ(state(), Operational);
}

TEST_F(NmtTest, NmtCommandsMoveOnlyBetweenTheirStates) {
    setState(Initialisation);
    receive(frame(0x000, {kNmtEnterPreOperational, 1}));  // already there
    receive(frame(0x000, {kNmtStop, 1}));
    EXPECT_EQ(state(), Stopped);
    receive(frame(0x000, {kNmtStop, 1}));
    EXPECT_EQ(state(), Stopped);
    receive(frame(0x000, {kNmtEnterPreOperational, 1}));
    EXPECT_EQ(state(), Pre_operational);
    receive(frame(0x000, {0x55, 1}));    // no such command
    receive(frame(0x000, {kNmtStart}));  // too short
    EXPECT_EQ(state(), Pre_operational);
    EXPECT_EQ(calls(), (std::vector<std::string>{"init", "preop", "stopped", "preop"}));
}

TEST_F(NmtTest, NmtCommandsAreIgnoredBeforeTheNodeStartsAndWhenNotAnNmtSlave) {
    receive(frame(0x000, {kNmtStart, 0}));
    EXPECT_EQ(state(), Unknown);
    setState(Initialisation);
    {
        StackLockGuard lock;
        node->nmtSlave = 0;
    }
    receive(frame(0x000, {kNmtStart, 0}));
    EXPECT_EQ(state(), Pre_operational);
}

TEST_F(NmtTest, ResetNodeCallsItsHookAndBootsAgain) {
    setState(Initialisation);
    receive(frame(0x000, {kNmtStart, 1}));
    g_calls.clear();
    receive(frame(0x000, {kNmtResetNode, 0}));
    EXPECT_EQ(state(), Pre_operational);
    EXPECT_EQ(calls(), (std::vector<std::string>{"reset node", "init", "preop"}));
    EXPECT_EQ(bootUpFrames(), 2u);
}

TEST_F(NmtTest, ResetCommunicationTakesThePendingNodeIdWithFreshCobIds) {
    setState(Initialisation);
    {
        StackLockGuard lock;
        node->pendingNodeId = 9;  // as a configure-node-id of LSS leaves it
        uint32_t configured = 0x620, size = 4;
        writeLocalObject(node.get(), 0x1200, 2, &configured, &size, false);
        g_calls.clear();
    }
    receive(frame(0x000, {kNmtResetCommunication, 1}));
    EXPECT_EQ(bootUpFrames(0x709), 1u);
    StackLockGuard lock;
    EXPECT_EQ(getNodeId(node.get()), 9);
    EXPECT_EQ(node->od.values.sdoServerRequestCobId, 0x609u);
    EXPECT_EQ(node->od.values.sdoServerAnswerCobId, 0x589u);  // derived afresh, even the configured one
    EXPECT_EQ(g_calls, (std::vector<std::string>{"reset communication", "init", "preop"}));
}

TEST_F(NmtTest, SetNodeIdMovesDefaultCobIdsOnly) {
    StackLockGuard lock;
    setNodeId(node.get(), 5);
    EXPECT_EQ(node->od.values.sdoServerRequestCobId, 0x605u);
    EXPECT_EQ(node->od.values.sdoServerAnswerCobId, 0x585u);
    node->od.values.sdoServerAnswerCobId = 0x5A0;  // configured by hand
    setNodeId(node.get(), 6);
    EXPECT_EQ(node->od.values.sdoServerRequestCobId, 0x606u);
    EXPECT_EQ(node->od.values.sdoServerAnswerCobId, 0x5A0u);
    EXPECT_EQ(getNodeId(node.get()), 6);
}

TEST_F(NmtTest, SetNodeIdOutOfRangeChangesOnlyThePendingId) {
    StackLockGuard lock;
    for (uint8_t id : {0x80, 0x00, 0xFE}) {
        setNodeId(node.get(), id);
        EXPECT_EQ(getNodeId(node.get()), 1);
        EXPECT_EQ(node->pendingNodeId, id);
        EXPECT_EQ(node->od.values.sdoServerRequestCobId, 0x601u);
    }
    setNodeId(node.get(), 0xFF);
    EXPECT_EQ(getNodeId(node.get()), 0xFF);
    EXPECT_EQ(node->od.values.sdoServerRequestCobId, 0x601u);
    setNodeId(node.get(), 3);  // from unconfigured every default moves
    EXPECT_EQ(node->od.values.sdoServerRequestCobId, 0x603u);
}

TEST_F(NmtTest, UnconfiguredNodeSendsNoBootUp) {
    {
        StackLockGuard lock;
        setNodeId(node.get(), 0xFF);
    }
    setState(Initialisation);
    EXPECT_TRUE(sent().empty());
}

TEST_F(NmtTest, SendNmtCommandFrame) {
    StackLockGuard lock;
    EXPECT_EQ(sendNmtCommand(node.get(), 10, kNmtEnterPreOperational), 0);
    ASSERT_EQ(sent().size(), 1u);
    const CanMessage m = sent()[0];
    EXPECT_EQ(m.cobId, 0x000);
    EXPECT_EQ(m.len, 2);
    EXPECT_EQ(m.data[0], 0x80);
    EXPECT_EQ(m.data[1], 10);
}

TEST_F(NmtTest, SendWithoutAPortFails) {
    closeCanPort(node.get());
    StackLockGuard lock;
    EXPECT_EQ(sendNmtCommand(node.get(), 10, kNmtStart), 1);
}

TEST_F(NmtTest, DefaultPreOperationalHookResetsAllNodesOnlyForAMaster) {
    {
        StackLockGuard lock;
        node->hooks = NodeHooks{};
    }
    setState(Pre_operational);
    EXPECT_TRUE(sent().empty());
    setState(Operational);
    {
        StackLockGuard lock;
        node->nmtSlave = 0;
    }
    setState(Pre_operational);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].data[0], kNmtResetNode);
    EXPECT_EQ(sent()[0].data[1], 0);
}

TEST_F(NmtTest, SdoServiceOffFreesTheLine) {
    setState(Pre_operational);
    {
        StackLockGuard lock;
        node->sdo.state = kSdoUploadInProgress;
        node->sdo.role = kSdoRoleClient;
    }
    setState(Stopped);
    StackLockGuard lock;
    EXPECT_EQ(node->sdo.state, kSdoFree);
    EXPECT_EQ(node->sdo.role, kSdoRoleNone);
}

}  // namespace
}  // namespace canopen_test

namespace canopen_test {
namespace {

using namespace canopen;

// Two nodes on one virtual bus: what one sends, the other receives.
class TwoNodesTest : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        other = std::make_unique<NodeData>();
        ASSERT_NE(openCanPort(&board, other.get()), nullptr);
        StackLockGuard lock;
        setNodeId(other.get(), 10);
    }
    void TearDown() override {
        closeCanPort(other.get());
        StackFixture::TearDown();
    }
    std::unique_ptr<NodeData> other;
};

TEST_F(TwoNodesTest, NmtStartFromOneNodeStartsTheOtherAndItsHeartbeatIsHeard) {
    uint16_t producerTime = 100;
    uint32_t size = 2;
    {
        StackLockGuard lock;
        writeLocalObject(other.get(), 0x1017, 0, &producerTime, &size, true);
        setNodeState(other.get(), Initialisation);
        setNodeState(node.get(), Initialisation);
    }
    ASSERT_EQ(driver.waitIdle(bus.c_str(), 5000), 1);
    {
        StackLockGuard lock;
        EXPECT_EQ(getNodeState(node.get(), 10), Initialisation);  // its boot-up was heard
        sendNmtCommand(node.get(), 10, kNmtStart);
    }
    ASSERT_EQ(driver.waitIdle(bus.c_str(), 5000), 1);
    advance(100);
    ASSERT_EQ(driver.waitIdle(bus.c_str(), 5000), 1);
    StackLockGuard lock;
    EXPECT_EQ(other->nodeState, Operational);
    EXPECT_EQ(getNodeState(node.get(), 10), Operational);
}

}  // namespace
}  // namespace canopen_test
