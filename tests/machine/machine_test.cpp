// ORBEL_Machine: identification, modes and feature requests.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_client.h"
#include "machine_link/orbel_callbacks.h"
#include "machine_link/orbel_commdiag.h"
#include "orbel_conv/orbel_conv.h"

namespace {

using orbeltest::FakeClient;

class Machine : public ::testing::Test {
protected:
    void SetUp() override {
        ORBEL_CommDiag::setClientForTesting(&client);
        conv = ORBEL_Conv::getInstance();
    }
    void TearDown() override { ORBEL_CommDiag::setClientForTesting(nullptr); }

    std::vector<uint8_t> answerBytes(ORBEL_ConvBuffer& buffer) {
        std::vector<uint8_t> bytes(buffer.getByteCount());
        for (uint32_t i = 0; i < bytes.size(); ++i) buffer.readByte(i, &bytes[i]);
        return bytes;
    }

    FakeClient client;
    ORBEL_Conv* conv = nullptr;
};

TEST_F(Machine, MachineNumberChoosesTheModelWhenTheTypeChanges) {
    EXPECT_FALSE(conv->isMachineIdentified());
    conv->setMachineType({0, 5, 0});
    EXPECT_FALSE(conv->isMachineIdentified()) << "type 0 equals the initial type: no model chosen";
    EXPECT_EQ(conv->getParameterAddrMax(), 0u);

    conv->setMachineType({1, 1, 0});
    EXPECT_TRUE(conv->isMachineIdentified());
    EXPECT_EQ(conv->getParameterAddrMax(), 255u);
    EXPECT_FALSE(conv->isSensorReq(280));

    conv->setMachineType({1, 6, 3});  // same type: the Wren model stays
    EXPECT_EQ(conv->getMachineNumber(), 6);
    EXPECT_EQ(conv->getMachineTypeRecord().variant, 3);
    EXPECT_FALSE(conv->isSensorReq(280));

    conv->setMachineType({2, 6, 0});
    EXPECT_TRUE(conv->isSensorReq(280)) << "Robin's sensor memory reaches 283";

    conv->setMachineType({3, 7, 0});
    EXPECT_FALSE(conv->isMachineIdentified());
    EXPECT_EQ(conv->getParameterAddrMax(), 0u);

    conv->setMachineType({4, 0, 0});
    EXPECT_TRUE(conv->isMachineIdentified()) << "the bootloader counts as identified";
    EXPECT_EQ(conv->getParameterAddrMax(), 0u);
}

TEST_F(Machine, HostModeRequestsPickTheObjectValueAndReadTheModeFirst) {
    EXPECT_TRUE(conv->setMachineMode(0x40));
    EXPECT_EQ(conv->getMachineMode(), 1u);
    EXPECT_EQ(client.last().op, "ReadMachineMode");
    conv->setModuleModeObjectUsed();
    EXPECT_TRUE(conv->setMachineMode(0x40));
    EXPECT_EQ(conv->getModuleMode(), 6u);
    EXPECT_EQ(client.last().op, "ReadModuleMode");
    EXPECT_TRUE(conv->setMachineMode(0x02));
    EXPECT_EQ(conv->getModuleMode(), 5u);
    EXPECT_TRUE(conv->setMachineMode(0x77));
    EXPECT_EQ(conv->getModuleMode(), 1u);
    client.nextResult = 18;
    EXPECT_FALSE(conv->setMachineMode(0x00));
}

TEST_F(Machine, BootloaderModeRequestKeepsNormalOperationAndSetsTheBootStatus) {
    conv->setMachineMode(0x02);
    EXPECT_TRUE(conv->setMachineMode(0x04));
    EXPECT_EQ(conv->getMachineMode(), 0u);
    const auto boot = conv->getBlockDownloadHandler().getBootStatus();
    EXPECT_EQ(boot.active, 1);
    EXPECT_EQ(boot.value, 4);
}

TEST_F(Machine, WithoutAHostRequestTheMachineKeepsItsMode) {
    EXPECT_EQ(conv->targetMachineMode(2), 2u);
    EXPECT_EQ(conv->getMachineMode(), 2u);
    conv->setMachineMode(0x00);
    EXPECT_EQ(conv->targetMachineMode(2), 0u) << "the host's mode is enforced";
    conv->resetMachineState();
    EXPECT_EQ(conv->targetMachineMode(1), 1u);
}

TEST_F(Machine, FeatureValuesArePackedLowByteFirstAtTheirAddress) {
    conv->setMachineType({1, 9, 0});  // Kestrel: 256 is a U16 over two bytes
    ASSERT_EQ(conv->startSensorReq(256, 3), 2);
    ASSERT_EQ(client.calls.size(), 1u);
    EXPECT_EQ(client.last().op, "ReadMeasurement");
    EXPECT_EQ(client.last().dataType, "uint16_t*");

    uint16_t value = 0x1234;
    client.last().element(0, 2, 1, &value);
    ASSERT_EQ(client.calls.size(), 2u) << "the next feature (258) is read";
    uint8_t byte = 0xAB;
    client.last().element(0, 1, 1, &byte);
    EXPECT_FALSE(conv->isBusy());

    ORBEL_ConvBuffer answer(64);
    const uint8_t zeros[20] = {};
    answer.writeBytes(20, zeros);
    conv->fillFeatReqBuf(253, 8, &answer, 10);  // 256 -> position 13, 258 -> 15
    const auto bytes = answerBytes(answer);
    EXPECT_EQ(bytes[13], 0x34);
    EXPECT_EQ(bytes[14], 0x12);
    EXPECT_EQ(bytes[15], 0xAB);
    EXPECT_EQ(bytes[12], 0);
    EXPECT_EQ(bytes[16], 0);
}

TEST_F(Machine, FloatsPackTheirIntegerPartAndSignedValuesTheirLowByte) {
    conv->setMachineType({1, 5, 0});  // Crane, table A
    ASSERT_EQ(conv->startSensorReq(259, 1), 2);
    float f = 12.7f;
    client.last().element(0, 7, 2, &f);
    ASSERT_EQ(conv->startSensorReq(264, 1), 2);
    int16_t i = -2;
    client.last().element(0, 5, 1, &i);

    ORBEL_ConvBuffer answer(64);
    const uint8_t zeros[20] = {};
    answer.writeBytes(20, zeros);
    conv->fillFeatReqBuf(264, 1, &answer, 4);
    EXPECT_EQ(answerBytes(answer)[4], 0xFE);

    ASSERT_EQ(conv->startSensorReq(259, 1), 2);
    client.last().element(0, 7, 2, &f);
    conv->fillFeatReqBuf(259, 1, &answer, 4);
    EXPECT_EQ(answerBytes(answer)[4], 12);
}

TEST_F(Machine, ShiftedRowsOrTheirBitsIntoTheirOwnByte) {
    conv->setMachineType({1, 5, 0});
    ASSERT_EQ(conv->startSensorReq(272, 1), 2);
    uint8_t first = 0x01;
    client.last().element(0, 1, 9, &first);
    uint8_t second = 0x01;
    client.last().element(0, 1, 11, &second);
    const auto& requests = conv->getFeatureRequests();
    EXPECT_EQ(requests.at(0).valueU8, 0x01);
    EXPECT_EQ(requests.at(1).valueU8, 0x04);
}

TEST_F(Machine, FeaturesAreReadInNumberOrderUntilTheListEnds) {
    conv->setMachineType({1, 5, 0});
    ASSERT_EQ(conv->startSensorReq(256, 22), 2);
    client.nextResult = 0;
    // Complete each read; after 15 the list is exhausted and the converter goes idle.
    for (int i = 0; i < 15; ++i) {
        uint32_t anything = 0;
        client.last().element(0, 3, 0, &anything);
    }
    EXPECT_EQ(client.calls.size(), 15u);
    EXPECT_FALSE(conv->runNextFeatureReq());
}

TEST_F(Machine, AFeatureReadThatCannotStartFailsTheSensorRequest) {
    conv->setMachineType({1, 5, 0});
    EXPECT_EQ(conv->startSensorReq(258, 1), 3) << "no row starts at 258";
    client.nextResult = 18;
    EXPECT_EQ(conv->startSensorReq(256, 1), 3);
}

TEST_F(Machine, SerialAndMaterialNumbersAreCopiedIntoAnswers) {
    uint8_t serial[13];
    for (int i = 0; i < 13; ++i) serial[i] = static_cast<uint8_t>(0xA0 + i);
    conv->storeSerialNumber(serial);
    EXPECT_TRUE(conv->isSerialNumberRead());
    ORBEL_ConvBuffer answer(64);
    const uint8_t zeros[20] = {};
    answer.writeBytes(20, zeros);
    conv->copySerialNumber(5, &answer, 4);
    const auto bytes = answerBytes(answer);
    EXPECT_EQ(bytes[4], 0xA0);
    EXPECT_EQ(bytes[8], 0xA4);
    EXPECT_EQ(bytes[9], 0);
}

}  // namespace
