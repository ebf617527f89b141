// The LSS slave: mode switching, identification, node id and bit-rate configuration.
#include "stack_fixture.h"

#include "canopen/byte_order.h"
#include "canopen/lss.h"
#include "canopen/nmt.h"
#include "canopen/node_state.h"

#include <cstring>

namespace canopen_test {
namespace {

using namespace canopen;

constexpr uint32_t kVendor = 0x000000AB;
constexpr uint32_t kProduct = 0x00001234;
constexpr uint32_t kRevision = 0x01030100;
constexpr uint32_t kSerial = 0x00BC614E;

CanMessage lss(uint8_t command, std::initializer_list<uint8_t> rest = {}) {
    CanMessage m = frame(0x7E5, {command});
    for (uint8_t b : rest) m.data[m.len++] = b;
    m.len = 8;
    return m;
}

CanMessage lss32(uint8_t command, uint32_t value) {
    CanMessage m = lss(command);
    canopen::put32(m.data + 1, value);
    return m;
}

int g_stores = 0;
void onStore(NodeData*) { ++g_stores; }

class LssTest : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        g_stores = 0;
        {
            StackLockGuard lock;
            OdValues& v = node->od.values;
            v.identity[0] = kVendor;
            v.identity[1] = kProduct;
            v.identity[2] = kRevision;
            v.identity[3] = kSerial;
        }
        setState(Initialisation);
        clearSent();
    }
    // The answers on 0x7E4 since the last clear.
    std::vector<CanMessage> answers() {
        std::vector<CanMessage> found;
        for (const CanMessage& m : sent())
            if (m.cobId == 0x7E4) found.push_back(m);
        return found;
    }
    void expectOneAnswer(std::initializer_list<uint8_t> bytes) {
        const auto found = answers();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].len, 8);
        uint8_t expected[8]{};
        std::copy(bytes.begin(), bytes.end(), expected);
        EXPECT_EQ(std::memcmp(found[0].data, expected, 8), 0)
            << "got " << std::hex << int(found[0].data[0]) << " " << int(found[0].data[1]) << " "
            << int(found[0].data[2]) << " " << int(found[0].data[3]) << " " << int(found[0].data[4]);
        clearSent();
    }
    void enterConfiguration() {
        receive(lss(0x04, {1}));
        StackLockGuard lock;
        ASSERT_EQ(node->lss.mode, kLssConfigurationMode);
    }
    uint8_t pendingNodeId() {
        StackLockGuard lock;
        return node->pendingNodeId;
    }
};

TEST_F(LssTest, SwitchModeGlobalEntersConfigurationWithoutAnswer) {
    receive(lss(0x5E));  // inquiries need configuration mode
    EXPECT_TRUE(answers().empty());
    enterConfiguration();
    EXPECT_TRUE(answers().empty());
    receive(lss(0x5E));
    expectOneAnswer({0x5E, 1});
}

TEST_F(LssTest, InquireIdentityAnswersEachFieldOf0x1018) {
    enterConfiguration();
    receive(lss(0x5A));
    expectOneAnswer({0x5A, 0xAB, 0, 0, 0});
    receive(lss(0x5B));
    expectOneAnswer({0x5B, 0x34, 0x12, 0, 0});
    receive(lss(0x5C));
    expectOneAnswer({0x5C, 0x00, 0x01, 0x03, 0x01});
    receive(lss(0x5D));
    expectOneAnswer({0x5D, 0x4E, 0x61, 0xBC, 0x00});
}

TEST_F(LssTest, SwitchModeSelectiveWithAllFourFieldsEntersConfiguration) {
    receive(lss32(0x40, kVendor));
    receive(lss32(0x41, kProduct));
    receive(lss32(0x42, kRevision));
    EXPECT_TRUE(answers().empty());
    receive(lss32(0x43, kSerial));
    expectOneAnswer({0x44});
    StackLockGuard lock;
    EXPECT_EQ(node->lss.mode, kLssConfigurationMode);
    EXPECT_EQ(node->pendingNodeId, 1);
}

TEST_F(LssTest, SwitchModeSelectiveWithOneWrongFieldStartsOver) {
    receive(lss32(0x40, kVendor));
    receive(lss32(0x41, kProduct + 1));
    receive(lss32(0x42, kRevision));
    receive(lss32(0x43, kSerial));
    EXPECT_TRUE(answers().empty());
    receive(lss32(0x40, kVendor));
    receive(lss32(0x41, kProduct));
    receive(lss32(0x42, kRevision));
    receive(lss32(0x43, kSerial));
    expectOneAnswer({0x44});
}

TEST_F(LssTest, ConfigureNodeIdAcceptsValidIdsAndRefusesOthers) {
    enterConfiguration();
    receive(lss(0x11, {5}));
    expectOneAnswer({0x11, 0});
    EXPECT_EQ(pendingNodeId(), 5);
    receive(lss(0x11, {0x80}));
    expectOneAnswer({0x11, 1});
    EXPECT_EQ(pendingNodeId(), 5);
    receive(lss(0x11, {0xFF}));
    expectOneAnswer({0x11, 0});
    EXPECT_EQ(pendingNodeId(), 0xFF);
}

TEST_F(LssTest, ConfigurationCommandsOutsideConfigurationModeAreIgnored) {
    receive(lss(0x11, {5}));
    receive(lss(0x13, {0, 3}));
    receive(lss(0x17));
    receive(lss(0x5A));
    EXPECT_TRUE(answers().empty());
    EXPECT_EQ(pendingNodeId(), 1);
}

TEST_F(LssTest, ConfigureBitTimingTakesTableIndexesUpTo8) {
    enterConfiguration();
    receive(lss(0x13, {0, 3}));
    expectOneAnswer({0x13, 0});
    {
        StackLockGuard lock;
        EXPECT_STREQ(node->lss.baudRate, "250K");
    }
    receive(lss(0x13, {0, 9}));
    expectOneAnswer({0x13, 0xFF});
    StackLockGuard lock;
    EXPECT_STREQ(node->lss.baudRate, "250K");
}

TEST_F(LssTest, ActivateBitTimingBeforeConfiguringOneDoesNothing) {
    enterConfiguration();
    receive(lss(0x15, {100, 0}));
    StackLockGuard lock;
    EXPECT_EQ(node->lss.switchState, 0);
    EXPECT_EQ(node->port, port);
}

TEST_F(LssTest, BitRateSwitchKeepsTheNodeSilentForTwoDelays) {
    uint16_t producerTime = 50;
    {
        StackLockGuard lock;
        uint32_t size = 2;
        writeLocalObject(node.get(), 0x1017, 0, &producerTime, &size, true);
    }
    enterConfiguration();
    receive(lss(0x13, {0, 3}));
    receive(lss(0x15, {0xF4, 0x01}));  // 500 ms
    clearSent();

    advance(499);
    receive(remoteFrame(0x701));  // a node-guard request would be answered
    receive(lss(0x5E));
    EXPECT_TRUE(sent().empty());
    char last[8] = {};
    EXPECT_EQ(driver.baudRateChanges(bus.c_str(), last, sizeof last), 0);
    advance(1);
    EXPECT_EQ(driver.baudRateChanges(bus.c_str(), last, sizeof last), 1);
    EXPECT_STREQ(last, "250K");
    advance(499);
    EXPECT_TRUE(sent().empty());
    advance(1);
    advance(50);
    EXPECT_FALSE(sent().empty());  // back on the bus at the new rate
    EXPECT_EQ(sent()[0].cobId, 0x701);
    StackLockGuard lock;
    EXPECT_EQ(node->lss.switchState, 0);
    EXPECT_EQ(node->port, port);
}

TEST_F(LssTest, SecondActivationDuringASwitchIsIgnored) {
    enterConfiguration();
    receive(lss(0x13, {0, 4}));
    receive(lss(0x15, {100, 0}));
    receive(lss(0x15, {100, 0}));
    advance(200);
    StackLockGuard lock;
    EXPECT_EQ(node->port, port);
}

TEST_F(LssTest, ZeroSwitchDelayStillEndsTheSwitch) {
    enterConfiguration();
    receive(lss(0x13, {0, 2}));
    receive(lss(0x15, {0, 0}));
    advance(10);
    StackLockGuard lock;
    EXPECT_EQ(node->port, port);
    EXPECT_EQ(node->lss.switchState, 0);
}

TEST_F(LssTest, ClosingThePortDuringASwitchClosesTheBoard) {
    enterConfiguration();
    receive(lss(0x13, {0, 2}));
    receive(lss(0x15, {100, 0}));
    driver.setCloseResult(bus.c_str(), 5);
    EXPECT_EQ(closeCanPort(node.get()), 5);
    EXPECT_EQ(driver.openBoards(bus.c_str()), 0);
    advance(300);
    StackLockGuard lock;
    EXPECT_EQ(node->port, nullptr);
}

TEST_F(LssTest, StoreConfigurationAnswersWhetherAStoreHookIsInstalled) {
    enterConfiguration();
    receive(lss(0x17));
    expectOneAnswer({0x17, 1});
    {
        StackLockGuard lock;
        node->lss.storeConfiguration = onStore;
    }
    receive(lss(0x17));
    expectOneAnswer({0x17, 0});
    EXPECT_EQ(g_stores, 1);
}

TEST_F(LssTest, IdentifyRemoteSlaveWithinBoundsAnswers0x4F) {
    receive(lss32(0x46, kVendor));
    receive(lss32(0x47, kProduct));
    receive(lss32(0x48, kRevision));
    receive(lss32(0x49, kRevision + 5));
    receive(lss32(0x4A, 0));
    EXPECT_TRUE(answers().empty());
    receive(lss32(0x4B, kSerial));
    expectOneAnswer({0x4F});
}

TEST_F(LssTest, IdentifyRemoteSlaveOutOfBoundsStartsOver) {
    receive(lss32(0x46, kVendor));
    receive(lss32(0x47, kProduct));
    receive(lss32(0x48, kRevision + 1));  // low bound above the revision
    receive(lss32(0x49, kRevision));
    receive(lss32(0x4A, kSerial));
    receive(lss32(0x4B, kSerial));
    EXPECT_TRUE(answers().empty());
}

TEST_F(LssTest, IdentifyNonConfiguredSlaveAnswersOnlyWithoutANodeId) {
    receive(lss(0x4C));
    EXPECT_TRUE(answers().empty());
    {
        StackLockGuard lock;
        setNodeId(node.get(), 0xFF);
    }
    receive(lss(0x4C));
    expectOneAnswer({0x50});
}

TEST_F(LssTest, LeavingConfigurationAppliesANewNodeIdOnlyWhenUnconfigured) {
    enterConfiguration();
    receive(lss(0x11, {5}));
    receive(lss(0x04, {0}));
    clearSent();
    {
        StackLockGuard lock;
        EXPECT_EQ(getNodeId(node.get()), 1);  // waits for the next communication reset
        EXPECT_EQ(node->lss.mode, kLssOperationMode);
    }
    receive(frame(0x000, {kNmtResetCommunication, 0}));
    StackLockGuard lock;
    EXPECT_EQ(getNodeId(node.get()), 5);
}

TEST_F(LssTest, LeavingConfigurationBootsAnUnconfiguredNodeWithItsNewId) {
    {
        StackLockGuard lock;
        setNodeId(node.get(), 0xFF);
    }
    enterConfiguration();
    receive(lss(0x11, {5}));
    clearSent();
    receive(lss(0x04, {0}));
    ASSERT_FALSE(sent().empty());
    EXPECT_EQ(sent()[0].cobId, 0x705);  // boot-up
    EXPECT_EQ(sent()[0].data[0], 0x00);
    StackLockGuard lock;
    EXPECT_EQ(getNodeId(node.get()), 5);
    EXPECT_EQ(node->nodeState, Pre_operational);
}

TEST_F(LssTest, LssIsOffWhileOperationalAndShortFramesAreIgnored) {
    receive(frame(0x000, {kNmtStart, 0}));
    receive(lss(0x04, {1}));
    {
        StackLockGuard lock;
        EXPECT_EQ(node->lss.mode, kLssOperationMode);
    }
    receive(frame(0x000, {kNmtEnterPreOperational, 0}));
    receive(frame(0x7E5, {0x04, 1}));
    StackLockGuard lock;
    EXPECT_EQ(node->lss.mode, kLssOperationMode);
}

TEST_F(LssTest, ModeIsKeptAcrossNmtStateChanges) {
    enterConfiguration();
    receive(frame(0x000, {kNmtStop, 0}));
    receive(lss(0x5E));
    expectOneAnswer({0x5E, 1});
}

}  // namespace
}  // namespace canopen_test
