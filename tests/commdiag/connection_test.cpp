// The SM and TCU connection procedures against a scripted machine on the test bus. The
// procedures' poll waits run on the test's clock: each poll lets the machine answer what was
// sent and moves the clock on by the poll period, so budgets of seconds pass without sleeping
// and every run takes the same course.
#include "client_fixture.h"

#include "commdiag/library_state.h"
#include "commdiag/log.h"

#include "canopen/alarm.h"
#include "canopen/node_data.h"
#include "canopen/node_state.h"

#include <gmock/gmock.h>

namespace CommDiag::test {
namespace {

using ::testing::HasSubstr;

// True when every line appears in `text`, in this order.
bool linesInOrder(const std::string& text, std::initializer_list<const char*> lines) {
    size_t at = 0;
    for (const char* line : lines) {
        size_t found = text.find(std::string(line) + "\n", at);
        if (found == std::string::npos) return false;
        at = found + 1;
    }
    return true;
}

int occurrences(const std::string& text, const std::string& line) {
    int count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    return count;
}

class Connection : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        usePollSeam();
    }

    uint32_t localState() {
        canopen::StackLockGuard lock;
        return detail::localNode().nodeState;
    }
    uint16_t producerTime() {
        canopen::StackLockGuard lock;
        return detail::localNode().od.values.heartbeatProducerTime;
    }
    uint32_t consumerEntry() {
        canopen::StackLockGuard lock;
        return detail::localNode().od.values.heartbeatConsumerTime[0];
    }
    // A request that needs a connected client with the bus accessible reaches the machine.
    int probeRequest() {
        static uint8_t value;
        return client->ReadInput(1, &value, Callbacks::element);
    }
};

TEST_F(Connection, SmStartsTheMachineStopsTheTcuAndConfiguresTheMachine) {
    createClient();
    log::setLevel(1);
    std::string out = captureStdout([&] { EXPECT_EQ(connectByPolls(), RESULT_OK); });

    EXPECT_EQ(machine.nmtCommands(0x01, 10), 1);
    EXPECT_EQ(machine.nmtCommands(0x02, 2), 1);
    EXPECT_EQ(machine.objects[MachineNode::Key(0x1016, 1)], Bytes({0xE8, 0x03, 0x01, 0x00})) << "(1 << 16) | 1000";
    EXPECT_EQ(machine.objects[MachineNode::Key(0x2222, 1)], Bytes({0x01}));
    EXPECT_TRUE(linesInOrder(
        out, {"Switching node to Initialisation", "Switching node to Operational", "NodeOperational", "Starting node",
              "Stopping TCU node (if any)", "Setting machine heartbeat consumer", "Machine heartbeat consumer set",
              "Setting machine diagnose session", "Machine diagnose session set", "Connection operational"}))
        << out;
    EXPECT_THAT(out, HasSubstr("NodeState of node 0x0a: Operational\n"));
    EXPECT_EQ(localState(), canopen::Operational);
    EXPECT_EQ(producerTime(), 500);
    EXPECT_EQ(consumerEntry(), (10u << 16) | 1000u);
    EXPECT_EQ(probeRequest(), RESULT_OK);
}

// A TCU id of 0 would make the stop a broadcast that stops the machine too; the machine's own
// id is no TCU to stop either.
TEST_F(Connection, SmSendsNoTcuStopToNodeZeroOrToTheMachine) {
    createClient();
    EXPECT_EQ(connectByPolls(10000, 0, 1), RESULT_OK);
    EXPECT_EQ(client->CloseConnection(Callbacks::close), RESULT_OK);
    EXPECT_EQ(connectByPolls(10000, 10, 1), RESULT_OK);
    EXPECT_EQ(machine.nmtCommands(0x02, 0), 0);
    EXPECT_EQ(machine.nmtCommands(0x02, 10), 0);
    EXPECT_EQ(machine.nmtCommands(0x01, 10), 2);
}

TEST_F(Connection, SmAgainstTheBootLoaderEndsConnected) {
    createClient();
    machine.aborts[{0x1016, 1}] = 0x06020000;
    machine.aborts[{0x2222, 1}] = 0x06020000;
    log::setLevel(1);
    std::string out = captureStdout([&] { EXPECT_EQ(connectByPolls(), RESULT_OK); });
    EXPECT_EQ(occurrences(out, "Machine has no heartbeat conusmer, is on bus -> Bootloader active!\n"), 2);
    EXPECT_THAT(out, HasSubstr("Connection operational\n"));
    EXPECT_EQ(probeRequest(), RESULT_OK);
}

TEST_F(Connection, MachineNeverOperationalTimesOutAndRepeatsTheStartEveryFifthPoll) {
    createClient();
    machine.becomesOperational = false;
    // The procedure's thread logs its failure after the callback; the destruction joins it.
    const std::string out = captureStdout([&] {
        EXPECT_EQ(connectByPolls(10000), RESULT_TIMEOUT);
        EXPECT_EQ(localState(), canopen::Stopped);
        EXPECT_EQ(producerTime(), 0);
        EXPECT_EQ(probeRequest(), RESULT_NOT_READY);
        factory.DestroyClient();
    });
    EXPECT_EQ(polls.load(), 200);
    EXPECT_EQ(machine.nmtCommands(0x01, 10), 1 + 200 / 5);
    EXPECT_EQ(machine.nmtCommands(0x02, 2), 0) << "nothing after the failed start";
    EXPECT_EQ(occurrences(out, "Starting node timed out\n"), 1);
    EXPECT_EQ(occurrences(out, "Not connected\n"), 1);
    EXPECT_EQ(occurrences(out, "Connection failed\n"), 1);
}

TEST_F(Connection, MachineSilentOnTheHeartbeatConsumerWriteGivesTimeout) {
    createClient();
    machine.silent.insert({0x1016, 1});
    log::setLevel(1);
    std::string out = captureStdout([&] { EXPECT_EQ(connectByPolls(10000), RESULT_TIMEOUT); });
    EXPECT_THAT(out, HasSubstr("Node did not respond in time\n"));
    EXPECT_THAT(out, HasSubstr("Connection error, aborted or timed out\n"));
    EXPECT_EQ(machine.requests({0x2222, 1}), 0);
    EXPECT_EQ(localState(), canopen::Stopped);
    EXPECT_EQ(probeRequest(), RESULT_NOT_READY);
}

TEST_F(Connection, BudgetSpentWhileWaitingForAWriteGivesAbortedAfterTheTransferEnds) {
    createClient();
    machine.silent.insert({0x1016, 1});
    std::string out = captureStdout([&] {
        EXPECT_EQ(connectByPolls(600), RESULT_CONNECTION_ABORTED);
        factory.DestroyClient();  // joins the procedure's thread, which logs after the callback
    });
    // The wait goes on until the stack's own time-out ends the transfer, 4000 ms after it began.
    EXPECT_GT(occurrences(out, "Getting write result timed out\n"), 60);
    EXPECT_THAT(out, HasSubstr("Connection failed\n"));
}

TEST_F(Connection, MachineRefusingTheConfigurationFailsWithTheMappedResult) {
    createClient();
    machine.aborts[{0x2222, 1}] = 0x06010002;  // read only
    std::string out = captureStdout([&] { EXPECT_EQ(connectByPolls(), RESULT_BUS_NOT_ACCESSIBLE); });
    EXPECT_THAT(out, HasSubstr("getWriteResultNetworkDict() failed (retVal 128, abortCode 6010002)\n"));
    EXPECT_EQ(localState(), canopen::Stopped);
}

TEST_F(Connection, StartConnectionRefusals) {
    client = factory.CreateSMClient(bus.name, "500K", TESTCAN_PATH, 1, 10);
    std::string out = captureStdout([&] { EXPECT_EQ(client->StartConnection(2, 1, 1000, nullptr), 3); });
    EXPECT_EQ(out, "No callback defined\n");
    out = captureStdout([&] { EXPECT_EQ(client->StartConnection(2, 1, 1000, Callbacks::connection), 3); });
    EXPECT_EQ(out, "Client is not initialized\n");
    EXPECT_TRUE(callbacks.connections().empty());
}

TEST_F(Connection, ConnectedClientAnswersStartAndNullCallbackAtOnce) {
    createClient();
    ASSERT_EQ(connectByPolls(), RESULT_OK);
    log::setLevel(1);
    std::string out = captureStdout([&] {
        EXPECT_EQ(client->StartConnection(2, 1, 1000, Callbacks::connection), RESULT_OK);
        EXPECT_EQ(callbacks.connections().size(), 2u) << "called back before returning";
    });
    EXPECT_EQ(out, "Connection already started (pretending OK)\n");
    EXPECT_EQ(callbacks.connections().back(), RESULT_OK);
    out = captureStdout([&] { EXPECT_EQ(client->StartConnection(2, 1, 1000, nullptr), 3); });
    EXPECT_EQ(out, "No callback defined\n");
}

TEST_F(Connection, CloseConnectionStopsTheLocalNode) {
    createClient();
    ASSERT_EQ(connectByPolls(), RESULT_OK);
    log::setLevel(1);
    std::string out = captureStdout([&] {
        EXPECT_EQ(client->CloseConnection(Callbacks::close), RESULT_OK);
        EXPECT_EQ(callbacks.closes(), std::vector<int>{RESULT_OK}) << "called back before returning";
    });
    EXPECT_THAT(out, HasSubstr("NodeStopped\n"));
    EXPECT_EQ(localState(), canopen::Stopped);
    EXPECT_EQ(producerTime(), 0);
    EXPECT_EQ(probeRequest(), RESULT_NOT_READY);

    out = captureStdout([&] { EXPECT_EQ(client->CloseConnection(Callbacks::close), RESULT_OK); });
    EXPECT_EQ(out, "Connection not started or already closed (pretending OK)\n");
    EXPECT_EQ(callbacks.closes().size(), 2u);
    EXPECT_EQ(client->CloseConnection(nullptr), RESULT_NOT_READY);

    // And the client connects again.
    pollingMachine = &machine;
    EXPECT_EQ(connectByPolls(), RESULT_OK);
}

TEST_F(Connection, CloseConnectionIsRefusedWhileARequestRuns) {
    createClient();
    ASSERT_EQ(connectByPolls(), RESULT_OK);
    machine.silent.insert({0x5100, 1});
    ASSERT_EQ(probeRequest(), RESULT_OK);
    std::string out = captureStdout([&] { EXPECT_EQ(client->CloseConnection(Callbacks::close), RESULT_BUSY); });
    EXPECT_EQ(out, "Previous SDO operation is still running\n");
    EXPECT_TRUE(callbacks.closes().empty());
    EXPECT_EQ(localState(), canopen::Operational);
}

// No poll hook from here: the procedure holds in its first poll until it is aborted.
class ConnectionAbort : public Connection {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        machine.becomesOperational = false;
    }
    void startHangingAttempt() {
        ASSERT_EQ(client->StartConnection(2, 1, 10000, Callbacks::connection), RESULT_OK);
        ASSERT_TRUE(machine.serve([&] { return machine.nmtCommands(0x01, 10) >= 1; }));
    }
};

TEST_F(ConnectionAbort, SecondStartWhileConnectingIsRefused) {
    createClient();
    startHangingAttempt();
    std::string out =
        captureStdout([&] { EXPECT_EQ(client->StartConnection(2, 1, 100, Callbacks::connection), RESULT_BUSY); });
    EXPECT_EQ(out, "Previous StartConnection() is still running\n");
    EXPECT_TRUE(callbacks.connections().empty());
    EXPECT_EQ(probeRequest(), RESULT_NOT_READY);
}

TEST_F(ConnectionAbort, CloseConnectionAbortsARunningAttempt) {
    createClient();
    startHangingAttempt();
    EXPECT_EQ(client->CloseConnection(Callbacks::close), RESULT_OK);
    EXPECT_EQ(callbacks.connections(), std::vector<int>{RESULT_CONNECTION_ABORTED});
    EXPECT_EQ(callbacks.closes(), std::vector<int>{RESULT_OK});
    EXPECT_EQ(localState(), canopen::Stopped);
}

IClient* g_closingClient = nullptr;
std::atomic<int> g_closeResult{-1};
void closeOnConnectionResult(int result) {
    Callbacks::connection(result);
    g_closeResult = g_closingClient->CloseConnection(Callbacks::close);
}

// The attempt ends inside the destructor, whose callback closes the connection: that close
// must leave the connection thread and the stack to the destructor.
TEST_F(ConnectionAbort, CloseConnectionFromTheCallbackOfAnAttemptEndedByDestructionIsRefused) {
    createClient();
    g_closingClient = client;
    g_closeResult = -1;
    ASSERT_EQ(client->StartConnection(2, 1, 10000, closeOnConnectionResult), RESULT_OK);
    ASSERT_TRUE(machine.serve([&] { return machine.nmtCommands(0x01, 10) >= 1; }));
    captureStdout([&] { factory.DestroyClient(); });
    EXPECT_EQ(callbacks.connections(), std::vector<int>{RESULT_CONNECTION_ABORTED});
    EXPECT_EQ(g_closeResult.load(), RESULT_NOT_READY);
    EXPECT_TRUE(callbacks.closes().empty());
    EXPECT_EQ(bus.openBoards(bus.name.c_str()), 0) << "the port is closed";
}

TEST_F(ConnectionAbort, DestroyingTheClientDuringAnAttemptEndsIt) {
    createClient();
    startHangingAttempt();
    factory.DestroyClient();
    EXPECT_EQ(callbacks.connections(), std::vector<int>{RESULT_CONNECTION_ABORTED});
    EXPECT_EQ(bus.openBoards(bus.name.c_str()), 0) << "the port is closed";
    EXPECT_EQ(detail::libraryState().sdoBusy.load(), 0u);
}

TEST_F(Connection, DestroyingTheClientDuringARequestCallsNothingBack) {
    createClient();
    ASSERT_EQ(connectByPolls(), RESULT_OK);
    machine.silent.insert({0x5100, 1});
    ASSERT_EQ(probeRequest(), RESULT_OK);
    factory.DestroyClient();
    EXPECT_TRUE(callbacks.requests().empty());
    EXPECT_EQ(bus.openBoards(bus.name.c_str()), 0);

    // The library is free for the next client.
    machine.silent.clear();
    createClient();
    pollingMachine = &machine;
    EXPECT_EQ(connectByPolls(), RESULT_OK);
    EXPECT_EQ(probeRequest(), RESULT_OK);
    EXPECT_TRUE(awaitRequests(1));
}

TEST_F(Connection, TcuWithAnActiveSmCountsAsConnectedWithoutBusAccess) {
    createClient(false);
    machine.guardAnswers.insert(1);
    log::setLevel(1);
    std::string out = captureStdout([&] { EXPECT_EQ(connectByPolls(), RESULT_OK); });
    EXPECT_TRUE(linesInOrder(out, {"Switching node to Initialisation and then Stopped", "Probing for active SM",
                                   "SM is active, pretend started and getting stopped by SM", "NodeStopped"}))
        << out;
    EXPECT_EQ(machine.nmtCommands(0x01, 10), 0);
    out = captureStdout([&] { EXPECT_EQ(probeRequest(), RESULT_BUS_NOT_ACCESSIBLE); });
    EXPECT_EQ(out, "Bus not accessible\n");
}

TEST_F(Connection, TcuWithoutSmStartsTheMachineItself) {
    createClient(false);
    log::setLevel(1);
    std::string out = captureStdout([&] { EXPECT_EQ(connectByPolls(), RESULT_OK); });
    EXPECT_TRUE(linesInOrder(out, {"Probing for active SM", "No active SM detected, continuing",
                                   "Switching node to Operational", "Starting node", "Connection operational"}))
        << out;
    EXPECT_EQ(polls.load(), 750 / 50 + 1) << "the probe polls 750 ms, the start one poll";
    EXPECT_EQ(machine.nmtCommands(0x01, 10), 1);
    EXPECT_EQ(machine.nmtCommands(0x02, 2), 0);
    EXPECT_TRUE(sdoRequests().empty()) << "the TCU kind configures nothing on the machine";
    EXPECT_EQ(probeRequest(), RESULT_OK);
}

TEST_F(Connection, GetNodeStateLogsChangesOnlyAndNormalises) {
    createClient();
    log::setLevel(1);
    bus.send(frame(0x705, {0x85}));
    std::string out = captureStdout([&] {
        EXPECT_EQ(client->GetNodeState(5, false), 5);
        EXPECT_EQ(client->GetNodeState(5, false), 5);
    });
    EXPECT_EQ(out, "NodeState of node 0x05: Operational\n");

    bus.send(frame(0x705, {0x10}));
    out = captureStdout([&] { EXPECT_EQ(client->GetNodeState(5, false), 15); });
    EXPECT_EQ(out, "NodeState of node 0x05: Unknown\n");
    bus.send(frame(0x705, {0x03}));
    out = captureStdout([&] { EXPECT_EQ(client->GetNodeState(5, false), 3); });
    EXPECT_EQ(out, "NodeState of node 0x05: Preparing\n");

    out = captureStdout([&] { EXPECT_EQ(client->GetNodeState(0x8A, false), 15); });
    EXPECT_EQ(out, "NodeState of node 0x8a: Unknown\n");
}

TEST_F(Connection, GetNodeStateWithRefreshAsksEveryNode) {
    createClient();
    bus.send(frame(0x705, {0x05}));
    EXPECT_EQ(client->GetNodeState(5, true), 5);
    EXPECT_EQ(client->GetNodeState(5, false), 15) << "a refresh forgets every state";
    bool guardSent = false;
    for (const CanMessage& m : bus.sent()) guardSent |= m.cobId == 0x700 && m.rtr == 1;
    EXPECT_TRUE(guardSent);
}

TEST_F(Connection, InitReportsDriverAndBoardFailures) {
    client = factory.CreateSMClient(bus.name, "500K", "/no/such/driver.so", 1, 10);
    std::string out = captureStdout([&] { EXPECT_FALSE(client->Init()); });
    EXPECT_EQ(out, "Failed to load CAN driver /no/such/driver.so\n");
    captureStdout([&] { EXPECT_FALSE(client->Init()); });
    factory.DestroyClient();

    client = factory.CreateSMClient("refuse", "500K", TESTCAN_PATH, 1, 10);
    out = captureStdout([&] { EXPECT_FALSE(client->Init()); });
    EXPECT_EQ(out, "Failed to initialize CAN interface\n");
    EXPECT_EQ(client->StartConnection(2, 1, 1000, Callbacks::connection), RESULT_NOT_READY);
}

TEST_F(Connection, InitBringsTheNodeUpAndDestructionClosesThePort) {
    client = factory.CreateSMClient(bus.name, "500K", TESTCAN_PATH, 1, 10);
    log::setLevel(5);
    std::string out = captureStdout([&] { EXPECT_TRUE(client->Init()); });
    EXPECT_EQ(out, "Timer initialized\nCAN interface initialized\n");
    // Booted before Init returns: a connection started at once is not undone by the boot.
    EXPECT_EQ(localState(), canopen::Pre_operational);
    EXPECT_TRUE(client->Init()) << "a second Init is a no-op";
    EXPECT_EQ(bus.openBoards(bus.name.c_str()), 1);
    ASSERT_TRUE(machine.serve([&] {
        for (const CanMessage& m : bus.sent())
            if (m.cobId == 0x701 && m.len == 1 && m.data[0] == 0) return true;
        return false;
    }));
    EXPECT_EQ(localState(), canopen::Pre_operational);
    factory.DestroyClient();
    EXPECT_EQ(bus.openBoards(bus.name.c_str()), 0);
}

}  // namespace
}  // namespace CommDiag::test
