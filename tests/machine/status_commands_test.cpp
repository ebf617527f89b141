// The status, mode and boot-status commands, driven through the exports as the host does.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_client.h"
#include "host_session.h"
#include "machine_link/orbel_callbacks.h"
#include "machine_link/orbel_commdiag.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_pkghandler/orbel_pkghandler.h"

namespace {

using orbeltest::exchange;
using orbeltest::FakeClient;

class StatusCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ORBEL_CommDiag::setClientForTesting(&client);
        char port[] = "\\\\.\\COM1";
        ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
        conv = ORBEL_Conv::getInstance();
    }
    void TearDown() override { ORBEL_CommDiag::setClientForTesting(nullptr); }

    std::vector<uint8_t> ask(uint8_t command, uint8_t state = 0, uint8_t b4 = 0, uint8_t b5 = 0) {
        const auto e = exchange({0xAA, 0x05, command, state, b4, b5, 0x00});
        return e.answer;
    }
    static uint8_t state(const std::vector<uint8_t>& answer) { return answer.size() > 3 ? answer[3] : 0xEE; }

    FakeClient client;
    ORBEL_Conv* conv = nullptr;
};

TEST_F(StatusCommands, ModuleStatusWithoutAMachineIsNormalOperation) {
    EXPECT_EQ(ask(0x01), (std::vector<uint8_t>{0xAA, 0x06, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x4D}));
}

TEST_F(StatusCommands, StatusByteFollowsTheModeObjectInUse) {
    conv->targetMachineMode(2);
    EXPECT_EQ(ask(0x01)[4], 0x10);
    conv->setModuleModeObjectUsed();
    conv->targetModuleMode(6);
    EXPECT_EQ(ask(0x01)[4], 0x20);
    conv->targetModuleMode(3);
    EXPECT_EQ(ask(0x01)[4], 0x02);
    conv->targetModuleMode(9);
    EXPECT_EQ(ask(0x01)[4], 0x00);
}

TEST_F(StatusCommands, BootStatusRequestsAndAnswers) {
    EXPECT_EQ(state(ask(0x03, 1, 0x00, 0x04)), PROTO_STATE_FAILED) << "no machine connected";
    conv->setConnected();
    EXPECT_EQ(state(ask(0x03, 1, 0x00, 0x04)), PROTO_STATE_DONE);
    auto answer = ask(0x04);
    ASSERT_EQ(answer.size(), 11u);
    EXPECT_EQ(state(answer), PROTO_STATE_DONE);
    EXPECT_EQ(answer[4], 1);
    EXPECT_EQ(answer[8], 8);
    EXPECT_EQ(state(ask(0x03, 1, 0x01, 0x04)), PROTO_STATE_FAILED) << "low byte must be 0";
    EXPECT_EQ(state(ask(0x03, 1, 0x00, 0x05)), PROTO_STATE_FAILED);
    EXPECT_EQ(state(ask(0x03, 0, 0x00, 0x02)), PROTO_STATE_FAILED) << "state byte must be 1";
    EXPECT_EQ(state(ask(0x03, 1, 0x00, 0x00)), PROTO_STATE_DONE);
    conv->targetMachineMode(1);
    EXPECT_EQ(ask(0x04)[8], 1) << "boot status cleared: test mode shows as 1";
    conv->setMachineMode(0x02);
    conv->setIdle();
    EXPECT_EQ(ask(0x04)[7], 0x10);
}

TEST_F(StatusCommands, ConfigurationAnswersNeedAConnection) {
    EXPECT_EQ(state(ask(0x0F)), PROTO_STATE_FAILED);
    auto pick = ask(0x10);
    EXPECT_EQ(pick.size(), 29u);
    EXPECT_EQ(state(pick), PROTO_STATE_FAILED);
    conv->setConnected();
    EXPECT_EQ(state(ask(0x0F)), PROTO_STATE_DONE);
    pick = ask(0x10);
    EXPECT_EQ(state(pick), PROTO_STATE_DONE);
    EXPECT_EQ(pick[1], 27);
    EXPECT_EQ(pick[25], 0x10);
    EXPECT_EQ(state(ask(0xFE)), PROTO_STATE_DONE);
}

TEST_F(StatusCommands, StandardServiceModeConnectsThenReadsTheSerialNumber) {
    auto answer = ask(0xE6);
    EXPECT_EQ(state(answer), PROTO_STATE_BUSY);
    ASSERT_EQ(client.last().op, "StartConnection");
    EXPECT_TRUE(conv->isBusy());
    EXPECT_EQ(state(ask(0xE6)), PROTO_STATE_BUSY) << "answered busy while the connection runs";
    EXPECT_EQ(client.calls.size(), 1u);

    client.last().connection(0);  // connected: the mode is read
    uint32_t mode = 0;
    std::memcpy(client.last().data, &mode, sizeof mode);
    client.last().element(0, 3, 1, client.last().data);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);

    EXPECT_EQ(state(ask(0xE6)), PROTO_STATE_BUSY);
    ASSERT_EQ(client.last().op, "ReadSNNumber");
    client.last().domain(0, 8, 1, client.last().data, 13);
    EXPECT_EQ(state(ask(0xE6)), PROTO_STATE_DONE);
}

TEST_F(StatusCommands, RefusedConnectionAnswersFailedAndLeavesTheConverterInError) {
    client.nextResult = 20;
    EXPECT_EQ(state(ask(0xE6)), PROTO_STATE_FAILED);
    EXPECT_TRUE(conv->isError());
    client.nextResult = 0;
    EXPECT_EQ(state(ask(0xE6)), PROTO_STATE_BUSY) << "the next package is handled normally";
}

TEST_F(StatusCommands, IdentificationReadsVersionThenTypeAndReportsThem) {
    EXPECT_EQ(state(ask(0xFA)), PROTO_STATE_FAILED) << "not connected";
    conv->setConnected();
    EXPECT_EQ(state(ask(0xFA)), PROTO_STATE_BUSY);
    ASSERT_EQ(client.last().op, "ReadSwVersion");
    auto* version = static_cast<uint8_t*>(client.last().data);
    version[0] = 1;
    version[1] = 7;
    version[2] = 2;
    client.last().domain(0, 8, 1, client.last().data, 3);
    EXPECT_EQ(state(ask(0xFA)), PROTO_STATE_BUSY);
    ASSERT_EQ(client.last().op, "ReadMachineType");
    auto* type = static_cast<CommDiag::MachineTypeRecord*>(client.last().data);
    type->machineType = 3;
    type->machineNumber = 9;
    client.last().domain(0, 8, 1, client.last().data, 12);
    EXPECT_EQ(state(ask(0xFA)), PROTO_STATE_DONE);

    auto answer = ask(0xFB);
    ASSERT_EQ(answer.size(), 26u);
    EXPECT_EQ(answer[1], 24);
    EXPECT_EQ(answer[5], 1);
    EXPECT_EQ(answer[6], 0x0D);
    EXPECT_EQ(answer[7], 0x01);
    EXPECT_EQ(answer[8], 0x2F) << "major 2, minor above 5 shown as F";

    uint8_t revision[3];
    EXPECT_EQ(ORBEL_ConvGetSWRevision(2, revision), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvGetSWRevision(3, revision), ORBEL_OK);
    EXPECT_EQ(revision[0], 2);
    EXPECT_EQ(revision[1], 7);
    EXPECT_EQ(revision[2], 1);
}

TEST_F(StatusCommands, IdentificationBytesPerMachineNumber) {
    conv->setConnected();
    const uint8_t version[3] = {0, 3, 2};
    conv->storeSwVersion(version);
    const struct {
        int number;
        uint8_t family, model;
    } rows[] = {{0, 0x0A, 0x00}, {1, 0x0A, 0x08}, {2, 0x0A, 0x09}, {3, 0x0A, 0x0A}, {4, 0x0A, 0x0B},
                {5, 0x0A, 0x0C}, {6, 0x0A, 0x0E}, {9, 0x0D, 0x01}, {7, 0x00, 0x00}};
    int type = 100;
    for (const auto& row : rows) {
        conv->setMachineType({type++, row.number, 0});
        const auto answer = ask(0xFB);
        EXPECT_EQ(answer[6], row.family) << row.number;
        EXPECT_EQ(answer[7], row.model) << row.number;
        EXPECT_EQ(answer[8], 0x23);
    }
}

TEST_F(StatusCommands, DeInitForgetsTheConnectionOfTheDestroyedClient) {
    conv->setConnected();
    conv->setModuleModeObjectUsed();
    EXPECT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    EXPECT_FALSE(conv->isConnected());
    EXPECT_FALSE(conv->isModuleModeObjectUsed());
    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    EXPECT_EQ(state(ask(0xE6)), PROTO_STATE_BUSY);
    EXPECT_EQ(client.last().op, "StartConnection") << "the next 0xE6 connects the new client";
}

}  // namespace
