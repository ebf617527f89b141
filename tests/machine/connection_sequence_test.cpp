// The completion callbacks that carry the connection and identification sequences.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_client.h"
#include "fake_clock.h"
#include "machine_link/orbel_callbacks.h"
#include "machine_link/orbel_commdiag.h"
#include "machine_link/orbel_reconnect.h"
#include "orbel_conv/orbel_conv.h"

namespace {

using CommDiag::RESULT_BUS_NOT_ACCESSIBLE;
using CommDiag::RESULT_CONNECTION_ABORTED;
using CommDiag::RESULT_FAILED;
using CommDiag::RESULT_NO_OBJECT;
using CommDiag::RESULT_TIMEOUT;
using orbeltest::FakeClient;

class ConnectionSequence : public ::testing::Test {
protected:
    void SetUp() override {
        ORBEL_CommDiag::setClientForTesting(&client);
        reconnectAtOnce();
        conv = ORBEL_Conv::getInstance();
    }
    void TearDown() override {
        ORBEL_CancelReconnect();  // the reconnect thread waits on the clock, which goes with the test
        ORBEL_CommDiag::setClientForTesting(nullptr);
    }
    // The machine's restart time passes at once; or it does not pass until the test ends it.
    void reconnectAtOnce() {
        clock.setWaitHook([] {});
    }
    void reconnectNever() { clock.setWaitHook(nullptr); }

    void completeElement(int result, uint32_t value) {
        ASSERT_NE(client.last().element, nullptr);
        std::memcpy(client.last().data, &value, sizeof value);
        client.last().element(result, 3, 1, client.last().data);
    }
    void completeDomain(int result) {
        ASSERT_NE(client.last().domain, nullptr);
        client.last().domain(result, 8, 1, client.last().data, 0);
    }

    test_support::FakeClock clock;
    FakeClient client;
    ORBEL_Conv* conv = nullptr;
};

TEST_F(ConnectionSequence, ConnectedMachineKeepsItsModeWhenTheHostAskedNothing) {
    StartConnection_callback(0);
    EXPECT_TRUE(conv->isConnected());
    EXPECT_TRUE(conv->isBusy());
    EXPECT_EQ(client.last().op, "ReadMachineMode");
    completeElement(0, 2);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(client.calls.size(), 1u) << "no write when the mode is as wanted";
    EXPECT_EQ(conv->getMachineMode(), 2u);
}

TEST_F(ConnectionSequence, HostModeIsWrittenWhenTheMachineDiffers) {
    conv->setMachineMode(0x02);  // reads the mode first
    completeElement(0, 0);
    EXPECT_TRUE(conv->isBusy());
    EXPECT_EQ(client.last().op, "WriteMachineMode");
    client.last().element(0, 3, 1, nullptr);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
}

// The change goes to the object the mode was read from; each object has its own trace lines.
TEST_F(ConnectionSequence, ModeChangeGoesToTheObjectTheModeWasReadFrom) {
    ::testing::internal::CaptureStdout();
    conv->setMachineMode(0x02);
    completeElement(0, 0);
    EXPECT_EQ(client.last().op, "WriteMachineMode");
    client.last().element(0, 3, 1, nullptr);
    conv->setModuleModeObjectUsed();
    conv->setMachineMode(0x00);
    EXPECT_EQ(client.last().op, "ReadModuleMode");
    client.nextResult = 18;  // the write cannot start
    completeElement(0, 5);
    EXPECT_EQ(client.last().op, "WriteModuleMode");
    EXPECT_TRUE(conv->isError());
    const std::string trace = ::testing::internal::GetCapturedStdout();
    for (const char* line : {"ReadMachineMode_callback(): machine mode successfully read 0x00\n",
                             "ReadMachineMode_callback(): machine mode change requested\n",
                             "ReadMachineMode_callback(): module mode successfully read 0x05\n",
                             "ReadMachineMode_callback(): unable to request module mode!\n"})
        EXPECT_NE(trace.find(line), std::string::npos) << line;
}

TEST_F(ConnectionSequence, MachineWithoutModeObjectSwitchesToTheModuleModeForGood) {
    StartConnection_callback(0);
    completeElement(RESULT_NO_OBJECT, 0);
    EXPECT_TRUE(conv->isModuleModeObjectUsed());
    EXPECT_TRUE(conv->isBusy());
    EXPECT_EQ(client.last().op, "ReadModuleMode");
    completeElement(0, 1);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(ORBEL_CommDiag::ReadMachineMode(), 0);
    EXPECT_EQ(client.last().op, "ReadModuleMode") << "later reads go to 0x2001 directly";
}

TEST_F(ConnectionSequence, BootloaderAnswersBothModeReadsWithNoObjectAndEndsIdle) {
    StartConnection_callback(0);
    completeElement(RESULT_NO_OBJECT, 0);
    completeElement(RESULT_NO_OBJECT, 0);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_TRUE(conv->isConnected());
}

TEST_F(ConnectionSequence, OtherModeReadFailuresEndInError) {
    StartConnection_callback(0);
    completeElement(RESULT_TIMEOUT, 0);
    EXPECT_TRUE(conv->isError());
}

TEST_F(ConnectionSequence, FailedConnectionResetsTheMachineState) {
    conv->setModuleModeObjectUsed();
    conv->setConnected();
    StartConnection_callback(RESULT_CONNECTION_ABORTED);
    EXPECT_FALSE(conv->isConnected());
    EXPECT_FALSE(conv->isModuleModeObjectUsed());
    EXPECT_TRUE(conv->isError());
}

TEST_F(ConnectionSequence, ModeReadThatCannotStartIsAnError) {
    client.nextResult = 18;
    StartConnection_callback(0);
    EXPECT_TRUE(conv->isConnected());
    EXPECT_TRUE(conv->isError());
}

TEST_F(ConnectionSequence, IdentificationReadsStoreWhatArrivedAndEndIdle) {
    ASSERT_EQ(ORBEL_CommDiag::ReadSwVersion(), 0);
    auto* version = static_cast<uint8_t*>(client.last().data);
    version[0] = 1;  // patch
    version[1] = 7;  // minor
    version[2] = 2;  // major
    completeDomain(0);
    EXPECT_TRUE(conv->isSwVersionRead());
    EXPECT_EQ(conv->getSwVersion()[2], 2);

    ASSERT_EQ(ORBEL_CommDiag::ReadMachineType(), 0);
    auto* type = static_cast<CommDiag::MachineTypeRecord*>(client.last().data);
    type->machineType = 7;
    type->machineNumber = 9;
    type->machineVariant = 1;
    completeDomain(0);
    EXPECT_TRUE(conv->isMachineIdentified());
    EXPECT_EQ(conv->getMachineNumber(), 9);
    EXPECT_EQ(conv->getOpHoursCounterReqAddr(), 620) << "Kestrel chosen";
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
}

TEST_F(ConnectionSequence, BootloaderIdentificationGivesVersionZeroAndTheBootloaderRecord) {
    ASSERT_EQ(ORBEL_CommDiag::ReadSwVersion(), 0);
    completeDomain(RESULT_NO_OBJECT);
    EXPECT_TRUE(conv->isSwVersionRead());
    EXPECT_EQ(conv->getSwVersion()[0] + conv->getSwVersion()[1] + conv->getSwVersion()[2], 0);
    ASSERT_EQ(ORBEL_CommDiag::ReadMachineType(), 0);
    completeDomain(RESULT_NO_OBJECT);
    EXPECT_EQ(conv->getMachineTypeRecord().type, 4);
    EXPECT_EQ(conv->getMachineNumber(), 0);
    EXPECT_TRUE(conv->isMachineIdentified());
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
}

TEST_F(ConnectionSequence, AFailedSerialNumberReadStillCountsAsRead) {
    ASSERT_EQ(ORBEL_CommDiag::ReadSNNumber(), 0);
    completeDomain(RESULT_TIMEOUT);
    EXPECT_TRUE(conv->isSerialNumberRead());
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
}

// The connection starts again on the link's reconnect thread, not inside the close's callback
// (which may run on a stack thread holding the stack lock); the converter is busy meanwhile.
TEST_F(ConnectionSequence, ClosedConnectionIsStartedAgain) {
    reconnectNever();
    const size_t before = client.calls.size();
    CloseConnection_callback(0);
    EXPECT_TRUE(conv->isBusy());
    EXPECT_EQ(client.calls.size(), before) << "no connection started inside the callback";
    ORBEL_CancelReconnect();
    reconnectAtOnce();
    CloseConnection_callback(0);
    ORBEL_FinishReconnectForTesting();
    EXPECT_EQ(client.last().op, "StartConnection");
    EXPECT_TRUE(conv->isBusy());
    client.nextResult = 3;
    CloseConnection_callback(0);
    ORBEL_FinishReconnectForTesting();
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    CloseConnection_callback(RESULT_FAILED);
    EXPECT_TRUE(conv->isError());
}

TEST_F(ConnectionSequence, OutputWritesEndIdleOrInError) {
    ASSERT_EQ(ORBEL_CommDiag::WriteOutput(1, 5), 0);
    EXPECT_EQ(*static_cast<uint8_t*>(client.last().data), 5);
    client.last().element(0, 1, 1, client.last().data);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    ASSERT_EQ(ORBEL_CommDiag::WriteOutput(1, 5), 0);
    client.last().element(RESULT_BUS_NOT_ACCESSIBLE, 1, 1, client.last().data);
    EXPECT_TRUE(conv->isError());
}

TEST(RequestLayer, ValueTypesAreCheckedPerOperation) {
    FakeClient client;
    ORBEL_CommDiag::setClientForTesting(&client);
    EXPECT_EQ(ORBEL_CommDiag::ReadInput(0, 1), 1);
    EXPECT_EQ(ORBEL_CommDiag::ReadInput(8, 1), 1);
    EXPECT_EQ(ORBEL_CommDiag::ReadInput(7, 1), 1);
    EXPECT_EQ(ORBEL_CommDiag::ReadMeasurement(7, 1), 0);
    EXPECT_EQ(client.last().dataType, "float*");
    EXPECT_EQ(ORBEL_CommDiag::ReadMachineParameter(7, 1), 1);
    EXPECT_EQ(ORBEL_CommDiag::WriteOpHoursCounter(4, 1, 5), 1);
    EXPECT_EQ(ORBEL_CommDiag::WriteOpHoursCounter(3, 1, 5), 0);
    EXPECT_EQ(client.calls.size(), 2u) << "refused types start nothing";
    EXPECT_EQ(ORBEL_CommDiag::WriteMachineParameter(2, 4, 0x12345), 0);
    EXPECT_EQ(*static_cast<uint16_t*>(client.last().data), 0x2345) << "cut to the type's width";
    EXPECT_EQ(client.last().subIndex, 4);
    ORBEL_CommDiag::setClientForTesting(nullptr);
}

TEST(RequestLayer, ObjectIndexChoosesInputOrMeasurement) {
    FakeClient client;
    ORBEL_CommDiag::setClientForTesting(&client);
    EXPECT_EQ(ORBEL_CommDiag::CallStackFnBasedOnObjId(1, 0x5102, 1), 1);
    EXPECT_TRUE(client.calls.empty());
    EXPECT_EQ(ORBEL_CommDiag::CallStackFnBasedOnObjId(1, 0x5103, 1), 0);
    EXPECT_EQ(client.last().op, "ReadInput");
    EXPECT_EQ(ORBEL_CommDiag::CallStackFnBasedOnObjId(7, 0x5206, 3), 0);
    EXPECT_EQ(client.last().op, "ReadMeasurement");
    EXPECT_EQ(client.last().dataType, "float*");
    EXPECT_EQ(ORBEL_CommDiag::CallStackFnBasedOnObjId(1, 0x5207, 1), 1);
    EXPECT_EQ(ORBEL_CommDiag::CanObjIdToType(0x3003), 4);
    EXPECT_EQ(ORBEL_CommDiag::CanObjIdToType(0x4006), 7);
    EXPECT_EQ(ORBEL_CommDiag::CanObjIdToType(0x5000), 0);
    ORBEL_CommDiag::setClientForTesting(nullptr);
}

}  // namespace
