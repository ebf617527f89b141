// The read-block and write-block commands against a client that answers as the test says:
// when the converter is busy, what an answer request may report, and the limits of each store.
#include <gtest/gtest.h>

#include <cstring>

#include "host_session.h"
#include "inline_client.h"
#include "machine_link/orbel_commdiag.h"
#include "orbel_conv/orbel_conv.h"
#include "temp_dir.h"

namespace {

using orbeltest::exchange;
using orbeltest::FakeClient;
using orbeltest::InlineClient;
using Bytes = std::vector<uint8_t>;

class BlockCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ORBEL_CommDiag::setClientForTesting(&client);
        char port[] = "\\\\.\\COM1";
        ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
        conv = ORBEL_Conv::getInstance();
        conv->setConnected();
        conv->setMachineType({1, 5, 0});  // Crane
        std::string path = dir.file("p.csv",
                                    "0;A;1;;;;;;;;;;12288;1\n1;B;3;;;;;;;;;;12289;2\n"
                                    "94;s;1;;;;;;;;;;16386;1\n95;m;1;;;;;;;;;;16386;1\n");
        ASSERT_EQ(ORBEL_ConvAddParameterDescription(path.data(), 0), ORBEL_OK);
    }
    void TearDown() override {
        ORBEL_DllDeInit();
        ORBEL_CommDiag::setClientForTesting(nullptr);
    }
    static Bytes pkg(uint8_t code, Bytes payload) {
        // Appended byte by byte: gcc 12's -O3 sees a false bounds overrun in a range insert here.
        Bytes p{0xAA, static_cast<uint8_t>(payload.size() + 3), code, 0x11};
        for (uint8_t b : payload) p.push_back(b);
        p.push_back(0);
        return p;
    }
    static uint8_t state(const Bytes& answer) { return answer.size() > 3 ? answer[3] : 0xEE; }
    Bytes ask(uint8_t code, Bytes payload = {}) { return exchange(pkg(code, payload)).answer; }
    // Completes whatever the converter waits for; an error memory read ends at its first entry.
    void settle() {
        for (int i = 0; i < 300 && conv->isBusy() && !client.calls.empty(); ++i) {
            const FakeClient::Call c = client.last();
            if (c.op == "ReadErrorBufferEntry")
                c.domain(21, 8, static_cast<unsigned char>(c.subIndex), c.data, 16);
            else if (c.domain)
                c.domain(0, 8, 1, c.data, 16);
            else if (c.element)
                c.element(0, 1, 1, c.data);
            else
                break;
        }
    }
    size_t count(const std::string& op) const {
        size_t n = 0;
        for (const auto& c : client.calls) n += c.op == op;
        return n;
    }

    InlineClient client;
    ORBEL_Conv* conv = nullptr;
    orbeltest::TempDir dir;
};

TEST_F(BlockCommands, RequestsCompletingInsideTheirStartLeaveTheConverterIdleAndTheAnswerReady) {
    // Parameters: two reads, each completing inside its start.
    EXPECT_EQ(state(ask(0x07, {16, 3})), 1);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(count("ReadMachineParameter"), 2u);
    EXPECT_EQ(state(ask(0x08)), 1);
    // Serial and material number.
    EXPECT_EQ(state(ask(0x1D, {0x85, 0x02, 13})), 1);
    Bytes serial = ask(0x1E);
    ASSERT_EQ(serial.size(), 4u + 18 + 1);
    EXPECT_EQ(std::string(serial.begin() + 8, serial.begin() + 21), "SERIAL-NUMBER");
    EXPECT_EQ(state(ask(0x1D, {0x80, 0x02, 13})), 1);
    EXPECT_EQ(state(ask(0x1E)), 1);
    // Sensors of the whole table.
    EXPECT_EQ(state(ask(0x1D, {0x00, 0x01, 22})), 1);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    // Parameter write, counter fold included.
    EXPECT_EQ(state(ask(0x0D, {16, 1, 9})), 1);
    EXPECT_EQ(state(ask(0x0C)), 1);
    EXPECT_EQ(state(ask(0x0D, {111, 1, 2})), 1);
    EXPECT_EQ(state(ask(0x0C)), 1);
    EXPECT_EQ(count("WriteOpHoursCounter"), 1u);
    // Mode switch and a test command: the command's answer round, then done.
    EXPECT_EQ(state(ask(0x0D, {2, 2, 0x40, 5})), 1);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(state(ask(0x0C)), 2) << "the command started";
    EXPECT_EQ(count("WriteOutput"), 1u);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(state(ask(0x0C)), 1);
    // Kestrel's main counter, read and written.
    conv->setMachineType({2, 9, 0});
    EXPECT_EQ(state(ask(0x1D, {0x6C, 0x02, 3})), 1);
    EXPECT_EQ(state(ask(0x1E)), 1);
    EXPECT_EQ(state(ask(0x0B, {0x6C, 0x02, 3, 30, 1, 0})), 1);
    EXPECT_EQ(state(ask(0x0C)), 1);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
}

TEST_F(BlockCommands, AnAnswerRequestWaitsForTheMachineAndNeverReportsAFailureAsData) {
    client.inlineCompletion = false;
    EXPECT_EQ(state(ask(0x07, {16, 1})), 1);
    EXPECT_EQ(state(ask(0x08)), 2) << "the machine has not answered yet";
    EXPECT_EQ(state(ask(0x1D, {0x85, 0x02, 13})), 2) << "still busy: not accepted";
    client.last().element(19, 1, 1, client.last().data);  // time-out
    EXPECT_TRUE(conv->isError());
    EXPECT_EQ(state(ask(0x08)), 3) << "a failed read answers failed, not stale data";

    // The next read starts afresh; a chain whose next read cannot start ends failed.
    EXPECT_EQ(state(ask(0x07, {16, 3})), 1);
    EXPECT_FALSE(conv->isError());
    uint8_t v = 7;
    std::memcpy(client.last().data, &v, 1);
    client.nextResult = 18;
    client.last().element(0, 1, 1, client.last().data);
    EXPECT_TRUE(conv->isError());
    EXPECT_EQ(state(ask(0x08)), 3);
    client.nextResult = 0;

    // A serial number read that cannot start: failed and error, and its answer says so too.
    client.nextResult = 20;
    EXPECT_EQ(state(ask(0x1D, {0x85, 0x02, 13})), 3);
    EXPECT_EQ(state(ask(0x1E)), 3);
    client.nextResult = 0;

    // Nothing in the range: answered at once.
    const size_t before = client.calls.size();
    EXPECT_EQ(state(ask(0x07, {40, 4})), 1);
    EXPECT_EQ(client.calls.size(), before);
    EXPECT_EQ(state(ask(0x08)), 1);
}

TEST_F(BlockCommands, WritesThatCannotBeCarriedOutAreRefusedNotReportedDone) {
    client.inlineCompletion = false;
    // No parameter at all in the range.
    EXPECT_EQ(state(ask(0x0D, {40, 2, 1, 2})), 3);
    EXPECT_EQ(state(ask(0x0C)), 3);
    // Serial number longer than its 13-byte record: nothing written.
    Bytes longSerial{0x85, 0x02, 14};
    longSerial.resize(longSerial.size() + 14, 'X');
    EXPECT_EQ(state(ask(0x0B, longSerial)), 3);
    EXPECT_EQ(count("WriteSNNumber"), 0u);
    // Error memory clear whose first write-back is refused; an empty copy is nothing to clear.
    EXPECT_EQ(state(ask(0x0B, {0x20, 0x01, 2, 0, 0})), 1) << "empty copy";
    EXPECT_EQ(state(ask(0x0C)), 1);
    CommDiag::ErrorBufferEntry entry{};
    entry.id = 5;
    conv->getErrorMemoryHandler().AddErrorMemoryEntry(1, entry);
    client.nextResult = 18;
    EXPECT_EQ(state(ask(0x0B, {0x20, 0x01, 2, 0, 0})), 3);
    EXPECT_EQ(state(ask(0x0C)), 3);
    client.nextResult = 0;
}

TEST_F(BlockCommands, ARefusedModeSwitchDropsThePendingCommand) {
    client.inlineCompletion = false;
    EXPECT_EQ(state(ask(0x0D, {2, 2, 0x40, 5})), 1);
    client.last().element(0, 3, 1, client.last().data);  // mode read: the write follows
    client.last().element(0, 3, 1, client.last().data);  // mode written
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    client.nextResult = 18;
    EXPECT_EQ(state(ask(0x0D, {2, 2, 0x40, 9})), 3);
    client.nextResult = 0;
    // The host's service-mode command ends the error state (the machine is connected and
    // known); the command address is still the current one.
    const uint8_t serial[13] = {};
    conv->storeSerialNumber(serial);
    EXPECT_EQ(state(ask(0xE6)), 1);
    EXPECT_FALSE(conv->isError());
    EXPECT_EQ(state(ask(0x0C)), 1) << "no command pending";
    EXPECT_EQ(count("WriteOutput"), 0u) << "the earlier test command 5 must not run now";

    client.nextResult = 18;
    EXPECT_EQ(state(ask(0x0D, {2, 2, 0x40, 9})), 3);
    client.nextResult = 0;
    EXPECT_EQ(state(ask(0x0C)), 3) << "the mode switch failed";
    EXPECT_EQ(count("WriteOutput"), 0u);
}

TEST_F(BlockCommands, ErrorMemoryChainStopsAtTheLastSubIndexAndItsAnswerStaysInTheBuffer) {
    client.inlineCompletion = false;
    EXPECT_EQ(state(ask(0x1D, {0x20, 0x01, 255})), 1);
    for (int n = 1; n <= 255; ++n) {
        ASSERT_EQ(client.last().op, "ReadErrorBufferEntry");
        ASSERT_EQ(client.last().subIndex, n);
        auto* e = static_cast<CommDiag::ErrorBufferEntry*>(client.last().data);
        *e = CommDiag::ErrorBufferEntry{};
        e->id = static_cast<uint32_t>(n);
        e->timeMinutes = 61;
        e->info.field = 31;  // the machine's bits a clear must not carry over
        client.last().domain(0, 8, static_cast<unsigned char>(n), e, 16);
    }
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle) << "no request for sub-index 0 after 255";
    EXPECT_EQ(count("ReadErrorBufferEntry"), 255u);
    const Bytes answer = ask(0x1E);
    ASSERT_EQ(answer.size(), 4u + 255 + 5 + 1);
    EXPECT_EQ(state(answer), 1);
    EXPECT_EQ(answer[8], 1);
    EXPECT_EQ(answer[9], 1);
    EXPECT_EQ(answer[8 + 1 + 5 * 49], 50) << "the 50th record, the last that fits 255 bytes";
    EXPECT_EQ(answer[8 + 1 + 5 * 50], 0) << "no part of the 51st";
    EXPECT_EQ(answer[8 + 255], 0) << "the zero after the data";

    // Clearing writes entries zero in every field, to sub-indices 1, 2, ...
    EXPECT_EQ(state(ask(0x0B, {0x20, 0x01, 2, 0, 0})), 1);
    for (int n = 1; n <= 3; ++n) {
        ASSERT_EQ(client.last().op, "WriteErrorBufferEntry");
        EXPECT_EQ(client.last().subIndex, n);
        const auto* raw = static_cast<const uint8_t*>(client.last().data);
        for (int b = 0; b < 16; ++b) EXPECT_EQ(raw[b], 0) << "entry " << n << " byte " << b;
        client.last().domain(0, 8, static_cast<unsigned char>(n), client.last().data, 16);
    }
    EXPECT_TRUE(conv->isBusy()) << "252 more to write";
}

TEST_F(BlockCommands, EveryClassBoundaryWithLengthsZeroOneAnd255StaysInsideTheAnswer) {
    // Every request completes inside its start; the error memory ends at its first entry.
    const uint32_t addresses[] = {0,   2,   3,   4,   5,   15,     16,     255,    256,    277,   278, 283,
                                  284, 287, 288, 300, 303, 335,    336,    368,    369,    511,   512, 576,
                                  577, 619, 620, 640, 645, 0x27FF, 0x2800, 0x57FF, 0x5800, 0xFFFF};
    for (const int32_t model : {5, 9, 6}) {
        conv->setMachineType({100 + model, model, 0});
        for (const uint32_t address : addresses) {
            for (const uint8_t length : {0, 1, 255}) {
                const Bytes read =
                    ask(0x1D, {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), length});
                ASSERT_EQ(read.size(), 5u);
                settle();
                const Bytes answer = ask(0x1E);
                ASSERT_EQ(answer.size(), 4u + length + 5 + 1) << address << "/" << int(length);
                EXPECT_NE(state(answer), 2) << address;

                Bytes write{static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), length};
                write.resize(write.size() + length, 0);
                const Bytes written = ask(0x0B, write);
                ASSERT_EQ(written.size(), 5u);
                settle();
                const uint8_t done = state(ask(0x0C));
                EXPECT_TRUE(done == 1 || done == 3) << address << "/" << int(length) << ": " << int(done);
                conv->setIdle();
            }
        }
    }
}

TEST_F(BlockCommands, TraceLinesSayWhatHappened) {
    ::testing::internal::CaptureStdout();
    ask(0x1D, {0x00, 0x70, 1});
    client.inlineCompletion = false;
    ask(0x07, {16, 1});
    ask(0x08);
    client.last().element(19, 1, 1, client.last().data);
    client.nextResult = 18;
    ask(0x1D, {0x20, 0x01, 16});
    client.nextResult = 0;
    std::string path = dir.file("bad.csv", "1;short;1\n2;Float;7;;;;;;;;;;12294;1\n0;Again;1;;;;;;;;;;12288;2\n");
    ORBEL_ConvAddParameterDescription(path.data(), 0);
    const std::string trace = ::testing::internal::GetCapturedStdout();
    for (
        const char* line :
        {"ORBEL_ClbReadBlock(): unkown address 0x7000 requested\n",
         "ORBEL_ClbReadBlock(): requested addr 0x0010 requested length 1\n", "ReadMachineParameter_callback(): 0x13\n",
         "ORBEL_ClbReadBlock(): error memory request failed 18\n",
         "ORBEL_ParameterHandler::AddParameterDescription(): unable to split line 1;short;1\n",
         "ORBEL_ParameterHandler::AddParameterDescription(): unable to parse parameter type! Float - parameter 18 will be "
         "ignored\n",
         "ORBEL_ParameterList::AddParameter(): parameter 16 with name Again already exists - duplicate?\n",
         "ORBEL_ParameterHandler::RunReadRequest(): starting new parameter request param type: 0x0001 sub index: 1 "
         "parameter address: 0x10\n"})
        EXPECT_NE(trace.find(line), std::string::npos) << line;
}

}  // namespace

// A machine no model knows (or none identified yet): address 0 is no error memory, parameter or
// counter, and nothing is read or written on the machine.
TEST_F(BlockCommands, WithoutAKnownModelNoAddressBelongsToAnyClass) {
    conv->setMachineType({3, 200, 0});  // a new type record: the model is chosen again
    const size_t before = client.calls.size();
    for (uint8_t address : {0, 1, 4, 0x6C}) {
        EXPECT_EQ(state(ask(0x07, {address, 1})), address == 4 ? 1 : 3) << int(address);
        EXPECT_EQ(state(ask(0x0D, {address, 1, 7})), 3) << int(address);
    }
    EXPECT_EQ(state(ask(0x1D, {0x00, 0x00, 1})), 3);
    EXPECT_EQ(state(ask(0x0B, {0x00, 0x00, 1, 7})), 3);
    EXPECT_EQ(client.calls.size(), before) << "nothing started on the machine";
    EXPECT_FALSE(conv->isBusy());
}
