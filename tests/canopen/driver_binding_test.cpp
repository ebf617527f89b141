// Loading the driver library, opening and closing boards, the receive loop and the frame
// dispatcher, seen through the test driver.
#include "stack_fixture.h"

#include "canopen/node_state.h"

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace canopen_test {
namespace {

using namespace canopen;

std::string libraryPath(const char* name) {
    return std::string(TESTCAN_DIR) + "/" + TESTCAN_PREFIX + name + TESTCAN_SUFFIX;
}

bool libraryIsLoaded(const std::string& path) {
#ifdef _WIN32
    return GetModuleHandleA(path.c_str()) != nullptr;
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
#endif
}

bool tableIsEmpty() {
    const CanDriverTable& t = canDriverTable();
    return !t.canReceive.load() && !t.canSend.load() && !t.canOpen.load() && !t.canClose.load() &&
           !t.canChangeBaudRate.load();
}

class DriverLoading : public ::testing::TestWithParam<const char*> {};

TEST_P(DriverLoading, LibraryLackingOneEntryLeavesAllEntriesNullAndIsUnloaded) {
    platform::LibraryHandle complete = loadCanDriver(TESTCAN_PATH);
    ASSERT_NE(complete, nullptr);
    ASSERT_FALSE(tableIsEmpty());

    const std::string path = libraryPath(GetParam());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(loadCanDriver(path.c_str()), nullptr);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("GetProc error : ", 0), 0u) << said;
    EXPECT_TRUE(tableIsEmpty());
    EXPECT_FALSE(libraryIsLoaded(path));
    EXPECT_EQ(unloadCanDriver(complete), 0);
}

INSTANTIATE_TEST_SUITE_P(EachEntry, DriverLoading,
                         ::testing::Values("testcan_without_open", "testcan_without_close", "testcan_without_send",
                                           "testcan_without_receive", "testcan_without_baudrate"));

TEST(DriverLoadingFailure, MissingLibraryIsReportedAndGivesNull) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(loadCanDriver("/nonexistent/libnodriver.so"), nullptr);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("LoadLibrary error : ", 0), 0u) << said;
}

TEST(DriverLoadingFailure, UnloadKeepsTheTableAndRefusesNull) {
    EXPECT_EQ(unloadCanDriver(nullptr), 255);
    platform::LibraryHandle module = loadCanDriver(TESTCAN_PATH);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(unloadCanDriver(module), 0);
    EXPECT_FALSE(tableIsEmpty());  // entries stay until the next load
}

TEST(PortWithoutDriver, OpenIsRefusedWhenNoDriverIsLoaded) {
    loadCanDriver(libraryPath("testcan_without_send").c_str());  // empties the table
    ASSERT_TRUE(tableIsEmpty());
    NodeData node;
    s_BOARD board{"PortWithoutDriver", "500K"};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(openCanPort(&board, &node), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "CanOpen : Can Driver dll not loaded\n");
    EXPECT_EQ(node.port, nullptr);
    CanMessage m = frame(0x123, {1});
    EXPECT_EQ(sendCanFrame(nullptr, &m), 1);
}

using PortTest = StackFixture;

TEST_F(PortTest, OpenTakesTheLowestFreeSlotAndStartsReceiving) {
    EXPECT_EQ(port, &canPortTable()[0]);
    EXPECT_EQ(port->used.load(), 1);
    EXPECT_EQ(node->port, port);
    EXPECT_EQ(driver.openBoards(bus.c_str()), 1);
}

TEST_F(PortTest, RefusedBoardIsReportedAndTakesNoSlot) {
    NodeData other;
    s_BOARD refused{"refuse", "125K"};
#if defined(_WIN32)
    EXPECT_EQ(openCanPort(&refused, &other), nullptr);  // the line goes to the debugger there
#else
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(openCanPort(&refused, &other), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "CanOpen : Cannot open board {busname='refuse',baudrate='125K'}\n");
#endif
    EXPECT_EQ(canPortTable()[1].used.load(), 0);
    EXPECT_EQ(other.port, nullptr);
}

TEST_F(PortTest, OpenForANodeWithABoardClosesTheOldOneAndReusesTheLowestSlot) {
    CanPort* again = openCanPort(&board, node.get());
    EXPECT_EQ(again, &canPortTable()[0]);
    EXPECT_EQ(driver.openBoards(bus.c_str()), 1);  // the first board was closed
}

TEST_F(PortTest, SixteenPortsAtMostThenOpenIsRefused) {
    std::vector<std::unique_ptr<NodeData>> others;
    for (int i = 1; i < kCanPortCount; ++i) {
        others.push_back(std::make_unique<NodeData>());
        ASSERT_EQ(openCanPort(&board, others.back().get()), &canPortTable()[i]);
    }
    NodeData oneTooMany;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(openCanPort(&board, &oneTooMany), nullptr);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(driver.openBoards(bus.c_str()), kCanPortCount);
    for (auto& other : others) closeCanPort(other.get());
    EXPECT_EQ(driver.openBoards(bus.c_str()), 1);
}

TEST_F(PortTest, CloseReturnsTheDriversResultAndFreesTheSlot) {
    driver.setCloseResult(bus.c_str(), 42);
    EXPECT_EQ(closeCanPort(node.get()), 42);
    EXPECT_EQ(node->port, nullptr);
    EXPECT_EQ(canPortTable()[0].used.load(), 0);
    EXPECT_EQ(driver.openBoards(bus.c_str()), 0);
}

TEST_F(PortTest, CloseOfANodeWithoutAPortReturnsZeroAndTouchesNoBoard) {
    NodeData other;
    driver.setCloseResult(bus.c_str(), 42);
    EXPECT_EQ(closeCanPort(&other), 0);
    EXPECT_EQ(driver.openBoards(bus.c_str()), 1);
}

TEST_F(PortTest, ReceiveErrorsWhileOpenDoNotEndReception) {
    setState(Pre_operational);
    driver.failReceives(bus.c_str(), 3);
    receive(frame(0x705, {0x05}));
    EXPECT_GE(driver.receiveCalls(bus.c_str()), 5);
    StackLockGuard lock;
    EXPECT_EQ(getNodeState(node.get(), 5), Operational);
}

TEST_F(PortTest, ReceiveThatFailsForEverLeavesAPortThatStillCloses) {
    driver.failReceives(bus.c_str(), 1 << 30);
    driver.setCloseResult(bus.c_str(), 7);
    EXPECT_EQ(closeCanPort(node.get()), 7);
}

TEST_F(PortTest, SendGoesOutThroughTheDriver) {
    CanMessage m = frame(0x601, {0x40, 0x00, 0x10, 0x00});
    EXPECT_EQ(sendCanFrame(port, &m), 0);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].cobId, 0x601);
    EXPECT_EQ(sent()[0].len, 4);
    EXPECT_EQ(sendCanFrame(nullptr, &m), 1);
    EXPECT_EQ(changeCanBaudRate(nullptr, "250K"), 1);
    EXPECT_EQ(changeCanBaudRate(port, "250K"), 0);
    char last[8];
    EXPECT_EQ(driver.baudRateChanges(bus.c_str(), last, sizeof last), 1);
    EXPECT_STREQ(last, "250K");
}

// Every hook counts its calls, so that a frame routed anywhere shows.
std::atomic<int> g_hookCalls{0};
void countNode(NodeData*) { ++g_hookCalls; }
void countNodeId(NodeData*, uint8_t) { ++g_hookCalls; }
void countStateChange(NodeData*, uint8_t, uint8_t) { ++g_hookCalls; }
void countEmergency(NodeData*, uint8_t, uint16_t, uint8_t) { ++g_hookCalls; }

class DispatchTest : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        g_hookCalls = 0;
        NodeHooks& h = node->hooks;
        h.initialisation = h.preOperational = h.operational = h.stopped = countNode;
        h.resetNode = h.resetCommunication = h.sync = h.transmitPdo = countNode;
        h.heartbeatError = h.slaveBootUp = h.lifeGuard = countNodeId;
        h.nodeStateChange = countStateChange;
        h.emergency = countEmergency;
    }
    // Frames a misrouting would act on: NMT commands, heartbeats, node-guard requests, LSS.
    void sendProvokingFrames(uint16_t cobId) {
        receive(frame(cobId, {0x01, 0x00}));
        receive(frame(cobId, {0x82, 0x01, 0, 0, 0, 0, 0, 0}));
        receive(frame(cobId, {0x05}));
        receive(frame(cobId, {0x04, 0x01, 0, 0, 0, 0, 0, 0}));
        receive(remoteFrame(cobId));
    }
    void expectNothingHappened() {
        StackLockGuard lock;
        EXPECT_EQ(g_hookCalls.load(), 0);
        EXPECT_TRUE(sent().empty());
        for (int id = 0; id < 128; ++id)
            EXPECT_EQ(getNodeState(node.get(), static_cast<uint8_t>(id)), canopen::Unknown);
    }
};

TEST_F(DispatchTest, FramesOn0x100To0x17FAnd0x680To0x6FFAreDroppedInEveryState) {
    for (uint8_t state : {Pre_operational, Operational, Stopped}) {
        setState(state);
        clearSent();
        g_hookCalls = 0;
        for (uint16_t cobId : {0x100, 0x101, 0x17F, 0x680, 0x681, 0x6FF}) sendProvokingFrames(cobId);
        expectNothingHappened();
        StackLockGuard lock;
        EXPECT_EQ(node->nodeState, state);
    }
}

TEST_F(DispatchTest, FramesWithALengthCodeAbove8AreDropped) {
    setState(Pre_operational);
    clearSent();
    g_hookCalls = 0;
    for (uint8_t len : {9, 15, 255}) {
        CanMessage heartbeat = frame(0x705, {0x05});
        heartbeat.len = len;
        receive(heartbeat);
        CanMessage nmt = frame(0x000, {0x01, 0x00});
        nmt.len = len;
        receive(nmt);
    }
    expectNothingHappened();
}

TEST_F(DispatchTest, IdentifiersAbove0x7FFAreDropped) {
    setState(Pre_operational);
    clearSent();
    g_hookCalls = 0;
    for (uint16_t cobId : {0x800, 0x805, 0xF05, 0xFFFF}) sendProvokingFrames(cobId);
    expectNothingHappened();
}

TEST_F(DispatchTest, NothingIsHandledBeforeTheNodeStarts) {
    for (uint16_t cobId : {0x000, 0x080, 0x085, 0x185, 0x585, 0x605, 0x705, 0x7E5}) sendProvokingFrames(cobId);
    expectNothingHappened();
}

TEST_F(DispatchTest, EmergencyFramesReachTheHookOnlyWithEightBytes) {
    setState(Pre_operational);
    g_hookCalls = 0;
    receive(frame(0x08A, {0x10, 0x82, 0x11}));
    EXPECT_EQ(g_hookCalls.load(), 0);
    receive(frame(0x08A, {0x10, 0x82, 0x11, 0, 0, 0, 0, 0}));
    EXPECT_EQ(g_hookCalls.load(), 1);
    setState(Stopped);  // EMCY off
    g_hookCalls = 0;
    receive(frame(0x08A, {0x10, 0x82, 0x11, 0, 0, 0, 0, 0}));
    EXPECT_EQ(g_hookCalls.load(), 0);
}

}  // namespace
}  // namespace canopen_test
