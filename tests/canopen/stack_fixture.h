#pragma once
// A node on a virtual bus of the test driver library, with a clock the test moves.
#include "canopen/alarm.h"
#include "canopen/alarm_testing.h"
#include "canopen/can_driver.h"
#include "canopen/can_port.h"
#include "canopen/node_data.h"
#include "fake_clock.h"
#include "testcan/testcan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace canopen_test {

CanMessage frame(uint16_t cobId, std::initializer_list<uint8_t> bytes, uint8_t rtr = 0);
CanMessage remoteFrame(uint16_t cobId);

// The control entries of the loaded test driver.
struct TestDriver {
    TestcanInject inject = nullptr;
    TestcanWaitIdle waitIdle = nullptr;
    TestcanSentCount sentCount = nullptr;
    TestcanSentFrame sentFrame = nullptr;
    TestcanWaitSent waitSent = nullptr;
    TestcanClearSent clearSent = nullptr;
    TestcanFailReceives failReceives = nullptr;
    TestcanReceiveCalls receiveCalls = nullptr;
    TestcanSetCloseResult setCloseResult = nullptr;
    TestcanBaudRateChanges baudRateChanges = nullptr;
    TestcanOpenBoards openBoards = nullptr;

    bool resolve(platform::LibraryHandle module);
};

class StackFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Hands a frame to the node through the driver and waits until the stack has handled it.
    void receive(const CanMessage& message);
    // Moves the clock on by ms, waking the alarm service whenever its timer would fire.
    void advance(uint32_t ms) { clock.advance(ms); }
    std::vector<CanMessage> sent() const;
    void clearSent() { driver.clearSent(bus.c_str()); }
    // Sets the node's state under the stack lock, as a client would.
    uint8_t setState(uint8_t state);

    test_support::FakeClock clock;
    std::string bus;
    platform::LibraryHandle module = nullptr;
    TestDriver driver;
    std::unique_ptr<canopen::NodeData> node;
    s_BOARD board{};
    canopen::CanPort* port = nullptr;
};

}  // namespace canopen_test
