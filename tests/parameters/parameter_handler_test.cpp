// Parameter read and write sequences over a parameter list, with a link that records what the
// machine is asked and lets the test play the completions.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/orbel_convbuffer.h"
#include "fake_parameter_link.h"
#include "parameters/orbel_parameterhandler.h"
#include "temp_dir.h"

namespace {

using orbeltest::FakeParameterLink;
using orbeltest::TempDir;

std::string line(int number, const std::string& name, int type, int object, int sub) {
    return std::to_string(number) + ";" + name + ";" + std::to_string(type) + ";;;;;;;;;;" + std::to_string(object) +
           ";" + std::to_string(sub) + "\n";
}

class ParameterHandler : public ::testing::Test {
protected:
    void SetUp() override {
        std::string file;
        file += line(0, "U8", 1, 0x3000, 1);              // 16
        file += line(1, "U16", 3, 0x3001, 2);             // 17-18
        file += line(3, "U8b", 2, 0x3000, 3);             // 19
        file += line(4, "U32", 5, 0x3002, 4);             // 20-23
        file += line(8, "I8", 1, 0x3003, 1);              // 24
        file += line(9, "I16", 3, 0x3004, 1);             // 25-26
        file += line(11, "I32", 5, 0x3005, 1);            // 27-30
        file += line(15, "Float", 5, 0x3006, 1);          // 31-34, never on the bus
        file += line(19, "SignedCounter", 1, 0x4003, 1);  // 35
        file += line(20, "FloatCounter", 5, 0x4006, 1);   // 36-39
        // Family counter 1 at 110..113 without its hours-high byte; counter 2 at 114..117.
        file += line(94, "C1 s", 1, 0x4002, 1);
        file += line(95, "C1 m", 1, 0x4002, 1);
        file += line(96, "C1 hl", 1, 0x4002, 1);
        for (int k = 0; k < 4; ++k) file += line(98 + k, "C2", 1, 0x4002, 2);
        ASSERT_TRUE(handler.AddParameterDescription(dir.file("p.txt", file).c_str(), 0));
    }

    // Plays the machine: answers each read with the value the test gives for its request.
    template <typename Value>
    void complete(int32_t type, Value value) {
        handler.SetParameterValueForCurrentReq(type, &value);
    }
    std::vector<uint8_t> answer(uint32_t address, uint8_t count) {
        ORBEL_ConvBuffer buffer(512);
        const std::vector<uint8_t> area(4 + count + 2, 0xEE);  // sentinel bytes around the data
        buffer.writeBytes(static_cast<uint32_t>(area.size()), area.data());
        handler.BuildParameterReadReqAnswer(address, count, &buffer, 4);
        std::vector<uint8_t> bytes;
        for (uint32_t i = 0; i < buffer.getByteCount(); ++i) {
            uint8_t b = 0;
            buffer.readByte(i, &b);
            bytes.push_back(b);
        }
        return std::vector<uint8_t>(bytes.begin() + 4, bytes.end());
    }

    FakeParameterLink link;
    ORBEL_ParameterHandler handler{link, link};
    TempDir dir;
};

TEST_F(ParameterHandler, ReadsOneObjectPerParameterLowestFirstAndAnswersLittleEndian) {
    int32_t result = -1;
    ASSERT_TRUE(handler.StartParameterReadRequest(&result, 16, 15));
    EXPECT_EQ(result, 0);
    complete<uint8_t>(1, 0xAB);  // 16
    ASSERT_TRUE(handler.RunReadRequest(&result, 0));
    complete<uint16_t>(2, 0x1234);  // 17
    ASSERT_TRUE(handler.RunReadRequest(&result, 0));
    complete<uint8_t>(1, 0x5C);  // 19
    ASSERT_TRUE(handler.RunReadRequest(&result, 0));
    complete<uint32_t>(3, 0xA1B2C3D4);  // 20
    ASSERT_TRUE(handler.RunReadRequest(&result, 0));
    complete<int8_t>(4, -10);  // 24: the bit pattern is kept
    ASSERT_TRUE(handler.RunReadRequest(&result, 0));
    complete<int16_t>(5, -1000);  // 25
    ASSERT_TRUE(handler.RunReadRequest(&result, 0));
    complete<int32_t>(6, -2);  // 27
    EXPECT_FALSE(handler.RunReadRequest(&result, 0)) << "the float parameter at 31 is left out";

    ASSERT_EQ(link.requests.size(), 7u);
    const int expectedTypes[] = {1, 2, 1, 3, 4, 5, 6};
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(link.requests[i].op, "ReadMachineParameter");
        EXPECT_EQ(link.requests[i].type, expectedTypes[i]) << i;
    }
    EXPECT_EQ(answer(16, 15), (std::vector<uint8_t>{0xAB, 0x34, 0x12, 0x5C, 0xD4, 0xC3, 0xB2, 0xA1, 0xF6, 0x18, 0xFC,
                                                    0xFE, 0xFF, 0xFF, 0xFF, 0xEE, 0xEE}));
}

TEST_F(ParameterHandler, ARangeStartingInsideAParameterAndOneEndingInsideIt) {
    int32_t result = -1;
    ASSERT_TRUE(handler.StartParameterReadRequest(&result, 18, 3));  // 18 is the U16's second byte
    complete<uint8_t>(1, 0x11);
    ASSERT_TRUE(handler.RunReadRequest(&result, 0));
    complete<uint32_t>(3, 0x44332211);
    EXPECT_FALSE(handler.RunReadRequest(&result, 0));
    ASSERT_EQ(link.requests.size(), 2u) << "19 and 20 only";
    // 18 answers nothing (its byte keeps the buffer's content); the U32 at the last requested
    // byte writes only that byte, nothing past the area.
    EXPECT_EQ(answer(18, 3), (std::vector<uint8_t>{0xEE, 0x11, 0x11, 0xEE, 0xEE}));
}

TEST_F(ParameterHandler, CountersAreReadAsWholeCountersAndEachByteKeepsItsPart) {
    int32_t result = -1;
    ASSERT_TRUE(handler.StartParameterReadRequest(&result, 110, 8));
    for (int i = 0; i < 7; ++i) {
        complete<uint32_t>(3, 3725000u);  // 1034 h 43 min 20 s
        EXPECT_EQ(handler.RunReadRequest(&result, 0), i < 6) << i;
    }
    for (const auto& r : link.requests) EXPECT_EQ(r.op, "ReadOpHoursCounter");
    EXPECT_EQ(answer(110, 8), (std::vector<uint8_t>{20, 43, 10, 0xEE, 20, 43, 10, 4, 0xEE, 0xEE}));

    link.requests.clear();
    ASSERT_TRUE(handler.StartParameterReadRequest(&result, 35, 5));
    EXPECT_EQ(link.requests.size(), 1u) << "the float counter at 36 is left out";
    EXPECT_EQ(link.requests[0].op, "ReadOpHoursCounter") << "0x4003 goes through the counter operation";
    EXPECT_EQ(link.requests[0].type, 4);
}

TEST_F(ParameterHandler, WritesFoldCountersClearTheirChangesAndRepeatOtherChanges) {
    // Minutes of counter 1 (hours-high byte missing from the file: 0), a U16 and the signed counter.
    handler.ChangeValueForCurrentReqAddressBased(111, 30, 0, 0, 0);
    handler.ChangeValueForCurrentReqAddressBased(112, 2, 0, 0, 0);
    handler.ChangeValueForCurrentReqAddressBased(17, 0x34, 0x12, 0, 0);
    handler.ChangeValueForCurrentReqAddressBased(35, 5, 0, 0, 0);
    handler.ChangeValueForCurrentReqAddressBased(31, 1, 2, 3, 4);  // float: changed, never written
    int32_t result = -1;
    ASSERT_TRUE(handler.StartParameterWriteRequest(&result));
    handler.WriteRequestSucceeded();
    ASSERT_TRUE(handler.RunWriteRequest(&result, 0));
    handler.WriteRequestSucceeded();
    EXPECT_FALSE(handler.RunWriteRequest(&result, 0));
    ASSERT_EQ(link.requests.size(), 2u);
    EXPECT_EQ(link.requests[0].op, "WriteMachineParameter");
    EXPECT_EQ(link.requests[0].value, 0x1234u);
    EXPECT_EQ(link.requests[1].op, "WriteOpHoursCounter");
    EXPECT_EQ(link.requests[1].type, 3);
    EXPECT_EQ(link.requests[1].value, 30u * 60 + 2u * 3600) << "one write of the whole counter";

    // A later write: the ordinary parameter changed back then goes again, the counter does not.
    link.requests.clear();
    handler.ChangeValueForCurrentReqAddressBased(16, 9, 0, 0, 0);
    ASSERT_TRUE(handler.StartParameterWriteRequest(&result));
    while (handler.RunWriteRequest(&result, 0)) {
    }
    ASSERT_EQ(link.requests.size(), 2u);
    EXPECT_EQ(link.requests[0].value, 9u);
    EXPECT_EQ(link.requests[1].value, 0x1234u);

    // A counter write that fails keeps its change for the next write.
    link.requests.clear();
    handler.ChangeValueForCurrentReqAddressBased(115, 7, 0, 0, 0);
    ASSERT_TRUE(handler.StartParameterWriteRequest(&result));
    while (handler.RunWriteRequest(&result, 0)) {
    }
    link.requests.clear();
    ASSERT_TRUE(handler.StartParameterWriteRequest(&result));
    while (handler.RunWriteRequest(&result, 0)) {
    }
    EXPECT_EQ(link.requests.back().op, "WriteOpHoursCounter");
    EXPECT_EQ(link.requests.back().value, 7u * 60);
}

TEST_F(ParameterHandler, ClearingDuringAReadOnAnotherThreadIsSafe) {
    // The stack thread keeps storing and running while the host clears the lists.
    int32_t result = -1;
    std::atomic<bool> stop{false};
    std::thread stack([&] {
        int32_t stackResult = -1;
        while (!stop) {
            uint8_t v = 1;
            handler.SetParameterValueForCurrentReq(1, &v);
            handler.RunReadRequest(&stackResult, 0);
        }
    });
    for (int i = 0; i < 200; ++i) {
        handler.StartParameterReadRequest(&result, 16, 30);
        handler.ClearParameterList();
        handler.AddParameterDescription(dir.file("q.txt", line(i % 50, "P", 1, 0x3000, 1)).c_str(), 0);
    }
    stop = true;
    stack.join();
    EXPECT_EQ(handler.parameterCount(0), 1u);
}

}  // namespace
