// orbelctl's machine-data subcommands as a technician runs them, several in one call, against
// machine-sim on a pty; the JSON forms read back as a script would.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "machine_sim_process.h"
#include "orbelctl_run.h"
#include "temp_dir.h"

namespace {

using orbeltest::MachineSimProcess;

using Outcome = orbeltest::OrbelctlOutcome;

Outcome orbelctl(const std::string& arguments) { return orbeltest::runOrbelctl(arguments); }

bool has(const Outcome& o, const std::string& text) { return o.output.find(text) != std::string::npos; }

class OrbelctlData : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim.start({"--model", "crane", "--quiet", "--error", "0x1234:125", "--error", "17:65535"}, error))
            << error;
        params = dir.file("crane.csv",
                          "0;\"Speed; max\";1;0;255;1;;;;;;;12288;1\r\n1;Pressure;3;;;;;;;;;;12289;2\r\n"
                          "8;Offset;2;;;;;;;;;;12291;1\r\n94;Hs;1;;;;;;;;;;16386;1\r\n95;Hm;1;;;;;;;;;;16386;1\r\n"
                          "96;Hl;1;;;;;;;;;;16386;1\r\n97;Hh;1;;;;;;;;;;16386;1\r\n");
        // "COM3", not "\\.\COM3": the same port.
        base = "--quiet --port COM3 --device " + sim.ptyPath() + " --timeout 20 ";
    }

    MachineSimProcess sim;
    orbeltest::TempDir dir;
    std::string params, base;
};

TEST_F(OrbelctlData, ATechniciansSessionInOneCall) {
    const Outcome run = orbelctl(base + "connect identify params " + params +
                                 " --read set Pressure=4660 Offset=-5 8=-6 errors hours serial --write SN-NEW-1 "
                                 "material read 17 2 write 16 2A test-command 5 clear-errors");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(has(run, "Crane (machine number 5)")) << run.output;
    EXPECT_TRUE(has(run, "Speed; max")) << "quoted names keep their ';'";
    EXPECT_TRUE(has(run, "0x3001:2")) << run.output;
    EXPECT_TRUE(has(run, "-10          0xF6")) << "signed parameters in decimal and hex: " << run.output;
    EXPECT_TRUE(has(run, "set: Offset (8) = -6")) << run.output;
    EXPECT_TRUE(has(run, "52     2:05")) << "error 0x1234 after 125 minutes: " << run.output;
    EXPECT_TRUE(has(run, "17     1092:15")) << run.output;
    EXPECT_TRUE(has(run, "1        1034:43:20")) << run.output;
    EXPECT_TRUE(has(run, "serial: SN-NEW-1")) << run.output;
    EXPECT_TRUE(has(run, "17: 34 12")) << "the set value read raw: " << run.output;
    EXPECT_TRUE(has(run, "test-command: command 5 done")) << run.output;
    EXPECT_FALSE(has(run, "ORBEL_")) << "quiet hides the converter's trace";

    const Outcome json = orbelctl("--json " + base + "connect params " + params + " --read errors");
    ASSERT_EQ(json.status, 0) << json.output;
    const size_t second = json.output.find("\n[", json.output.find('['));
    ASSERT_NE(second, std::string::npos) << json.output;
    const auto list = nlohmann::json::parse(json.output.substr(json.output.find('['), second - json.output.find('[')));
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(list[0]["name"], "Speed; max");
    EXPECT_EQ(list[0]["value"], 0x2A);
    EXPECT_EQ(list[1]["value"], 4660);
    EXPECT_EQ(list[2]["value"], -6);
    EXPECT_EQ(list[2]["hex"], "0xFA");
    EXPECT_EQ(nlohmann::json::parse(json.output.substr(second)), nlohmann::json::array()) << "cleared before";
}

TEST_F(OrbelctlData, MistakesGiveOneClearLineAndTheirStatus) {
    Outcome run = orbelctl(base + "connect set Pressure=1");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(has(run, "load the description files first")) << run.output;
    run = orbelctl(base + "connect params " + params + " set Pressure=70000");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(has(run, "outside 0..65535")) << run.output;
    run = orbelctl(base + "connect params " + params + " set Nothing=1");
    EXPECT_EQ(run.status, 2);
    run = orbelctl(base + "params " + params + " --read");
    EXPECT_EQ(run.status, 1) << "no connection in this session: " << run.output;
    EXPECT_TRUE(has(run, "connect first")) << run.output;
    run = orbelctl(base + "connect params /nonexistent/file.csv");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(has(run, "cannot load /nonexistent/file.csv")) << run.output;
    run = orbelctl(base + "connect read 0x7000 1");
    EXPECT_EQ(run.status, 1) << "unknown address: " << run.output;
    run = orbelctl(base + "connect serial --write 12345678901234");
    EXPECT_EQ(run.status, 2);
    run = orbelctl("--library /nonexistent/liborbel_dll.so status");
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(has(run, "No such file")) << "the loader's reason: " << run.output;
}

}  // namespace
