// The machine models: legacy address maps, curve-data block ids, counters, commands and
// sensor tables.
#include <gtest/gtest.h>

#include "fake_client.h"
#include "machine/machinespecificdummy.h"
#include "machine/machinespecificheron.h"
#include "machine_link/orbel_commdiag.h"
#include "machine_link/orbel_linkrequests.h"
#include "orbel_conv/orbel_conv.h"

namespace {

using orbeltest::FakeClient;

// The models start their requests through the machine link, as the converter hands them in.
ORBEL_LinkRequests link;

// Kestrel's owner where a test does not look at it (the converter's own is created only where
// a test needs it, as it creates the client).
struct UnusedOwner : IMachineModelOwner {
    void setCurrentParameterRequest(uint32_t, uint32_t) override {}
    uint32_t getMainOpHoursCounter() const override { return 0; }
    void setMainOpHoursCounter(uint32_t) override {}
} unusedOwner;

class Models : public ::testing::Test {
protected:
    void SetUp() override { ORBEL_CommDiag::setClientForTesting(&client); }
    void TearDown() override { ORBEL_CommDiag::setClientForTesting(nullptr); }
    FakeClient client;
};

TEST(FamilyBase, BlockIdsFollowTheAddressRangesInOrder) {
    MachineSpecificCrane crane(link);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x5000), 0);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x5500), 3);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x5001), -1);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x57FF), -1);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x4FFF), 2);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x2800), 2);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x27FF), -1);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x200), 1);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x240), 1);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x241), -1);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x300), 4);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x301), -1);
    EXPECT_EQ(crane.convertAddrToBlockDownloadId(0x400), 5);
}

TEST(FamilyBase, AddressMapOfTheFamilyAndKestrelsOwnArchive) {
    MachineSpecificWren wren(link);
    MachineSpecificKestrel kestrel(link, unusedOwner);
    EXPECT_EQ(wren.getParameterAddrMin(), 16u);
    EXPECT_EQ(wren.getParameterAddrMax(), 255u);
    EXPECT_EQ(wren.getErrorArchiveAddrStart(), 288u);
    EXPECT_EQ(wren.getErrorArchiveAddrEnd(), 368u);
    EXPECT_EQ(wren.getSerialNumberReqAddr(), 645u);
    EXPECT_EQ(wren.getMaterialNumberReqAddr(), 640u);
    EXPECT_EQ(wren.getOpHoursCounterReqAddr(), -1);
    EXPECT_EQ(kestrel.getErrorArchiveAddrStart(), 336u);
    EXPECT_EQ(kestrel.getErrorArchiveAddrEnd(), 512u);
    EXPECT_EQ(kestrel.getChargerParamAddrStart(), 512u);
    EXPECT_EQ(kestrel.getOpHoursCounterReqAddr(), 620);
}

TEST(FamilyBase, CountersSplitSecondsIntoLegacyBytesAndBack) {
    MachineSpecificFinch finch(link);
    const uint32_t seconds = 3725000;  // 1034 h 43 min 20 s
    EXPECT_EQ(finch.handleReadOpHoursCounter(110, seconds), 20);
    EXPECT_EQ(finch.handleReadOpHoursCounter(111, seconds), 43);
    EXPECT_EQ(finch.handleReadOpHoursCounter(112, seconds), 10);
    EXPECT_EQ(finch.handleReadOpHoursCounter(113, seconds), 4);
    EXPECT_EQ(finch.handleReadOpHoursCounter(125, seconds), 4) << "fourth counter, hours high";
    EXPECT_EQ(finch.handleReadOpHoursCounter(126, seconds), 0xFF);
    EXPECT_EQ(finch.handleReadOpHoursCounter(109, seconds), 0xFF);
    EXPECT_EQ(finch.handleWriteOpHoursCounter(0, 0, 1, 0), 3600u);
    EXPECT_EQ(finch.handleWriteOpHoursCounter(59, 59, 255, 255), 235929599u);
    EXPECT_EQ(finch.handleWriteOpHoursCounter(20, 43, 10, 4), seconds);
    EXPECT_EQ(finch.getOpHoursCounterStartAddr(110), 110u);
    EXPECT_EQ(finch.getOpHoursCounterStartAddr(117), 114u);
    EXPECT_EQ(finch.getOpHoursCounterStartAddr(125), 122u);
    EXPECT_EQ(finch.getOpHoursCounterStartAddr(126), 0u);
    EXPECT_EQ(finch.getOpHoursCounterStartAddr(109), 0u);
}

TEST(FamilyBase, ChargerBlocksLoseTheirLastTwoBytes) {
    MachineSpecificSwift swift(link);
    uint8_t source[66];
    for (int i = 0; i < 66; ++i) source[i] = static_cast<uint8_t>(i);
    uint8_t destination[66] = {};
    uint32_t length = 66;
    ASSERT_TRUE(swift.dataBlockConv(512, source, &length, destination, sizeof destination));
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(destination[63], 63);
    EXPECT_EQ(destination[64], 0);
    length = 66;
    EXPECT_FALSE(swift.dataBlockConv(577, source, &length, destination, sizeof destination));
    EXPECT_EQ(length, 66u);
}

TEST(FamilyBase, ChargerBlockConversionRefusesWhatWouldUnderOrOverrun) {
    MachineSpecificSwift swift(link);
    uint8_t source[8] = {};
    uint8_t destination[4] = {};
    uint32_t length = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(swift.dataBlockConv(520, source, &length, destination, sizeof destination));
    EXPECT_NE(::testing::internal::GetCapturedStdout().find(
                  "MachineSpecificHeron::dataBlockConv(): unable to convert 1 bytes"),
              std::string::npos)
        << "a refusal is traced";
    length = 8;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(swift.dataBlockConv(520, source, &length, destination, sizeof destination))
        << "6 bytes do not fit a 4-byte destination";
    EXPECT_NE(::testing::internal::GetCapturedStdout().find(
                  "MachineSpecificHeron::dataBlockConv(): unable to convert 8 bytes"),
              std::string::npos);
}

TEST_F(Models, FamilyCommandsWriteTheMappedValueToOutputOne) {
    MachineSpecificCrane crane(link);
    EXPECT_TRUE(crane.handleCommand(24));
    ASSERT_EQ(client.calls.size(), 1u);
    EXPECT_EQ(client.last().op, "WriteOutput");
    EXPECT_EQ(client.last().subIndex, 1);
    EXPECT_EQ(*static_cast<uint8_t*>(client.last().data), 22);
    EXPECT_FALSE(crane.handleCommand(19));
    EXPECT_FALSE(crane.handleCommand(22));
    EXPECT_FALSE(crane.handleCommand(23));
    EXPECT_EQ(client.calls.size(), 1u) << "unmapped commands write nothing";
    EXPECT_TRUE(crane.handleCommand(0x100 + 101)) << "only the low byte of the code counts";
    EXPECT_EQ(*static_cast<uint8_t*>(client.last().data), 101);
    client.nextResult = 18;
    EXPECT_FALSE(crane.handleCommand(1));
}

TEST_F(Models, KestrelCommandsPickOutputAndValue) {
    MachineSpecificKestrel kestrel(link, unusedOwner);
    EXPECT_TRUE(kestrel.handleCommand(13));
    EXPECT_EQ(client.last().subIndex, 2);
    EXPECT_EQ(*static_cast<uint8_t*>(client.last().data), 0);
    EXPECT_TRUE(kestrel.handleCommand(16));
    EXPECT_EQ(client.last().subIndex, 4);
    EXPECT_EQ(*static_cast<uint8_t*>(client.last().data), 1);
    EXPECT_FALSE(kestrel.handleCommand(18));
    EXPECT_FALSE(kestrel.handleCommand(24)) << "Kestrel does not use the family map";
    EXPECT_EQ(client.calls.size(), 2u);
}

TEST_F(Models, KestrelMainCounterIsReadAndWrittenAsMinutesAndHours) {
    MachineSpecificKestrel kestrel(link, *ORBEL_Conv::getInstance());
    EXPECT_EQ(kestrel.startOpHoursCounterReq(621, 3), 3);
    EXPECT_TRUE(client.calls.empty());
    EXPECT_EQ(kestrel.startOpHoursCounterReq(620, 3), 2);
    EXPECT_EQ(client.last().op, "ReadOpHoursCounter");
    EXPECT_EQ(client.last().dataType, "uint32_t*");
    EXPECT_EQ(ORBEL_Conv::getInstance()->getParameterHandler().getCurrentObjectId(), 0x4002u);

    const uint8_t package[12] = {0, 0, 0, 0, 0, 0, 0, 30, 0x10, 0x01};
    EXPECT_EQ(kestrel.setOpHoursCounterValue(620, package, 7, 3), 0);
    EXPECT_EQ(ORBEL_Conv::getInstance()->getMainOpHoursCounter(), 981000u);
    EXPECT_EQ(client.last().op, "WriteOpHoursCounter");
    EXPECT_EQ(*static_cast<uint32_t*>(client.last().data), 981000u);
    EXPECT_EQ(kestrel.setOpHoursCounterValue(621, package, 7, 3), 6);

    ORBEL_ConvBuffer answer(64);
    const uint8_t zeros[8] = {};
    answer.writeBytes(8, zeros);
    kestrel.fillOpHoursCounterReqBuf(620, 3, &answer, 4);
    uint8_t b[3];
    answer.readByte(4, &b[0]);
    answer.readByte(5, &b[1]);
    answer.readByte(6, &b[2]);
    EXPECT_EQ(b[0], 30);
    EXPECT_EQ(b[1], 0x10);
    EXPECT_EQ(b[2], 0x01);
}

TEST(SensorTables, RangesOfEachModel) {
    MachineSpecificCrane crane(link);
    MachineSpecificRobin robin(link);
    MachineSpecificKestrel kestrel(link, unusedOwner);
    EXPECT_FALSE(crane.isSensorReq(255));
    EXPECT_TRUE(crane.isSensorReq(256));
    EXPECT_TRUE(crane.isSensorReq(277));
    EXPECT_FALSE(crane.isSensorReq(278));
    EXPECT_TRUE(robin.isSensorReq(283));
    EXPECT_FALSE(robin.isSensorReq(284));
    EXPECT_TRUE(kestrel.isSensorReq(302));
    EXPECT_FALSE(kestrel.isSensorReq(290));
    EXPECT_FALSE(kestrel.isSensorReq(304));
}

TEST(SensorTables, AWholeRangeIsNumberedInTableOrder) {
    MachineSpecificCrane crane(link);
    FeatureRequestMap requests;
    crane.FillSensorReqMap(256, 22, requests);
    ASSERT_EQ(requests.size(), 15u);
    EXPECT_EQ(requests[0].stAddress, 257u);
    EXPECT_EQ(requests[0].stLength, 2);
    EXPECT_EQ(requests[7].stAddress, 256u);
    EXPECT_EQ(requests[7].canObjectIndex, 0x5205);
    EXPECT_EQ(requests[14].canSubIndex, 11);
    EXPECT_EQ(requests[14].bitShift, 2);
    // Swift uses table B: 269 comes after the I16 rows.
    MachineSpecificSwift swift(link);
    FeatureRequestMap b;
    swift.FillSensorReqMap(256, 22, b);
    ASSERT_EQ(b.size(), 15u);
    EXPECT_EQ(b[4].stAddress, 270u);
    EXPECT_EQ(b[12].stAddress, 269u);
}

TEST(SensorTables, OnlyARowsFirstAddressCounts) {
    MachineSpecificCrane crane(link);
    FeatureRequestMap requests;
    crane.FillSensorReqMap(259, 1, requests);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].canObjectIndex, 0x5206);
    EXPECT_EQ(requests[0].canSubIndex, 2);
    requests.clear();
    crane.FillSensorReqMap(258, 1, requests);
    EXPECT_TRUE(requests.empty()) << "258 is the second byte of the row for 257";
}

TEST(SensorTables, KestrelReadsInputsAbove300) {
    MachineSpecificKestrel kestrel(link, unusedOwner);
    FeatureRequestMap requests;
    kestrel.FillSensorReqMap(300, 4, requests);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].stAddress, 302u);
    EXPECT_EQ(requests[2].canObjectIndex, 0x5100);
    EXPECT_EQ(requests[2].canSubIndex, 3);
    requests.clear();
    kestrel.FillSensorReqMap(256, 255, requests);
    EXPECT_EQ(requests.size(), 21u);
}

TEST(Placeholder, ClaimsNoAddressAndClearsTheSensorMap) {
    MachineSpecificDummy dummy;
    EXPECT_GT(dummy.getParameterAddrMin(), dummy.getParameterAddrMax()) << "an empty range";
    EXPECT_GT(dummy.getErrorArchiveAddrStart(), dummy.getErrorArchiveAddrEnd());
    EXPECT_GT(dummy.getBlockDownloadAddrStart(), dummy.getBlockDownloadAddrEnd());
    EXPECT_EQ(dummy.getOpHoursCounterReqAddr(), -1);
    EXPECT_EQ(dummy.convertAddrToBlockDownloadId(0x5000), -1);
    EXPECT_FALSE(dummy.handleCommand(1));
    EXPECT_EQ(dummy.setOpHoursCounterValue(620, nullptr, 0, 0), 6);
    FeatureRequestMap requests;
    requests[0] = FeatureRequest{};
    dummy.FillSensorReqMap(256, 22, requests);
    EXPECT_TRUE(requests.empty());
}

}  // namespace
