// The client against the machine twin end to end: the real serican driver on a pseudo-
// terminal that machine-sim serves, real time, real threads. The twin's record (its bus
// events, the transfers it served and its final objects) shows what reached the machine.
#include "twin_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace CommDiag::test {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

class TwinSessionTest : public TwinSession {
public:
    int runRequest(const std::function<int()>& start) { return run(start); }
};

template <typename T, typename Read>
void expectRead(TwinSessionTest* session, Read read, T expected, const char* what) {
    T value{};
    EXPECT_EQ(session->runRequest([&] { return read(&value); }), RESULT_OK) << what;
    EXPECT_EQ(value, expected) << what;
}

#define E Callbacks::element
#define D Callbacks::domain
#define N Callbacks::number

TEST_F(TwinSessionTest, SmSessionReadsAndWritesEveryKindOfObject) {
    startTwin({"-m", "crane"});
    log::setLevel(1);
    std::string out = captureStdout([&] { EXPECT_EQ(connect(), RESULT_OK); });
    EXPECT_THAT(out, HasSubstr("Machine heartbeat consumer set\n"));
    EXPECT_THAT(out, HasSubstr("Machine diagnose session set\n"));
    log::setLevel(0);

    // Typed reads of the twin's values, one of every area and type it has.
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadInput(1, v, E); }, 49, "input U8");
    expectRead<uint16_t>(
        this, [&](uint16_t* v) { return client->ReadInput(1, v, E); }, 501, "input U16");
    expectRead<uint32_t>(
        this, [&](uint32_t* v) { return client->ReadInput(1, v, E); }, 70001, "input U32");
    expectRead<int8_t>(
        this, [&](int8_t* v) { return client->ReadInput(1, v, E); }, -1, "input I8");
    expectRead<int16_t>(
        this, [&](int16_t* v) { return client->ReadInput(1, v, E); }, -301, "input I16");
    expectRead<int32_t>(
        this, [&](int32_t* v) { return client->ReadInput(1, v, E); }, -70001, "input I32");
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadMeasurement(1, v, E); }, 23, "measurement U8");
    expectRead<uint16_t>(
        this, [&](uint16_t* v) { return client->ReadMeasurement(1, v, E); }, 4609, "meas. U16");
    expectRead<uint32_t>(
        this, [&](uint32_t* v) { return client->ReadMeasurement(1, v, E); }, 123457, "meas. U32");
    expectRead<int8_t>(
        this, [&](int8_t* v) { return client->ReadMeasurement(1, v, E); }, -5, "meas. I8");
    expectRead<int16_t>(
        this, [&](int16_t* v) { return client->ReadMeasurement(1, v, E); }, 215, "meas. I16");
    expectRead<int32_t>(
        this, [&](int32_t* v) { return client->ReadMeasurement(1, v, E); }, -12, "meas. I32");
    expectRead<float>(
        this, [&](float* v) { return client->ReadMeasurement(1, v, E); }, 12.7f, "meas. float");
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadOutput(1, v, E); }, 0, "output");
    expectRead<uint32_t>(
        this, [&](uint32_t* v) { return client->ReadOpHoursCounter(1, v, E); }, 3725000, "counter");
    expectRead<uint32_t>(
        this, [&](uint32_t* v) { return client->ReadMachineMode(v, E); }, 0, "machine mode");
    expectRead<uint32_t>(
        this, [&](uint32_t* v) { return client->ReadObject5301(v, E); }, 0, "0x5301");
    expectRead<uint32_t>(
        this, [&](uint32_t* v) { return client->ReadFlashStatus(1, v, E); }, 0, "flash status");

    // Numbers of elements.
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadNrOfInputs(2, v, N); }, 4, "inputs U16");
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadNrOfMeasurements(7, v, N); }, 5, "meas. float");
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadNrOfOutputs(1, v, N); }, 8, "outputs");
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadNrOfMachineParameters(3, v, N); }, 8, "param.");
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadNrOfOpHoursCounters(3, v, N); }, 4, "counters");
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadNrOfErrorBufferEntries(v, N); }, 3, "errors");
    expectRead<uint8_t>(
        this, [&](uint8_t* v) { return client->ReadNrOfObject5403(v, N); }, 2, "0x5403");

    // Typed writes, read back.
    auto roundTrip = [&](auto value, auto write, auto read, const char* what) {
        using T = decltype(value);
        EXPECT_EQ(run([&] { return write(&value); }), RESULT_OK) << what;
        expectRead<T>(this, read, value, what);
    };
    roundTrip(
        uint8_t{99}, [&](uint8_t* v) { return client->WriteMachineParameter(2, v, E); },
        [&](uint8_t* v) { return client->ReadMachineParameter(2, v, E); }, "param U8");
    roundTrip(
        uint16_t{60000}, [&](uint16_t* v) { return client->WriteMachineParameter(2, v, E); },
        [&](uint16_t* v) { return client->ReadMachineParameter(2, v, E); }, "param U16");
    roundTrip(
        uint32_t{4000000000u}, [&](uint32_t* v) { return client->WriteMachineParameter(2, v, E); },
        [&](uint32_t* v) { return client->ReadMachineParameter(2, v, E); }, "param U32");
    roundTrip(
        int8_t{-99}, [&](int8_t* v) { return client->WriteMachineParameter(2, v, E); },
        [&](int8_t* v) { return client->ReadMachineParameter(2, v, E); }, "param I8");
    roundTrip(
        int16_t{-30000}, [&](int16_t* v) { return client->WriteMachineParameter(2, v, E); },
        [&](int16_t* v) { return client->ReadMachineParameter(2, v, E); }, "param I16");
    roundTrip(
        int32_t{-2000000000}, [&](int32_t* v) { return client->WriteMachineParameter(2, v, E); },
        [&](int32_t* v) { return client->ReadMachineParameter(2, v, E); }, "param I32");
    roundTrip(
        float{-0.125f}, [&](float* v) { return client->WriteMachineParameter(2, v, E); },
        [&](float* v) { return client->ReadMachineParameter(2, v, E); }, "param float");
    roundTrip(
        uint8_t{7}, [&](uint8_t* v) { return client->WriteOpHoursCounter(1, v, E); },
        [&](uint8_t* v) { return client->ReadOpHoursCounter(1, v, E); }, "counter U8");
    roundTrip(
        uint16_t{777}, [&](uint16_t* v) { return client->WriteOpHoursCounter(1, v, E); },
        [&](uint16_t* v) { return client->ReadOpHoursCounter(1, v, E); }, "counter U16");
    roundTrip(
        uint32_t{3725060}, [&](uint32_t* v) { return client->WriteOpHoursCounter(1, v, E); },
        [&](uint32_t* v) { return client->ReadOpHoursCounter(1, v, E); }, "counter U32");
    roundTrip(
        uint8_t{1}, [&](uint8_t* v) { return client->WriteOutput(3, v, E); },
        [&](uint8_t* v) { return client->ReadOutput(3, v, E); }, "output");
    roundTrip(
        uint32_t{2}, [&](uint32_t* v) { return client->WriteMachineMode(v, E); },
        [&](uint32_t* v) { return client->ReadMachineMode(v, E); }, "machine mode");
    uint8_t flag = 0;
    EXPECT_EQ(run([&] { return client->WriteFirmwareUpdateControl(1, &flag, E); }), RESULT_OK);
    int16_t readOnly = 5;
    EXPECT_EQ(run([&] { return client->WriteOpHoursCounter(1, &readOnly, E); }), RESULT_BUS_NOT_ACCESSIBLE)
        << "a read-only object";

    // Domains.
    MachineTypeRecord type{};
    EXPECT_EQ(run([&] { return client->ReadMachineType(&type, D); }), RESULT_OK);
    EXPECT_EQ(type.machineType, 1u);
    EXPECT_EQ(type.machineNumber, 5u);
    EXPECT_EQ(type.machineVariant, 0u);
    uint8_t version[3] = {};
    EXPECT_EQ(run([&] { return client->ReadSwVersion(version, D); }), RESULT_OK);
    EXPECT_THAT(version, ElementsAreArray({0x0D, 0x05, 0x02})) << "patch, minor, major";
    uint8_t revision[3] = {};
    EXPECT_EQ(run([&] { return client->ReadRevisionNumber(revision, D); }), RESULT_OK);
    EXPECT_THAT(revision, ElementsAreArray({0x05, 0x02, 0x00}));

    uint8_t serial[13] = {};
    EXPECT_EQ(run([&] { return client->ReadSNNumber(serial, D); }), RESULT_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(serial), 13), "SN05-00042731");
    uint8_t newSerial[13] = {'S', 'N', '0', '5', '-', '1', '2', '3', '4', '5', '6', '7', '8'};
    EXPECT_EQ(run([&] { return client->WriteSNNumber(newSerial, D); }), RESULT_OK);
    EXPECT_EQ(run([&] { return client->ReadSNNumber(serial, D); }), RESULT_OK);
    EXPECT_THAT(serial, ElementsAreArray(newSerial));
    uint8_t material[13] = {};
    EXPECT_EQ(run([&] { return client->ReadMaterialNumber(material, D); }), RESULT_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(material), 13), "MAT-005-77120");
    uint8_t newMaterial[13] = {'M', 'A', 'T', '-', '0', '0', '9', '-', '0', '0', '0', '0', '1'};
    EXPECT_EQ(run([&] { return client->WriteMaterialNumber(newMaterial, D); }), RESULT_OK);
    EXPECT_EQ(run([&] { return client->ReadMaterialNumber(material, D); }), RESULT_OK);
    EXPECT_THAT(material, ElementsAreArray(newMaterial));

    uint8_t record5400[11] = {};
    EXPECT_EQ(run([&] { return client->ReadObject5400(record5400, D); }), RESULT_OK);
    EXPECT_THAT(record5400, ElementsAreArray({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    uint8_t new5400[11] = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(run([&] { return client->WriteObject5400(new5400, D); }), RESULT_OK);
    EXPECT_EQ(run([&] { return client->ReadObject5400(record5400, D); }), RESULT_OK);
    EXPECT_THAT(record5400, ElementsAreArray(new5400));
    uint8_t record5402[3] = {};
    EXPECT_EQ(run([&] { return client->ReadObject5402(record5402, D); }), RESULT_OK);
    EXPECT_THAT(record5402, ElementsAreArray({1, 2, 3}));
    uint8_t new5402[3] = {0xA, 0xB, 0xC};
    EXPECT_EQ(run([&] { return client->WriteObject5402(new5402, D); }), RESULT_OK);
    EXPECT_EQ(run([&] { return client->ReadObject5402(record5402, D); }), RESULT_OK);
    EXPECT_THAT(record5402, ElementsAreArray(new5402));

    Object5403Record record5403{};
    EXPECT_EQ(run([&] { return client->ReadObject5403(2, &record5403, D); }), RESULT_OK);
    EXPECT_EQ(record5403.bytes0[0], 0x02);
    EXPECT_EQ(record5403.value20, 0x0202u);
    EXPECT_EQ(record5403.value28, 0x02020202u);
    Object5403Record new5403{};
    for (int i = 0; i < 8; ++i) new5403.bytes0[i] = static_cast<uint8_t>(0x30 + i);
    new5403.swappedPair[0] = 0x11;
    new5403.swappedPair[1] = 0x22;
    new5403.value20 = 0xBEEF;
    new5403.value24 = 0xCAFE;
    new5403.value28 = 0x12345678;
    EXPECT_EQ(run([&] { return client->WriteObject5403(1, &new5403, D); }), RESULT_OK);
    EXPECT_EQ(run([&] { return client->ReadObject5403(1, &record5403, D); }), RESULT_OK);
    EXPECT_EQ(std::memcmp(record5403.bytes0, new5403.bytes0, 8), 0);
    EXPECT_EQ(record5403.swappedPair[0], 0x11);
    EXPECT_EQ(record5403.swappedPair[1], 0x22);
    EXPECT_EQ(record5403.value20, 0xBEEFu);
    EXPECT_EQ(record5403.value24, 0xCAFEu);
    EXPECT_EQ(record5403.value28, 0x12345678u);

    Object5410Record new5410{};
    new5410.headValue = 0x01020304;
    new5410.groups[0].bits5 = 21;
    new5410.groups[0].bits3 = 5;
    new5410.groups[1].bits5 = 3;
    new5410.groups[1].bits3 = 6;
    new5410.groups[1].value = 0xAABBCCDD;
    new5410.groups[1].tail[2] = 0x99;
    EXPECT_EQ(run([&] { return client->WriteObject5410(&new5410, D); }), RESULT_OK);
    Object5410Record record5410{};
    EXPECT_EQ(run([&] { return client->ReadObject5410(&record5410, D); }), RESULT_OK);
    EXPECT_EQ(record5410.headValue, 0x01020304u);
    EXPECT_EQ(record5410.groups[0].bits5, 21u);
    EXPECT_EQ(record5410.groups[0].bits3, 5u);
    EXPECT_EQ(record5410.groups[1].bits5, 3u);
    EXPECT_EQ(record5410.groups[1].bits3, 6u);
    EXPECT_EQ(record5410.groups[1].value, 0xAABBCCDDu);
    EXPECT_EQ(record5410.groups[1].tail[2], 0x99);

    // The error buffer, read to its end, and one entry written back.
    ErrorBufferEntry entry{};
    EXPECT_EQ(run([&] { return client->ReadErrorBufferEntry(1, &entry, D); }), RESULT_OK);
    EXPECT_EQ(entry.dataA, 0x0010);
    EXPECT_EQ(entry.timeMinutes, 0x007D);
    EXPECT_EQ(entry.id, 0x1234u);
    EXPECT_EQ(entry.counter, 3);
    uint8_t info;
    std::memcpy(&info, &entry.info, 1);
    EXPECT_EQ(info, 0x05) << "state 1, flag 1, field 0";
    EXPECT_EQ(run([&] { return client->ReadErrorBufferEntry(3, &entry, D); }), RESULT_OK);
    std::memcpy(&info, &entry.info, 1);
    EXPECT_EQ(info, 0xFC) << "state 0, flag 1, field 31";
    EXPECT_EQ(run([&] { return client->ReadErrorBufferEntry(4, &entry, D); }), RESULT_NO_SUB_INDEX);
    std::memset(&entry.info, 0xAD, 1);
    entry.id = 0x4242;
    EXPECT_EQ(run([&] { return client->WriteErrorBufferEntry(2, &entry, D); }), RESULT_OK);
    ErrorBufferEntry back{};
    EXPECT_EQ(run([&] { return client->ReadErrorBufferEntry(2, &back, D); }), RESULT_OK);
    EXPECT_EQ(back.id, 0x4242u);
    std::memcpy(&info, &back.info, 1);
    EXPECT_EQ(info, 0xAD);

    // Close, destroy: the driver sends its close frame and is unloaded.
    EXPECT_TRUE(driverMapped());
    EXPECT_EQ(client->CloseConnection(Callbacks::close), RESULT_OK);
    EXPECT_EQ(callbacks.closes(), std::vector<int>{RESULT_OK});
    factory.DestroyClient();
    EXPECT_FALSE(driverMapped());
    EXPECT_TRUE(twin->logged("host sent the close frame"));
    Json record = twin->stop();
    ASSERT_FALSE(record.is_discarded());
    EXPECT_EQ(record["link"]["close_frames"], 1);
    EXPECT_EQ(count(record, "nmt", "-> operational"), 1) << record["events"].dump(1);
    EXPECT_EQ(writesTo(record, 0x1016, 1), std::vector<std::string>{"E8030100"}) << "(1 << 16) | 1000";
    EXPECT_EQ(writesTo(record, 0x2222, 1), std::vector<std::string>{"01"});
    EXPECT_EQ(count(record, "session", "diagnose session 1"), 1);
    EXPECT_EQ(record["objects"]["5404:01"]["value"], "534E30352D3132333435363738");
}

TEST_F(TwinSessionTest, BootLoaderTwinAnswersTwentyTwoAndTheConnectionStillStands) {
    startTwin({"-m", "bootloader"});
    log::setLevel(1);
    std::string out = captureStdout([&] { EXPECT_EQ(connect(), RESULT_OK); });
    int lines = 0;
    for (size_t at = out.find("Bootloader active!"); at != std::string::npos;
         at = out.find("Bootloader active!", at + 1))
        ++lines;
    EXPECT_EQ(lines, 2) << out;
    EXPECT_THAT(out, HasSubstr("Connection operational\n"));
    uint8_t version[3];
    EXPECT_EQ(run([&] { return client->ReadSwVersion(version, D); }), RESULT_NO_OBJECT);
}

TEST_F(TwinSessionTest, TwinThatNeverStartsTimesOutAfterTheBudget) {
    startTwin({"-m", "crane", "--never-operational"});
    std::string out = captureStdout([&] { EXPECT_EQ(connect(1000), RESULT_TIMEOUT); });
    EXPECT_THAT(out, HasSubstr("Starting node timed out\n"));
    uint8_t value;
    EXPECT_EQ(client->ReadInput(1, &value, E), RESULT_NOT_READY);
    // At the start and after every fifth of the 20 polls of the budget; the last one may still
    // be on the line when the procedure ends.
    EXPECT_TRUE(twin->loggedTimes("start command ignored", 1 + 20 / 5));
    factory.DestroyClient();
    Json record = twin->stop();
    ASSERT_FALSE(record.is_discarded());
    EXPECT_EQ(count(record, "fault", "start command ignored"), 1 + 20 / 5);
}

#undef E
#undef D
#undef N

}  // namespace
}  // namespace CommDiag::test
