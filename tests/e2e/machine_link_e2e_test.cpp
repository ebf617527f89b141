// The legacy host's connection and identification sequence, through the exports, against
// machine-sim on a pty with the real serial CAN driver.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "machine_sim_test.h"
#include "orbel_dll/orbel_dll.h"
#include "platform/clock.h"
#include "temp_dir.h"

namespace {

using orbeltest::exchange;

struct Model {
    const char* name;
    uint8_t family, number;  // 0xFB bytes 6 and 7
    uint8_t major, minor, patch;
    uint8_t statusByte1;  // 0x01 answer in the machine's default mode
};

std::ostream& operator<<(std::ostream& os, const Model& m) { return os << m.name; }

const Model kModels[] = {
    {"wren", 0x0A, 0x08, 2, 4, 1, 0x01},    {"wren-2", 0x0A, 0x09, 2, 4, 1, 0x01},
    {"finch", 0x0A, 0x0A, 1, 12, 3, 0x01},  {"swift", 0x0A, 0x0B, 3, 1, 0, 0x01},
    {"crane", 0x0A, 0x0C, 2, 5, 13, 0x01},  {"robin", 0x0A, 0x0E, 1, 0, 7, 0x01},
    {"kestrel", 0x0D, 0x01, 4, 2, 0, 0x01},
};

class MachineLink : public orbeltest::MachineSimTest {
protected:
    void startMachine(const std::string& model, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--model", model, "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        startSession(args);
    }

    // Repeats a command while the answer says busy, as the host does.
    std::vector<uint8_t> poll(uint8_t command, uint32_t limitMs = 20000) {
        return orbeltest::pollWhileBusy(command, limitMs, 20);
    }
};

class EveryModel : public MachineLink, public ::testing::WithParamInterface<Model> {};

TEST_P(EveryModel, ConnectsIdentifiesAndReportsStatus) {
    const Model& m = GetParam();
    startMachine(m.name);
    auto connect = poll(0xE6);
    ASSERT_GE(connect.size(), 5u);
    ASSERT_EQ(connect[3], 1) << "connected and serial number read";

    ASSERT_EQ(poll(0xFA)[3], 1) << "software version and machine type read";
    const auto id = exchange({0xAA, 0x03, 0xFB, 0x00, 0x00}).answer;
    ASSERT_EQ(id.size(), 26u);
    EXPECT_EQ(id[3], 1);
    EXPECT_EQ(id[6], m.family);
    EXPECT_EQ(id[7], m.number);
    EXPECT_EQ(id[8], static_cast<uint8_t>((m.major << 4) | (m.minor > 5 ? 0x0F : m.minor)));

    uint8_t revision[3] = {};
    ASSERT_EQ(ORBEL_ConvGetSWRevision(3, revision), ORBEL_OK);
    EXPECT_EQ(revision[0], m.major);
    EXPECT_EQ(revision[1], m.minor);
    EXPECT_EQ(revision[2], m.patch);

    const auto status = exchange({0xAA, 0x03, 0x01, 0x00, 0x00}).answer;
    ASSERT_EQ(status.size(), 9u);
    EXPECT_EQ(status[4], m.statusByte1);
    const auto boot = exchange({0xAA, 0x03, 0x04, 0x00, 0x00}).answer;
    ASSERT_EQ(boot.size(), 11u);
    EXPECT_EQ(boot[3], 1);
    EXPECT_EQ(boot[4], 1);
}

INSTANTIATE_TEST_SUITE_P(Shipped, EveryModel, ::testing::ValuesIn(kModels), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
});

TEST_F(MachineLink, BootloaderMachineEndsIdleAndIdentifiesAsBootloader) {
    startMachine("bootloader");
    ASSERT_EQ(poll(0xE6)[3], 1);
    ASSERT_EQ(poll(0xFA)[3], 1);
    const auto id = exchange({0xAA, 0x03, 0xFB, 0x00, 0x00}).answer;
    ASSERT_EQ(id.size(), 26u);
    EXPECT_EQ(id[6], 0x0A);
    EXPECT_EQ(id[7], 0x00);
    uint8_t revision[3] = {9, 9, 9};
    ASSERT_EQ(ORBEL_ConvGetSWRevision(3, revision), ORBEL_OK);
    EXPECT_EQ(revision[0] + revision[1] + revision[2], 0);
}

TEST_F(MachineLink, ANewSessionAfterDeInitConnectsAFreshClient) {
    startMachine("crane");
    ASSERT_EQ(poll(0xE6)[3], 1);
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    const auto first = exchange({0xAA, 0x03, 0xE6, 0x00, 0x00}).answer;
    ASSERT_GE(first.size(), 4u);
    EXPECT_EQ(first[3], 2) << "a new connection is being built, not reported at once";
    EXPECT_EQ(poll(0xE6)[3], 1);
    EXPECT_EQ(poll(0xFA)[3], 1);
}

TEST_F(MachineLink, AMachineThatNeverStartsLeavesTheConverterInErrorNotBusy) {
    startMachine("crane", {"--never-operational"});
    ASSERT_EQ(exchange({0xAA, 0x03, 0xE6, 0x00, 0x00}).answer[3], 2);
    // 0x0F answers busy while the connection runs, then "failed" (not connected); a new 0xE6
    // would only start the next attempt.
    const auto answer = poll(0x0F, 20000);
    ASSERT_GE(answer.size(), 4u);
    EXPECT_EQ(answer[3], 3) << "busy must end within the connection's time budget";
    EXPECT_EQ(exchange({0xAA, 0x03, 0x01, 0x00, 0x00}).answer.size(), 9u) << "still answering";
}

// A refused serial number still ends the connection (its number unknown), but a refused version
// read is reported failed, never as a version of zeros or of an earlier transfer; the next 0xFA
// reads again.
TEST_F(MachineLink, AbortedIdentificationReadsAreReportedFailedNotDone) {
    startMachine("finch", {"--abort", "0x5401:1=0x08000000", "--abort", "0x5404:1=0x06010001"});
    ASSERT_EQ(poll(0xE6)[3], 1) << "a refused serial number read still ends the sequence";
    EXPECT_EQ(poll(0xFA)[3], 3) << "the version read was refused";
    EXPECT_EQ(poll(0xFA)[3], 3) << "read again, refused again";
    uint8_t revision[3] = {0xEE, 0xEE, 0xEE};
    ASSERT_EQ(ORBEL_ConvGetSWRevision(3, revision), ORBEL_OK);
    EXPECT_EQ(revision[0] | revision[1] | revision[2], 0) << "nothing stored from the refused read";
    EXPECT_EQ(exchange({0xAA, 0x03, 0x01, 0x00, 0x00}).answer.size(), 9u) << "still answering";
}

TEST_F(MachineLink, AMachineFallingSilentAfterConnectingDoesNotWedgeTheConverter) {
    startMachine("swift", {"--silent-after-ms", "1500"});
    ASSERT_EQ(poll(0xE6)[3], 1);
    platform::sleepMs(1600);
    // The version read now times out in the client (4 s): the converter must leave busy then,
    // not stay in it. 0x0F answers busy until then and "done" after (still connected).
    ASSERT_EQ(exchange({0xAA, 0x03, 0xFA, 0x00, 0x00}).answer[3], 2);
    const uint32_t start = platform::tickCountMs();
    const auto answer = poll(0x0F, 10000);
    ASSERT_GE(answer.size(), 4u);
    EXPECT_EQ(answer[3], 1);
    EXPECT_LT(platform::tickCountMs() - start, 6000u);
    EXPECT_EQ(exchange({0xAA, 0x03, 0x01, 0x00, 0x00}).answer.size(), 9u);
}

// A de-init while a version read waits for the machine's answer: the new session is served. The
// test follows events, not time: the de-init comes once the twin has served the read (its answer
// then held back on the line), and the new session's steps end by the converter's answers.
TEST_F(MachineLink, DeInitWithAReadInFlightLeavesTheNextSessionServed) {
    orbeltest::TempDir dir;
    const std::string log = dir.path() + "/machine-sim.log";
    std::string error;
    ASSERT_TRUE(sim.start({"--model", "crane", "-v", "--delay-answers-ms", "1500"}, error, log)) << error;
    sim.serveCom1();
    ASSERT_EQ(orbeltest::initOnCom1(), ORBEL_OK);
    ASSERT_EQ(poll(0xE6)[3], 1);
    auto served = [&log](const std::string& text) {
        std::ifstream in(log);
        std::stringstream all;
        all << in.rdbuf();
        return all.str().find(text) != std::string::npos;
    };
    ASSERT_EQ(exchange({0xAA, 0x03, 0xFA, 0x00, 0x00}).answer[3], 2);
    const uint32_t start = platform::tickCountMs();
    while (!served("SDO read 5401:01") && platform::tickCountMs() - start < 20000) platform::sleepMs(5);
    ASSERT_TRUE(served("SDO read 5401:01")) << "version read served, its answer on its way";
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);

    ASSERT_EQ(orbeltest::initOnCom1(), ORBEL_OK);
    EXPECT_EQ(poll(0xE6, 30000)[3], 1) << "the converter left busy with the client that went";
    EXPECT_EQ(poll(0xFA, 30000)[3], 1);
}

// The machine is off for a connection start after an identification, then comes back: the
// identification runs again and ends.
TEST_F(MachineLink, IdentificationEndsAfterAConnectionStartFailedWhileTheMachineWasOff) {
    const uint32_t simStart = platform::tickCountMs();
    startMachine("crane", {"--silent-after-ms", "6000", "--silent-for-ms", "12000"});
    ASSERT_EQ(poll(0xE6)[3], 1);
    ASSERT_EQ(poll(0xFA)[3], 1);
    ASSERT_LT(platform::tickCountMs() - simStart, 5500u) << "identified before the machine went off";
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    while (platform::tickCountMs() - simStart < 6500) platform::sleepMs(50);
    ASSERT_EQ(exchange({0xAA, 0x03, 0xE6, 0x00, 0x00}).answer[3], 2);
    ASSERT_EQ(poll(0x0F, 20000)[3], 3) << "the connection start fails while the machine is off";
    // Back on: the host's next 0xE6 connects, and 0xFA identifies again.
    const uint32_t start = platform::tickCountMs();
    uint8_t connected = 0;
    while (connected != 1 && platform::tickCountMs() - start < 40000) {
        connected = poll(0xE6, 20000)[3];
        if (connected != 1) platform::sleepMs(200);
    }
    ASSERT_EQ(connected, 1);
    EXPECT_EQ(poll(0xFA, 10000)[3], 1);
    const auto id = exchange({0xAA, 0x03, 0xFB, 0x00, 0x00}).answer;
    ASSERT_EQ(id.size(), 26u);
    EXPECT_EQ(id[7], 0x0C);
}

// Exports called before the first init do not bind the client to a port: the init's port counts.
TEST_F(MachineLink, ExportsBeforeInitLeaveThePortToTheInit) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--model", "crane", "--quiet"}));
    EXPECT_EQ(ORBEL_ConvClearParameterList(), ORBEL_OK);
    uint8_t revision[3];
    EXPECT_EQ(ORBEL_ConvGetSWRevision(3, revision), ORBEL_FAILURE) << "nothing connected yet";
    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    EXPECT_EQ(poll(0xE6)[3], 1);
    EXPECT_EQ(poll(0xFA)[3], 1);
}

}  // namespace
