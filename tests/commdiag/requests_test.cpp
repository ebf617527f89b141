// Element and domain requests of a connected client against the scripted machine: every
// typed and domain kind with values checked both ways, and how the machine's aborts,
// silence and wrong sizes come back.
#include "client_fixture.h"

#include "commdiag/library_state.h"
#include "commdiag/log.h"

#include <gmock/gmock.h>

#include <cstring>

namespace CommDiag::test {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using Key = MachineNode::Key;

template <typename T>
Bytes bytesOf(T value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

template <typename T>
constexpr int typeCode();
template <>
constexpr int typeCode<uint8_t>() {
    return 1;
}
template <>
constexpr int typeCode<uint16_t>() {
    return 2;
}
template <>
constexpr int typeCode<uint32_t>() {
    return 3;
}
template <>
constexpr int typeCode<int8_t>() {
    return 4;
}
template <>
constexpr int typeCode<int16_t>() {
    return 5;
}
template <>
constexpr int typeCode<int32_t>() {
    return 6;
}
template <>
constexpr int typeCode<float>() {
    return 7;
}

class Requests : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        usePollSeam();
        createClient();
        ASSERT_EQ(connectByPolls(), RESULT_OK);
        callbacks.reset();
    }

    // Runs one request to its callback; the completion, or a result of -1 when none came.
    Completion run(const std::function<int()>& start) {
        const size_t before = callbacks.requestCount();
        int started = start();
        EXPECT_EQ(started, RESULT_OK);
        if (started != RESULT_OK) return {-1, 0, 0, nullptr, 0};
        EXPECT_TRUE(awaitRequests(before + 1)) << "no callback";
        auto all = callbacks.requests();
        return all.size() > before ? all[before] : Completion{-1, 0, 0, nullptr, 0};
    }

    template <typename T, typename Read>
    void checkTypedRead(uint16_t base, Read read, T expected) {
        constexpr int type = typeCode<T>();
        const Key key(static_cast<uint16_t>(base + type - 1), 7);
        machine.objects[key] = bytesOf(expected);
        T value{};
        Completion done = run([&] { return read(&value); });
        EXPECT_EQ(done.result, RESULT_OK) << std::hex << key.first;
        EXPECT_EQ(done.valueType, type);
        EXPECT_EQ(done.subIndex, 7u);
        EXPECT_EQ(done.data, &value);
        EXPECT_EQ(value, expected) << std::hex << key.first;
    }

    template <typename T, typename Write>
    void checkTypedWrite(uint16_t base, Write write, T value) {
        constexpr int type = typeCode<T>();
        const Key key(static_cast<uint16_t>(base + type - 1), 9);
        Completion done = run([&] { return write(&value); });
        EXPECT_EQ(done.result, RESULT_OK) << std::hex << key.first;
        EXPECT_EQ(done.valueType, type);
        EXPECT_EQ(done.subIndex, 9u);
        EXPECT_EQ(done.data, &value);
        EXPECT_EQ(machine.objects[key], bytesOf(value)) << std::hex << key.first;
    }
};

#define READ_FAMILY(Op, base)                                                                  \
    checkTypedRead<float>(                                                                     \
        base, [&](float* v) { return client->Op(7, v, Callbacks::element); }, -1.5f);          \
    checkTypedRead<int32_t>(                                                                   \
        base, [&](int32_t* v) { return client->Op(7, v, Callbacks::element); }, -100000);      \
    checkTypedRead<int16_t>(                                                                   \
        base, [&](int16_t* v) { return client->Op(7, v, Callbacks::element); }, -300);         \
    checkTypedRead<int8_t>(                                                                    \
        base, [&](int8_t* v) { return client->Op(7, v, Callbacks::element); }, -5);            \
    checkTypedRead<uint32_t>(                                                                  \
        base, [&](uint32_t* v) { return client->Op(7, v, Callbacks::element); }, 0xDEADBEEFu); \
    checkTypedRead<uint16_t>(                                                                  \
        base, [&](uint16_t* v) { return client->Op(7, v, Callbacks::element); }, 0xBEEF);      \
    checkTypedRead<uint8_t>(                                                                   \
        base, [&](uint8_t* v) { return client->Op(7, v, Callbacks::element); }, 0xAB)

#define WRITE_FAMILY(Op, base)                                                             \
    checkTypedWrite<float>(                                                                \
        base, [&](float* v) { return client->Op(9, v, Callbacks::element); }, 2.25f);      \
    checkTypedWrite<int32_t>(                                                              \
        base, [&](int32_t* v) { return client->Op(9, v, Callbacks::element); }, -7);       \
    checkTypedWrite<int16_t>(                                                              \
        base, [&](int16_t* v) { return client->Op(9, v, Callbacks::element); }, -2);       \
    checkTypedWrite<int8_t>(                                                               \
        base, [&](int8_t* v) { return client->Op(9, v, Callbacks::element); }, -1);        \
    checkTypedWrite<uint32_t>(                                                             \
        base, [&](uint32_t* v) { return client->Op(9, v, Callbacks::element); }, 123456u); \
    checkTypedWrite<uint16_t>(                                                             \
        base, [&](uint16_t* v) { return client->Op(9, v, Callbacks::element); }, 4660);    \
    checkTypedWrite<uint8_t>(                                                              \
        base, [&](uint8_t* v) { return client->Op(9, v, Callbacks::element); }, 200)

TEST_F(Requests, TypedReadsOfEveryAreaAndType) {
    READ_FAMILY(ReadInput, 0x5100);
    READ_FAMILY(ReadMeasurement, 0x5200);
    READ_FAMILY(ReadOutput, 0x5000);
    READ_FAMILY(ReadMachineParameter, 0x3000);
    READ_FAMILY(ReadOpHoursCounter, 0x4000);
}

TEST_F(Requests, TypedWritesOfEveryAreaAndType) {
    WRITE_FAMILY(WriteOutput, 0x5000);
    WRITE_FAMILY(WriteMachineParameter, 0x3000);
    WRITE_FAMILY(WriteOpHoursCounter, 0x4000);
}

TEST_F(Requests, ReadNumberOfEveryAreaReadsSubIndexZeroOfTheTypesObject) {
    struct Case {
        std::function<int(unsigned char*)> start;
        Key key;
    };
    const Case cases[] = {
        {[&](unsigned char* n) { return client->ReadNrOfInputs(2, n, Callbacks::number); }, {0x5101, 0}},
        {[&](unsigned char* n) { return client->ReadNrOfMeasurements(7, n, Callbacks::number); }, {0x5206, 0}},
        {[&](unsigned char* n) { return client->ReadNrOfOutputs(1, n, Callbacks::number); }, {0x5000, 0}},
        {[&](unsigned char* n) { return client->ReadNrOfMachineParameters(6, n, Callbacks::number); }, {0x3005, 0}},
        {[&](unsigned char* n) { return client->ReadNrOfOpHoursCounters(3, n, Callbacks::number); }, {0x4002, 0}},
        {[&](unsigned char* n) { return client->ReadNrOfErrorBufferEntries(n, Callbacks::number); }, {0x5300, 0}},
        {[&](unsigned char* n) { return client->ReadNrOfObject5403(n, Callbacks::number); }, {0x5403, 0}},
    };
    uint8_t number = 0;
    for (const Case& c : cases) {
        machine.objects[c.key] = {static_cast<uint8_t>(c.key.first & 0x3F)};
        Completion done = run([&] { return c.start(&number); });
        EXPECT_EQ(done.result, RESULT_OK) << std::hex << c.key.first;
        EXPECT_EQ(done.valueType, 1);
        EXPECT_EQ(done.data, &number);
        EXPECT_EQ(number, c.key.first & 0x3F) << std::hex << c.key.first;
    }
}

TEST_F(Requests, FixedElementObjects) {
    machine.objects[{0x2001, 1}] = bytesOf(uint32_t{0x11});
    machine.objects[{0x5600, 1}] = bytesOf(uint32_t{0x22});
    machine.objects[{0x5301, 1}] = bytesOf(uint32_t{0x33});
    machine.objects[{0x1F57, 1}] = bytesOf(uint32_t{2});
    uint32_t value = 0;
    EXPECT_EQ(run([&] { return client->ReadModuleMode(&value, Callbacks::element); }).result, RESULT_OK);
    EXPECT_EQ(value, 0x11u);
    EXPECT_EQ(run([&] { return client->ReadMachineMode(&value, Callbacks::element); }).result, RESULT_OK);
    EXPECT_EQ(value, 0x22u);
    EXPECT_EQ(run([&] { return client->ReadObject5301(&value, Callbacks::element); }).result, RESULT_OK);
    EXPECT_EQ(value, 0x33u);
    EXPECT_EQ(run([&] { return client->ReadFlashStatus(1, &value, Callbacks::element); }).result, RESULT_OK);
    EXPECT_EQ(value, 2u);

    value = 0x01020304;
    EXPECT_EQ(run([&] { return client->WriteModuleMode(&value, Callbacks::element); }).result, RESULT_OK);
    EXPECT_EQ(machine.objects[Key(0x2001, 1)], Bytes({4, 3, 2, 1}));
    value = 7;
    EXPECT_EQ(run([&] { return client->WriteMachineMode(&value, Callbacks::element); }).result, RESULT_OK);
    EXPECT_EQ(machine.objects[Key(0x5600, 1)], Bytes({7, 0, 0, 0}));
    uint8_t command = 1;
    Completion done = run([&] { return client->WriteFirmwareUpdateControl(2, &command, Callbacks::element); });
    EXPECT_EQ(done.result, RESULT_OK);
    EXPECT_EQ(done.valueType, 1);
    EXPECT_EQ(done.subIndex, 2u);
    EXPECT_EQ(machine.objects[Key(0x5406, 2)], Bytes({1}));
    command = 3;
    EXPECT_EQ(run([&] { return client->WriteProgramControl(1, &command, Callbacks::element); }).result, RESULT_OK);
    EXPECT_EQ(machine.objects[Key(0x1F51, 1)], Bytes({3}));
}

TEST_F(Requests, DomainReadsDeliverConvertedRecords) {
    machine.objects[{0x2000, 1}] = {0x01, 0x00, 0x02, 0x00, 0x03, 0x00};
    MachineTypeRecord type{};
    Completion done = run([&] { return client->ReadMachineType(&type, Callbacks::domain); });
    EXPECT_EQ(done.result, RESULT_OK);
    EXPECT_EQ(done.valueType, 8);
    EXPECT_EQ(done.subIndex, 1u);
    EXPECT_EQ(done.data, &type);
    EXPECT_EQ(done.size, 12u);
    EXPECT_EQ(type.machineType, 1u);
    EXPECT_EQ(type.machineNumber, 2u);
    EXPECT_EQ(type.machineVariant, 3u);

    machine.objects[{0x5401, 1}] = {0x05, 0x02, 0x01};
    uint8_t version[3] = {};
    EXPECT_EQ(run([&] { return client->ReadSwVersion(version, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_THAT(version, ElementsAreArray({0x05, 0x01, 0x02}));

    machine.objects[{0x1018, 3}] = {0x00, 0x01, 0x03, 0x01};
    uint8_t revision[3] = {};
    EXPECT_EQ(run([&] { return client->ReadRevisionNumber(revision, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_THAT(revision, ElementsAreArray({0x01, 0x03, 0x01}));

    const Bytes serial = {'S', 'N', '-', '0', '0', '0', '1', '2', '3', '4', '5', '6', '7'};
    machine.objects[{0x5404, 1}] = serial;
    uint8_t serialRecord[13] = {};
    EXPECT_EQ(run([&] { return client->ReadSNNumber(serialRecord, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_THAT(serialRecord, ElementsAreArray(serial));
    machine.objects[{0x5405, 1}] = Bytes(13, 'M');
    uint8_t material[13] = {};
    EXPECT_EQ(run([&] { return client->ReadMaterialNumber(material, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_THAT(material, ElementsAreArray(Bytes(13, 'M')));

    machine.objects[{0x5400, 1}] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    uint8_t object5400[11] = {};
    EXPECT_EQ(run([&] { return client->ReadObject5400(object5400, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_THAT(object5400, ElementsAreArray({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    machine.objects[{0x5402, 1}] = {9, 8, 7};
    uint8_t object5402[3] = {};
    EXPECT_EQ(run([&] { return client->ReadObject5402(object5402, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_THAT(object5402, ElementsAreArray({9, 8, 7}));

    machine.objects[{0x5300, 4}] = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07,
                                    0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x01, 0x15};
    ErrorBufferEntry entry{};
    done = run([&] { return client->ReadErrorBufferEntry(4, &entry, Callbacks::domain); });
    EXPECT_EQ(done.result, RESULT_OK);
    EXPECT_EQ(done.subIndex, 4u);
    EXPECT_EQ(done.size, 16u);
    EXPECT_EQ(entry.dataA, 0x0102);
    EXPECT_EQ(entry.timeMinutes, 0x0304);
    EXPECT_EQ(entry.id, 0x0C0B0A09u);
    EXPECT_EQ(entry.counter, 0x0D);
    uint8_t info;
    std::memcpy(&info, &entry.info, 1);
    EXPECT_EQ(info, 0xAD);

    Bytes wire5403(26);
    for (size_t i = 0; i < wire5403.size(); ++i) wire5403[i] = static_cast<uint8_t>(i + 1);
    machine.objects[{0x5403, 2}] = wire5403;
    Object5403Record record5403{};
    EXPECT_EQ(run([&] { return client->ReadObject5403(2, &record5403, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_EQ(record5403.swappedPair[0], 18);
    EXPECT_EQ(record5403.swappedPair[1], 17);
    EXPECT_EQ(record5403.value20, 0x1413u);
    EXPECT_EQ(record5403.value28, 0x1A191817u);

    Bytes wire5410(60, 0);
    wire5410[12] = 0x1F << 3 | 0x3;
    wire5410[59] = 0x77;
    machine.objects[{0x5410, 1}] = wire5410;
    Object5410Record record5410{};
    done = run([&] { return client->ReadObject5410(&record5410, Callbacks::domain); });
    EXPECT_EQ(done.result, RESULT_OK);
    EXPECT_EQ(done.size, 76u);
    EXPECT_EQ(record5410.groups[0].bits5, 0x1Fu);
    EXPECT_EQ(record5410.groups[0].bits3, 0x3u);
    EXPECT_EQ(record5410.groups[1].tail[2], 0x77);
}

TEST_F(Requests, DomainWritesSendPackedBytes) {
    ErrorBufferEntry entry{};
    entry.dataA = 0x0102;
    entry.id = 0x0C0B0A09u;
    std::memset(&entry.info, 0xAD, 1);
    Completion done = run([&] { return client->WriteErrorBufferEntry(3, &entry, Callbacks::domain); });
    EXPECT_EQ(done.result, RESULT_OK);
    EXPECT_EQ(done.valueType, 8);
    EXPECT_EQ(done.subIndex, 3u);
    EXPECT_EQ(done.data, &entry);
    EXPECT_EQ(done.size, 16u);
    EXPECT_EQ(machine.objects[Key(0x5300, 3)],
              Bytes({0x02, 0x01, 0, 0, 0, 0, 0, 0, 0x09, 0x0A, 0x0B, 0x0C, 0, 0x01, 0x01, 0x15}));

    uint8_t serial[13] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M'};
    EXPECT_EQ(run([&] { return client->WriteSNNumber(serial, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_THAT(machine.objects[Key(0x5404, 1)], ElementsAreArray(serial));
    EXPECT_EQ(run([&] { return client->WriteMaterialNumber(serial, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_THAT(machine.objects[Key(0x5405, 1)], ElementsAreArray(serial));
    EXPECT_EQ(run([&] { return client->WriteObject5400(serial, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_THAT(machine.objects[Key(0x5400, 1)], ElementsAreArray(serial, 11));

    uint8_t three[3] = {0x05, 0x01, 0x02};
    EXPECT_EQ(run([&] { return client->WriteSwVersion(three, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_EQ(machine.objects[Key(0x5401, 1)], Bytes({0x05, 0x02, 0x01}));
    EXPECT_EQ(run([&] { return client->WriteObject5402(three, Callbacks::domain); }).result, RESULT_OK);
    EXPECT_EQ(machine.objects[Key(0x5402, 1)], Bytes({0x05, 0x01, 0x02}));

    Object5403Record record5403{};
    record5403.swappedPair[0] = 0xAA;
    record5403.value24 = 0x12345678u;
    EXPECT_EQ(run([&] { return client->WriteObject5403(5, &record5403, Callbacks::domain); }).result, RESULT_OK);
    Bytes wire5403 = machine.objects[Key(0x5403, 5)];
    ASSERT_EQ(wire5403.size(), 26u);
    EXPECT_EQ(wire5403[17], 0xAA);
    EXPECT_EQ(wire5403[20], 0x78);
    EXPECT_EQ(wire5403[21], 0x56);

    Object5410Record record5410{};
    record5410.groups[1].bits5 = 3;
    record5410.groups[1].bits3 = 4;
    EXPECT_EQ(run([&] { return client->WriteObject5410(&record5410, Callbacks::domain); }).size, 76u);
    Bytes wire5410 = machine.objects[Key(0x5410, 1)];
    ASSERT_EQ(wire5410.size(), 60u);
    EXPECT_EQ(wire5410[36], 3 << 3 | 4);

    BlockControlRecord control{7, 256, 4, 1000, 0, 1, 4};
    done = run([&] { return client->WriteBlockControl(&control, Callbacks::domain); });
    EXPECT_EQ(done.size, 28u);
    Bytes wireControl = machine.objects[Key(0x5407, 1)];
    ASSERT_EQ(wireControl.size(), 26u);
    EXPECT_EQ(wireControl[0], 7);
    EXPECT_EQ(wireControl[24], 4);

    const uint8_t packet[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    done = run([&] { return client->WriteBlockData(packet, sizeof packet, Callbacks::domain); });
    EXPECT_EQ(done.result, RESULT_OK);
    EXPECT_EQ(done.size, 10u);
    EXPECT_THAT(machine.objects[Key(0x5408, 1)], ElementsAreArray(packet));
}

TEST_F(Requests, ProgramDataGoesAsBlockDownload) {
    machine.aborts[{0x1F50, 1}] = 0x08000024;
    const uint8_t image[100] = {};
    Completion done = run([&] { return client->WriteProgramData(image, sizeof image, Callbacks::domain); });
    EXPECT_EQ(machine.lastInitiate() & 0xE0, 0xC0) << "block download";
    EXPECT_EQ(done.result, RESULT_NO_DATA);
    EXPECT_EQ(done.size, 100u);
}

TEST_F(Requests, EndOfTheErrorBufferIsTwentyOneAndAMissingObjectTwentyTwo) {
    machine.objects[{0x5300, 1}] = Bytes(16, 0);
    ErrorBufferEntry entry{};
    log::setLevel(3);
    std::string out;
    Completion done;
    out =
        captureStdout([&] { done = run([&] { return client->ReadErrorBufferEntry(2, &entry, Callbacks::domain); }); });
    EXPECT_EQ(done.result, RESULT_NO_SUB_INDEX);
    EXPECT_THAT(out, HasSubstr("getReadResultNetworkDict() failed (retVal 128, abortCode 6090011)\n"));
    uint16_t value = 0;
    EXPECT_EQ(run([&] { return client->ReadInput(1, &value, Callbacks::element); }).result, RESULT_NO_OBJECT);
    uint8_t mode = 1;
    out = captureStdout([&] { done = run([&] { return client->WriteProgramControl(1, &mode, Callbacks::element); }); });
    EXPECT_EQ(done.result, RESULT_OK);
    machine.aborts[{0x1F51, 1}] = 0x06090030;
    out = captureStdout([&] { done = run([&] { return client->WriteProgramControl(1, &mode, Callbacks::element); }); });
    EXPECT_EQ(done.result, RESULT_INVALID);
    EXPECT_THAT(out, HasSubstr("getWriteResultNetworkDict() failed (retVal 128, abortCode 6090030)\n"));
}

TEST_F(Requests, ElementAnsweredWithMoreBytesThanItsTypeIsASizeMismatch) {
    machine.objects[{0x5101, 1}] = {0x34, 0x12, 0x00, 0x00};
    uint16_t value = 0x5555;
    Completion done;
    std::string out =
        captureStdout([&] { done = run([&] { return client->ReadInput(1, &value, Callbacks::element); }); });
    EXPECT_EQ(done.result, RESULT_SIZE_MISMATCH);
    EXPECT_EQ(out, "Size 4 differs from expected size 2\n");
    EXPECT_EQ(value, 0x5555) << "a value of the wrong size is not delivered";

    // The line and the flag are free again.
    machine.objects[{0x5101, 1}] = {0x34, 0x12};
    EXPECT_EQ(run([&] { return client->ReadInput(1, &value, Callbacks::element); }).result, RESULT_OK);
    EXPECT_EQ(value, 0x1234);
}

TEST_F(Requests, AnswerLongerThanAnyExpectedSizeIsStillSeenWithItsSize) {
    machine.objects[{0x5102, 1}] = Bytes(70, 0x42);
    uint32_t value = 0;
    Completion done;
    std::string out =
        captureStdout([&] { done = run([&] { return client->ReadInput(1, &value, Callbacks::element); }); });
    EXPECT_EQ(done.result, RESULT_SIZE_MISMATCH);
    EXPECT_EQ(out, "Size 70 differs from expected size 4\n");
    EXPECT_EQ(value, 0u);
    machine.objects[{0x5102, 1}] = bytesOf(uint32_t{99});
    EXPECT_EQ(run([&] { return client->ReadInput(1, &value, Callbacks::element); }).result, RESULT_OK);
    EXPECT_EQ(value, 99u);
}

TEST_F(Requests, DomainAndNumberOfWrongSizeAreSizeMismatches) {
    machine.objects[{0x5401, 1}] = {1, 2, 3, 4};
    uint8_t version[3] = {7, 7, 7};
    Completion done;
    std::string out =
        captureStdout([&] { done = run([&] { return client->ReadSwVersion(version, Callbacks::domain); }); });
    EXPECT_EQ(done.result, RESULT_SIZE_MISMATCH);
    EXPECT_EQ(out, "Size 4 differs from expected size 3\n");
    EXPECT_THAT(version, ElementsAreArray({7, 7, 7})) << "the record is left untouched";

    machine.objects[{0x5300, 0}] = {1, 0};
    uint8_t count = 9;
    out = captureStdout(
        [&] { done = run([&] { return client->ReadNrOfErrorBufferEntries(&count, Callbacks::number); }); });
    EXPECT_EQ(done.result, RESULT_SIZE_MISMATCH);
    EXPECT_EQ(out, "Size 2 differs from expected size 1\n");
    EXPECT_EQ(count, 9);
}

TEST_F(Requests, SecondRequestWhileOneRunsIsRefusedAndOnlyTheFirstCallsBack) {
    machine.objects[{0x5100, 1}] = {5};
    uint8_t first = 0;
    uint8_t second = 0;
    ASSERT_EQ(client->ReadInput(1, &first, Callbacks::element), RESULT_OK);
    std::string out = captureStdout([&] { EXPECT_EQ(client->ReadInput(1, &second, Callbacks::element), RESULT_BUSY); });
    EXPECT_EQ(out, "Previous SDO operation is still running\n");
    ASSERT_TRUE(awaitRequests(1));
    machine.serve([] { return false; }, 50);
    auto all = callbacks.requests();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].data, &first);
    EXPECT_EQ(first, 5);
}

TEST_F(Requests, MachineSilenceEndsWithTheStacksTimeout) {
    machine.silent.insert({0x5202, 2});
    log::setLevel(3);
    uint32_t value = 0;
    ASSERT_EQ(client->ReadMeasurement(2, &value, Callbacks::element), RESULT_OK);
    machine.serveSent();
    std::string out = captureStdout([&] {
        clock.advance(4000);
        EXPECT_TRUE(awaitRequests(1));
    });
    ASSERT_EQ(callbacks.requests().size(), 1u);
    EXPECT_EQ(callbacks.requests()[0].result, RESULT_TIMEOUT);
    EXPECT_THAT(out, HasSubstr("getReadResultNetworkDict() failed (retVal 133, abortCode 5040000)\n"));
    machine.silent.clear();
    machine.objects[{0x5202, 2}] = bytesOf(uint32_t{1});
    EXPECT_EQ(run([&] { return client->ReadMeasurement(2, &value, Callbacks::element); }).result, RESULT_OK);
}

IClient* g_chainClient = nullptr;
uint8_t g_chainValue = 0;
std::atomic<int> g_chainStart{-1};
void startNextFromCallback(int result, int valueType, unsigned char subIndex, void* value) {
    Callbacks::element(result, valueType, subIndex, value);
    if (g_chainStart == -1) g_chainStart = g_chainClient->ReadInput(2, &g_chainValue, Callbacks::element);
}

TEST_F(Requests, CallbackMayStartTheNextRequest) {
    machine.objects[{0x5100, 1}] = {1};
    machine.objects[{0x5100, 2}] = {2};
    g_chainClient = client;
    uint8_t value = 0;
    ASSERT_EQ(client->ReadInput(1, &value, startNextFromCallback), RESULT_OK);
    ASSERT_TRUE(awaitRequests(2));
    EXPECT_EQ(g_chainStart.load(), RESULT_OK);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(g_chainValue, 2);
}

TEST_F(Requests, DetailsAtLevelFive) {
    log::setLevel(5);
    machine.objects[{0x5101, 3}] = {0x34, 0x12};
    uint16_t value = 0;
    std::string out = captureStdout([&] { run([&] { return client->ReadInput(3, &value, Callbacks::element); }); });
    EXPECT_EQ(out, "Request started\nRead ElementFinished index 0x5101 subIndex 3\nResult: 4660\n");

    machine.objects[{0x5103, 3}] = {0xFE};
    int8_t signedValue = 0;
    out = captureStdout([&] { run([&] { return client->ReadInput(3, &signedValue, Callbacks::element); }); });
    EXPECT_THAT(out, HasSubstr("Result: -2\n"));

    machine.objects[{0x5401, 1}] = {0x05, 0x02, 0x01};
    uint8_t version[3];
    out = captureStdout([&] { run([&] { return client->ReadSwVersion(version, Callbacks::domain); }); });
    EXPECT_EQ(out, "Request started\nRead DomainFinished index 0x5401 subIndex 1\nResult: 05 02 01 \n");

    uint8_t mode = 1;
    out = captureStdout([&] { run([&] { return client->WriteProgramControl(1, &mode, Callbacks::element); }); });
    EXPECT_EQ(out, "Request started\nWrite ElementFinished index 0x1f51 subIndex 1\n");

    machine.objects[{0x5300, 0}] = {3};
    uint8_t count = 0;
    out = captureStdout([&] { run([&] { return client->ReadNrOfErrorBufferEntries(&count, Callbacks::number); }); });
    EXPECT_EQ(out, "Request started\nReadNrElementsFinished index 0x5300 subIndex 0\nResult: 3\n");
}

TEST_F(Requests, RemainingTransferBytesIsZeroWhenIdle) { EXPECT_EQ(client->GetRemainingTransferBytes(0), 0u); }

}  // namespace
}  // namespace CommDiag::test
