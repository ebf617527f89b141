// Requests refused at their start: the result, the log line, and no callback or pending
// state left behind.
#include "test_client.h"

#include "commdiag/library_state.h"
#include "commdiag/log.h"

#include "canopen/node_data.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace CommDiag::test {
namespace {

std::atomic<int> g_callbacks{0};
void elementCallback(int, int, unsigned char, void*) { ++g_callbacks; }
void domainCallback(int, int, unsigned char, void*, unsigned int) { ++g_callbacks; }
void numberCallback(int, int, unsigned char*) { ++g_callbacks; }

class RequestRefusal : public ::testing::Test {
protected:
    void SetUp() override {
        log::setLevel(0);
        g_callbacks = 0;
    }
    void TearDown() override {
        log::setLevel(0);
        EXPECT_EQ(g_callbacks.load(), 0) << "a refused request must not call back";
    }

    // The flag is free again when this caller can take it.
    static bool sdoFlagFree() {
        if (!detail::claimSdo()) return false;
        detail::releaseSdo();
        return true;
    }

    std::string captured(const std::function<void()>& action) {
        ::testing::internal::CaptureStdout();
        action();
        return ::testing::internal::GetCapturedStdout();
    }

    TestClient client;
    uint16_t value16 = 0;
    uint8_t count = 0;
};

TEST_F(RequestRefusal, NoCallbackIsRefusedWithThreeEvenWhenConnected) {
    client.pretendConnected(true);
    int result = -1;
    std::string out = captured([&] { result = client.ReadInput(1, &value16, nullptr); });
    EXPECT_EQ(result, RESULT_NOT_READY);
    EXPECT_EQ(out, "No callback defined\n");
    EXPECT_TRUE(sdoFlagFree());
}

TEST_F(RequestRefusal, NotConnectedIsRefusedWithThree) {
    int result = -1;
    std::string out = captured([&] { result = client.ReadNrOfErrorBufferEntries(&count, numberCallback); });
    EXPECT_EQ(result, RESULT_NOT_READY);
    EXPECT_EQ(out, "Not connected\n");
}

TEST_F(RequestRefusal, BusNotAccessibleIsRefusedWithTwentyAndLoggedFromLevelOne) {
    client.pretendConnected(false);
    int result = -1;
    EXPECT_EQ(captured([&] { result = client.ReadInput(1, &value16, elementCallback); }), "");
    EXPECT_EQ(result, RESULT_BUS_NOT_ACCESSIBLE);

    log::setLevel(1);
    EXPECT_EQ(captured([&] { result = client.ReadSNNumber(nullptr, domainCallback); }), "Bus not accessible\n");
    EXPECT_EQ(result, RESULT_BUS_NOT_ACCESSIBLE);
    EXPECT_TRUE(sdoFlagFree());
}

TEST_F(RequestRefusal, SecondOperationWhileOneRunsIsRefusedWithEighteen) {
    client.pretendConnected(true);
    ASSERT_TRUE(detail::claimSdo());  // the operation in flight
    int result = -1;
    std::string out = captured([&] { result = client.WriteMachineParameter(3, &value16, elementCallback); });
    EXPECT_EQ(result, RESULT_BUSY);
    EXPECT_EQ(out, "Previous SDO operation is still running\n");
    EXPECT_FALSE(sdoFlagFree()) << "the refusal must not release the running operation's flag";
    detail::releaseSdo();
}

TEST_F(RequestRefusal, ReadNumberWithInvalidTypeIsRefusedWithTwentyNine) {
    client.pretendConnected(true);
    int result = -1;
    EXPECT_EQ(captured([&] { result = client.ReadNrOfInputs(0, &count, numberCallback); }),
              "Invalid parameter type0\n");
    EXPECT_EQ(result, RESULT_REFUSED);
    EXPECT_EQ(captured([&] { result = client.ReadNrOfOpHoursCounters(8, &count, numberCallback); }),
              "Invalid parameter type8\n");
    EXPECT_EQ(result, RESULT_REFUSED);
    EXPECT_TRUE(sdoFlagFree());
}

TEST_F(RequestRefusal, ElementWriteOfTypeWithoutSizeIsRefusedWithTwentyNine) {
    client.pretendConnected(true);
    int result = -1;
    std::string out = captured([&] { result = client.startElementWrite(8, 0x3000, 1, &value16, elementCallback); });
    EXPECT_EQ(result, RESULT_REFUSED);
    EXPECT_EQ(out, "Parameter type8 has no fixed size\nInvalid parameter type8\n");
    EXPECT_TRUE(sdoFlagFree());
}

TEST_F(RequestRefusal, StackRefusingTheTransferGivesTwentyNine) {
    // The local node was never started, so the stack sends nothing and refuses.
    client.pretendConnected(true);
    int result = -1;
    std::string out = captured([&] { result = client.ReadMeasurement(2, &value16, elementCallback); });
    EXPECT_EQ(result, RESULT_REFUSED);
    EXPECT_EQ(out, "readNetworkDictCallback() failed to start request (status 255)\n");
    EXPECT_TRUE(sdoFlagFree());

    uint8_t serial[13] = {};
    out = captured([&] { result = client.WriteSNNumber(serial, domainCallback); });
    EXPECT_EQ(result, RESULT_REFUSED);
    EXPECT_EQ(out, "writeNetworkDict() failed to start request (status 255)\n");
    EXPECT_TRUE(sdoFlagFree());
}

TEST_F(RequestRefusal, MissingStorageIsRefusedWithFour) {
    client.pretendConnected(true);
    int result = -1;
    std::string out = captured([&] { result = client.ReadMachineType(nullptr, domainCallback); });
    EXPECT_EQ(result, RESULT_INVALID);
    EXPECT_EQ(out, "No value given\n");
    EXPECT_TRUE(sdoFlagFree());
}

TEST_F(RequestRefusal, StackHooksSwitchBusAccess) {
    client.pretendConnected(false);
    canopen::NodeData& node = detail::localNode();
    log::setLevel(1);

    EXPECT_EQ(captured([&] { node.hooks.operational(&node); }), "NodeOperational\n");
    int result = -1;
    captured([&] { result = client.ReadInput(1, &value16, elementCallback); });
    EXPECT_EQ(result, RESULT_REFUSED) << "with the bus accessible the request reaches the stack";

    EXPECT_EQ(captured([&] { node.hooks.stopped(&node); }), "NodeStopped\n");
    captured([&] { result = client.ReadInput(1, &value16, elementCallback); });
    EXPECT_EQ(result, RESULT_BUS_NOT_ACCESSIBLE);
}

// Transfer starts that cannot reach the machine come back refused, with no callback and the
// one-operation flag free, so that the caller may start again.
TEST_F(RequestRefusal, TransferStartsThatCannotBeginAreRefused) {
    client.pretendConnected(true);
    unsigned char percent = 99;
    EXPECT_EQ(client.StartBlockTransfer("file", 1, 256, nullptr), RESULT_INVALID);
    EXPECT_EQ(client.StartBlockTransfer(
                  nullptr, 1, 256, [](int, uint32_t) { ++g_callbacks; }, 7),
              RESULT_INVALID);
    EXPECT_NE(client.StartBlockTransfer("file", 1, 256, [](int, uint32_t) { ++g_callbacks; }), RESULT_OK)
        << "the bus is not accessible: the first control record cannot go";
    EXPECT_EQ(client.GetBlockTransferProgress(&percent), 0);
    EXPECT_EQ(percent, 0);
    percent = 99;
    EXPECT_EQ(client.StartFirmwareUpdate("image.hex", nullptr), RESULT_INVALID);
    EXPECT_EQ(client.StartFirmwareUpdate("no-such-image.hex", [](int, int) { ++g_callbacks; }), RESULT_INVALID);
    EXPECT_EQ(client.GetFirmwareUpdateProgress(&percent), 7) << "a refused start leaves the failed state";
    EXPECT_EQ(percent, 0);
    EXPECT_EQ(g_callbacks, 0);
    EXPECT_TRUE(sdoFlagFree());
}

}  // namespace
}  // namespace CommDiag::test
