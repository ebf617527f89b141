// orbelctl as a service engineer runs it: a separate program loading the converter library by
// path, against machine-sim on a pty.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "machine_sim_process.h"
#include "orbelctl_run.h"

namespace {

using orbeltest::MachineSimProcess;

using Outcome = orbeltest::OrbelctlOutcome;

Outcome orbelctl(const std::string& arguments) { return orbeltest::runOrbelctl(arguments); }

class Orbelctl : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(Orbelctl, ConnectsAndIdentifiesEveryShippedModel) {
    MachineSimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--model", GetParam().first, "--quiet"}, error)) << error;
    const Outcome run = orbelctl("--quiet --device " + sim.ptyPath() + " --timeout 20 connect");
    EXPECT_EQ(run.status, 0) << run.output;
    // A new process: a new converter that connects again, then identifies.
    const Outcome id = orbelctl("--quiet --device " + sim.ptyPath() + " --timeout 20 identify");
    EXPECT_EQ(id.status, 1) << "identify needs a connection first: " << id.output;
    const std::string script = ::testing::TempDir() + "orbelctl_session_" + GetParam().first;
    FILE* file = std::fopen(script.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("connect\nidentify\nstatus\n", file);
    std::fclose(file);
    const Outcome session = orbelctl("--quiet --device " + sim.ptyPath() + " --timeout 20 --script " + script);
    std::remove(script.c_str());
    EXPECT_EQ(session.status, 0) << session.output;
    EXPECT_NE(session.output.find(GetParam().second), std::string::npos) << session.output;
    const bool bootloader = std::string(GetParam().first) == "bootloader";
    EXPECT_NE(session.output.find(bootloader ? "module status: no mode reported" : "module status: normal operation"),
              std::string::npos)
        << session.output;
    EXPECT_EQ(session.output.find("ORBEL_"), std::string::npos) << "quiet hides the converter's trace";
}

INSTANTIATE_TEST_SUITE_P(Shipped, Orbelctl,
                         ::testing::Values(std::make_pair("wren", "Wren (machine number 1)"),
                                           std::make_pair("wren-2", "Wren (machine number 2)"),
                                           std::make_pair("finch", "Finch (machine number 3)"),
                                           std::make_pair("swift", "Swift (machine number 4)"),
                                           std::make_pair("crane", "Crane (machine number 5)"),
                                           std::make_pair("robin", "Robin (machine number 6)"),
                                           std::make_pair("kestrel", "Kestrel (machine number 9)"),
                                           std::make_pair("bootloader", "bootloader")),
                         [](const auto& info) {
                             std::string name = info.param.first;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

TEST(OrbelctlFailures, EachGivesOneClearLineAndANonZeroStatus) {
    const Outcome noLibrary = orbelctl("--library /nonexistent/liborbel_dll.so status");
    EXPECT_EQ(noLibrary.status, 3);
    EXPECT_NE(noLibrary.output.find("cannot load the converter library"), std::string::npos) << noLibrary.output;

    const Outcome noPort = orbelctl("--quiet --device /nonexistent/tty --timeout 5 connect");
    EXPECT_EQ(noPort.status, 1) << noPort.output;
    EXPECT_NE(noPort.output.find("connect: failed"), std::string::npos) << noPort.output;

    const Outcome usage = orbelctl("send");
    EXPECT_EQ(usage.status, 2) << usage.output;
    const Outcome badHex = orbelctl("--quiet --device /nonexistent/tty send AA 0G");
    EXPECT_EQ(badHex.status, 2) << badHex.output;
}

TEST(OrbelctlFailures, AMachineThatNeverAnswersTimesOutInsteadOfHanging) {
    MachineSimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--model", "crane", "--quiet", "--silent-after-ms", "0"}, error)) << error;
    const Outcome run = orbelctl("--quiet --device " + sim.ptyPath() + " --timeout 3 connect");
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_NE(run.output.find("no answer from the machine"), std::string::npos) << run.output;
}

}  // namespace

namespace {

// The download subcommands as a script would run them (output not a terminal: a line per 10 %).
TEST(OrbelctlDownloads, BuildBinaryFirmwareProgressLinesAndRefusals) {
    std::string pattern = ::testing::TempDir() + "/orbelctl-dl-XXXXXX";
    const std::string dir = ::mkdtemp(pattern.data());
    FILE* a = std::fopen((dir + "/a.hex").c_str(), "wb");
    FILE* b = std::fopen((dir + "/b.hex").c_str(), "wb");
    ASSERT_TRUE(a && b);
    for (int i = 0; i < 2000; ++i) std::fputc(i & 0xFF, a);
    for (int i = 0; i < 1000; ++i) std::fputc(0x5A, b);
    std::fclose(a);
    std::fclose(b);

    MachineSimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--model", "crane", "--quiet", "--out-dir", dir, "--erase-ms", "100", "--reboot-ms", "100",
                           "--abort", "0x1F50:1=0x08000020"},
                          error))
        << error;
    const std::string base = "--quiet --device " + sim.ptyPath() + " --timeout 30 ";

    const Outcome built = orbelctl(base + "build-binary " + dir + " joined.bin");
    EXPECT_EQ(built.status, 0) << built.output;
    EXPECT_NE(built.output.find("joined.bin written (3000 bytes)"), std::string::npos) << built.output;

    EXPECT_EQ(orbelctl(base + "firmware " + dir + "/missing.hex").status, 2);
    EXPECT_EQ(orbelctl(base + "curve 0x12345 " + dir + "/a.hex").status, 2);
    const Outcome noBlock = orbelctl(base + "curve 0x5001 " + dir + "/a.hex");
    EXPECT_EQ(noBlock.status, 1) << noBlock.output;
    EXPECT_NE(noBlock.output.find("refused the block"), std::string::npos) << noBlock.output;

    // The machine refuses the image itself: the download fails, and says what was left behind.
    const Outcome flashed = orbelctl(base + "firmware " + dir);
    EXPECT_EQ(flashed.status, 1) << flashed.output;
    EXPECT_NE(flashed.output.find("build-binary: " + dir + "/firmware.bin written (3000 bytes)"), std::string::npos)
        << flashed.output;
    EXPECT_NE(flashed.output.find("firmware: failed; the machine may be left in its boot loader"), std::string::npos)
        << flashed.output;
    sim.stop();
    std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace

namespace {

// A technician's download session: firmware flashed and the machine back, then curve data.
TEST(OrbelctlDownloads, FirmwareAndCurveDataSucceed) {
    std::string pattern = ::testing::TempDir() + "/orbelctl-ok-XXXXXX";
    const std::string dir = ::mkdtemp(pattern.data());
    FILE* image = std::fopen((dir + "/fw.hex").c_str(), "wb");
    ASSERT_NE(image, nullptr);
    for (int i = 0; i < 1500; ++i) std::fputc((i * 7) & 0xFF, image);
    std::fclose(image);
    MachineSimProcess sim;
    std::string error;
    ASSERT_TRUE(
        sim.start({"--model", "crane", "--quiet", "--out-dir", dir, "--erase-ms", "100", "--reboot-ms", "100"}, error))
        << error;
    const Outcome run = orbelctl("--quiet --device " + sim.ptyPath() + " --timeout 30 firmware " + dir +
                                 "/fw.hex curve 0x300 " + dir + "/fw.hex");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("firmware: 1500 bytes flashed; the machine runs software 2.05.13"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("curve: 1500 bytes sent to 0x0300"), std::string::npos) << run.output;
    sim.stop();
    std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
