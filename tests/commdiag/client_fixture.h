#pragma once
// A client of either kind on a virtual bus of the test driver, with the machine scripted by
// a MachineNode and the stack's clock in the test's hands.
#include "callbacks.h"
#include "machine_node.h"

#include "commdiag/commdiag_factory.h"
#include "commdiag/iclient.h"
#include "fake_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace CommDiag::test {

class ClientFixture : public ::testing::Test {
public:
    // The machine the procedures' polls serve (null: none), and the polls so far.
    static std::atomic<MachineNode*> pollingMachine;
    static std::atomic<int> polls;

protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the client, runs Init and waits for the local node's boot-up frame.
    void createClient(bool sm = true);
    // From here the procedures' polls let the machine answer what was sent and move the
    // clock on by the poll period: budgets of seconds pass without sleeping, and every run
    // takes the same course. Without it a poll holds until the procedure is aborted.
    void usePollSeam();
    // Starts a connection and waits for its callback, the machine answering from the polls;
    // the callback's result. Afterwards the test serves the machine again.
    int connectByPolls(int timeoutMs = 10000, unsigned char tcu = 2, unsigned char sm = 1);
    // Serves the machine until `count` request callbacks have come.
    bool awaitRequests(size_t count, unsigned timeoutMs = 5000);
    // The SDO frames the local node sent to the machine, from position `from` on.
    std::vector<CanMessage> sdoRequests(size_t from = 0) const;
    std::string captureStdout(const std::function<void()>& action);

    // The stack's clock while a test runs; advance() moves it and fires what falls due.
    test_support::FakeClock clock;
    TestBus bus;
    MachineNode machine{bus};
    CommDiagFactory factory;
    IClient* client = nullptr;
    Callbacks& callbacks = Callbacks::instance();
};

}  // namespace CommDiag::test
