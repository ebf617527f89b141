// A service technician's machine data through the 13 exports, against machine-sim on a pty with
// the real serial CAN driver: parameters from description files, sensors, operating hours,
// error memory, serial and material numbers, modes and test commands. Each scenario checks the
// legacy answers byte for byte and what reached the machine in the twin's record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "legacy_host.h"
#include "machine/imachinespecific.h"
#include "machine/value_type.h"
#include "machine_sim_test.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_dll/orbel_dll.h"
#include "temp_dir.h"

namespace {

using namespace orbeltest;
using Bytes = std::vector<uint8_t>;

struct Model {
    const char* name;
    uint8_t number;
};
std::ostream& operator<<(std::ostream& os, const Model& m) { return os << m.name; }
const Model kModels[] = {{"wren", 1},  {"wren-2", 2}, {"finch", 3},  {"swift", 4},
                         {"crane", 5}, {"robin", 6},  {"kestrel", 9}};

// The legacy byte k of a sensor value, by the packing rules of the sensor answer.
uint8_t sensorByte(const FeatureRequest& row, const EdsValues& eds, unsigned k) {
    const unsigned shift = 8 * k;
    if (row.valueType == VALUE_TYPE_FLOAT) {
        const float f = std::stof(eds.text(static_cast<unsigned>(row.canObjectIndex), row.canSubIndex));
        const uint32_t thousandths = static_cast<uint32_t>(static_cast<int64_t>(static_cast<double>(f) * 1000.0));
        return static_cast<uint8_t>((thousandths / 1000) >> shift);
    }
    const long long v = eds.integer(static_cast<unsigned>(row.canObjectIndex), row.canSubIndex);
    if (row.valueType == VALUE_TYPE_U8) return static_cast<uint8_t>((v << row.bitShift) & 0xFF);
    return static_cast<uint8_t>((v >> shift) & 0xFF);
}

// One parameter per line, 14 fields; the names and odd lines are what a real file holds.
std::string descriptionFile() {
    auto l = [](const std::string& number, const std::string& name, const std::string& type, const std::string& object,
                const std::string& sub) {
        return number + ";" + name + ";" + type + ";0;255;1;;;;;;;" + object + ";" + sub + "\r\n";
    };
    std::string f;
    f += l("0", "\"Speed; max\"", "1", "12288", "1");  // 16: U8 0x3000/1
    f += l("1", "Pressure", "3", "12289", "2");        // 17-18: U16 0x3001/2
    f += l("3", "Level", "1", "12288", "3");           // 19: U8 0x3000/3
    f += l("4", "Total", "5", "12290", "1");           // 20-23: U32 0x3002/1
    f += l("8", "Offset", "2", "12291", "1");          // 24: I8 0x3003/1
    f += l("9", "Trim", "4", "12292", "2");            // 25-26: I16 0x3004/2
    f += "11;Thirteen;1;0;255;1;;;;;;12288;7\r\n";     // 13 fields: skipped
    f += "12;Fifteen;1;0;255;1;;;;;;;;12288;8\r\n";    // 15 fields: skipped
    f += l("13", "Ratio", "7", "12294", "1");          // type code 7: skipped
    f += l("14", "First", "1", "12288", "5");          // 30, replaced by the next line
    f += l("14", "Second", "1", "12288", "6");         // 30: U8 0x3000/6
    for (int k = 0; k < 8; ++k)                        // family counters 1 and 2 at 110..117
        f += l(std::to_string(94 + k), "Hours " + std::to_string(k), "1", "16386", k < 4 ? "1" : "2");
    return f;
}

class MachineData : public MachineSimTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp.path().empty());
        recordPath = temp.path() + "/record.json";
        descriptionPath = temp.file("params.csv", descriptionFile());
    }
    void startMachine(const std::string& model, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--model", model, "--quiet", "--record", recordPath};
        args.insert(args.end(), extra.begin(), extra.end());
        startSession(args);
    }
    void connect() {
        ASSERT_EQ(stateOf(poll(package(0xE6, {}))), 1);
        ASSERT_EQ(stateOf(poll(package(0xFA, {}))), 1);
    }
    void loadDescription() {
        std::string path = descriptionPath + "@list 0";  // the host may append an at sign and more
        ASSERT_EQ(ORBEL_ConvAddParameterDescription(path.data(), 0), ORBEL_OK);
    }
    TwinRecord stopAndRecord() {
        stopSession();
        return TwinRecord::load(recordPath);
    }
    // Waits until the converter has finished what a command started (0x0F is answered busy
    // until then).
    void waitIdle() { poll(package(0x0F, {})); }

    TempDir temp;
    std::string recordPath, descriptionPath;
};

class EveryModel : public MachineData, public ::testing::WithParamInterface<Model> {};

TEST_P(EveryModel, ParametersCountersSensorsNumbersAndErrorMemory) {
    const Model& m = GetParam();
    const bool kestrel = m.number == 9;
    const EdsValues eds(m.name);
    startMachine(m.name, {"--error", "0x1234:125:3", "--error", "17:65535", "--error", "300:3000"});

    // Nothing answers data before the machine is connected; the answer still has its zeros.
    loadDescription();
    EXPECT_EQ(stateOf(exchange(package(0x07, {16, 2})).answer), 3);
    Bytes none{0xAA, 0x07, 0x08, 0x03, 0, 0, 0, 0, 0};
    none.push_back(orbel::frameChecksum(none.data(), none.size()));
    EXPECT_EQ(exchange(package(0x08, {})).answer, none) << "stored request: none yet, long layout, length 0";
    connect();

    // An answer request before any read: the stored request (address 0) is no class.
    EXPECT_EQ(stateOf(exchange(package(0x08, {})).answer), 3);

    // Short layout, byte for byte: U8, U16, U8, U32, I8, I16, little-endian.
    const long long u8a = eds.integer(0x3000, 1), u16 = eds.integer(0x3001, 2), u8b = eds.integer(0x3000, 3);
    const long long u32 = eds.integer(0x3002, 1), i8 = eds.integer(0x3003, 1), i16 = eds.integer(0x3004, 2);
    auto r = readBlock(16, 11, false);
    EXPECT_EQ(stateOf(r.request), 1);
    Bytes expected{0xAA,
                   0x07,
                   0x08,
                   0x01,
                   0x11,
                   16,
                   11,
                   static_cast<uint8_t>(u8a),
                   static_cast<uint8_t>(u16),
                   static_cast<uint8_t>(u16 >> 8),
                   static_cast<uint8_t>(u8b),
                   static_cast<uint8_t>(u32),
                   static_cast<uint8_t>(u32 >> 8),
                   static_cast<uint8_t>(u32 >> 16),
                   static_cast<uint8_t>(u32 >> 24),
                   static_cast<uint8_t>(i8),
                   static_cast<uint8_t>(i16),
                   static_cast<uint8_t>(i16 >> 8),
                   0};
    expected.push_back(orbel::frameChecksum(expected.data(), expected.size()));
    EXPECT_EQ(r.answer, expected);

    // Long layout: address low and high, then the length.
    r = readBlock(17, 2, true);
    expected = {0xAA, 0x07, 0x1E, 0x01, 0x11, 17, 0, 2, static_cast<uint8_t>(u16), static_cast<uint8_t>(u16 >> 8), 0};
    expected.push_back(orbel::frameChecksum(expected.data(), expected.size()));
    EXPECT_EQ(r.answer, expected);

    // Starting inside the U16 (18 answers nothing), ending on the U32's first byte (only that
    // byte; the zero after the data stays zero).
    r = readBlock(18, 3, false);
    EXPECT_EQ(r.data(), (Bytes{0, static_cast<uint8_t>(u8b), static_cast<uint8_t>(u32), 0}));

    // The later duplicate of 30 won; the skipped lines left 27..29 empty.
    r = readBlock(27, 4, false);
    EXPECT_EQ(r.data(), (Bytes{0, 0, 0, static_cast<uint8_t>(eds.integer(0x3000, 6)), 0}));

    // Family counters: each byte its part of the whole counter, read once per byte.
    const long long c1 = eds.integer(0x4002, 1), c2 = eds.integer(0x4002, 2);
    r = readBlock(110, 8, false);
    auto part = [](long long s) {
        return Bytes{static_cast<uint8_t>(s % 60), static_cast<uint8_t>(s % 3600 / 60), static_cast<uint8_t>(s / 3600),
                     static_cast<uint8_t>(s / 921600)};
    };
    Bytes counters = part(c1);
    for (uint8_t b : part(c2)) counters.push_back(b);
    counters.push_back(0);
    EXPECT_EQ(r.data(), counters);

    // Writes: 1 byte (0x0D), 2 bytes (0x0B), 4 bytes (0x1F), a length-3 write of the U32 (bytes
    // past the length count as 0), a signed byte, a minutes byte (one write of the whole
    // counter), then a write that must not send the counter again.
    EXPECT_EQ(writeBlock(0x0D, 16, {0x5A}).answerState, 1);
    EXPECT_EQ(writeBlock(0x0B, 17, {0x34, 0x12}).answerState, 1);
    EXPECT_EQ(writeBlock(0x1F, 20, {1, 2, 3, 4}).answerState, 1);
    EXPECT_EQ(writeBlock(0x0B, 20, {0x11, 0x22, 0x33}).answerState, 1);
    EXPECT_EQ(writeBlock(0x0D, 24, {0xF0}).answerState, 1);
    EXPECT_EQ(writeBlock(0x0D, 111, {30}).answerState, 1);
    EXPECT_EQ(writeBlock(0x0D, 19, {7}).answerState, 1);
    const auto nothing = writeBlock(0x0D, 27, {1, 2});
    EXPECT_EQ(nothing.requestState, 3) << "no parameter in the range: nothing written";
    EXPECT_EQ(nothing.answerState, 3);

    // The values are read back as written.
    r = readBlock(16, 9, false);
    EXPECT_EQ(r.data(), (Bytes{0x5A, 0x34, 0x12, 7, 0x11, 0x22, 0x33, 0, 0xF0, 0}));

    // Serial and material numbers both ways; a record longer than 13 bytes is refused.
    const uint32_t serialAddr = 645, materialAddr = 640;
    r = readBlock(serialAddr, 13, true);
    EXPECT_EQ(r.data(), [&] {
        Bytes b = eds.octets(0x5404, 1);
        b.push_back(0);
        return b;
    }());
    const Bytes newSerial{'S', 'N', '9', '9', '-', '1', '2', '3', '4', '5', '6', '7', '8'};
    EXPECT_EQ(writeBlock(0x0B, serialAddr, newSerial).answerState, 1);
    EXPECT_EQ(writeBlock(0x0B, serialAddr, Bytes(14, 'X')).requestState, 3);
    Bytes d = readBlock(serialAddr, 13, true).data();
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 13), newSerial);
    d = readBlock(materialAddr, 20, true).data();
    ASSERT_EQ(d.size(), 21u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 13), eds.octets(0x5405, 1));
    EXPECT_EQ(Bytes(d.begin() + 13, d.end()), Bytes(8, 0)) << "13 bytes, the rest zero";
    const Bytes newMaterial{'M', 'A', 'T', '-', '9', '9', '9'};
    EXPECT_EQ(writeBlock(0x0B, materialAddr, newMaterial).answerState, 1);

    // Sensors: every row of the model's table, one read over the whole sensor memory.
    FeatureRequestMap rows;
    ORBEL_Conv::getInstance()->getMachineSpecific()->FillSensorReqMap(256, 48, rows);  // the model in use
    ASSERT_FALSE(rows.empty());
    Bytes sensors(48, 0);
    for (const auto& row : rows)
        for (unsigned k = 0; k < row.second.stLength; ++k)
            sensors[row.second.stAddress - 256 + k] = sensorByte(row.second, eds, k);
    r = readBlock(256, 48, true);
    EXPECT_EQ(stateOf(r.answer), 1);
    d = r.data();
    ASSERT_EQ(d.size(), 49u);
    EXPECT_EQ(Bytes(d.begin(), d.end() - 1), sensors);

    // Error memory: entries 1..3, the chain ending on the missing sub-index 4; then cleared.
    const uint32_t archive = kestrel ? 336 : 288;
    r = readBlock(archive, 16, true);
    EXPECT_EQ(r.data(), (Bytes{1, 0x34, 0, 5, 2, 0, 17, 0, 15, 0x44, 4, 44, 0, 0, 50, 0, 0}));
    EXPECT_EQ(writeBlock(0x0B, archive, {0, 0}).answerState, 1);
    r = readBlock(archive, 6, true);
    EXPECT_EQ(stateOf(r.answer), 1);
    EXPECT_EQ(r.data(), (Bytes{1, 0, 0, 0, 0, 0, 0})) << "cleared: no entries";

    // Address 4 reads as 1 behind the data; lengths 0 stay inside the answer.
    r = readBlock(4, 1, false);
    expected = {0xAA, 0x07, 0x08, 0x01, 0x11, 4, 0, 0, 1};
    expected.push_back(orbel::frameChecksum(expected.data(), expected.size()));
    EXPECT_EQ(r.answer, expected);
    r = readBlock(4, 0, false);
    EXPECT_EQ(r.answer.size(), 9u);
    // Unknown addresses.
    EXPECT_EQ(stateOf(readBlock(0x7000, 1, true).request), 3);
    EXPECT_EQ(writeBlock(0x0B, 0x7000, {1}).requestState, 3);

    // Operating hours: Kestrel's main counter (the same object as family counter 1, written
    // above with 30 minutes) as minutes, hours low, hours high; an unknown address elsewhere.
    const long long folded = c1 % 60 + 60 * (30 + 60 * (c1 / 3600));
    if (kestrel) {
        r = readBlock(620, 3, true);
        EXPECT_EQ(r.data(), (Bytes{30, static_cast<uint8_t>(folded / 3600), static_cast<uint8_t>(folded / 921600), 0}));
        EXPECT_EQ(writeBlock(0x0B, 620, {30, 0x10, 0x01}).answerState, 1);
        EXPECT_EQ(readBlock(620, 0, true).answer.size(), 10u) << "length 0: nothing written past the area";
    } else {
        EXPECT_EQ(stateOf(readBlock(620, 3, true).request), 3);
    }

    // The parameter list is dropped by the export: reads answer at once, with nothing in them.
    ASSERT_EQ(ORBEL_ConvClearParameterList(), ORBEL_OK);
    r = readBlock(16, 2, false);
    EXPECT_EQ(stateOf(r.request), 1);
    EXPECT_EQ(r.data(), (Bytes{0, 0, 0}));

    const TwinRecord record = stopAndRecord();
    // One machine read per parameter, lowest address first (the first read of 16..26).
    const auto params = record.accesses(0x3000, 0x3006);
    ASSERT_GE(params.size(), 6u);
    const std::pair<unsigned, unsigned> order[] = {{0x3000, 1}, {0x3001, 2}, {0x3000, 3},
                                                   {0x3002, 1}, {0x3003, 1}, {0x3004, 2}};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_TRUE(params[i].read);
        EXPECT_EQ(params[i].index, order[i].first) << i;
        EXPECT_EQ(params[i].sub, order[i].second) << i;
    }
    for (const auto& a : params) EXPECT_NE(a.index, 0x3006u) << "float parameters never go to the machine";
    // Writes as the machine saw them; every changed parameter goes again with each later write.
    std::vector<std::string> writes;
    for (const auto& a : params)
        if (!a.read) writes.push_back(std::to_string(a.index - 0x3000) + "/" + std::to_string(a.sub) + "=" + a.data);
    EXPECT_EQ(writes, (std::vector<std::string>{"0/1=5A",       "0/1=5A",       "1/2=3412", "0/1=5A",       "1/2=3412",
                                                "2/1=01020304", "0/1=5A",       "1/2=3412", "2/1=11223300", "0/1=5A",
                                                "1/2=3412",     "2/1=11223300", "3/1=F0",   "0/1=5A",       "1/2=3412",
                                                "2/1=11223300", "3/1=F0",       "0/1=5A",   "1/2=3412",     "0/3=07",
                                                "2/1=11223300", "3/1=F0"}));
    EXPECT_EQ(record.value(0x3002, 1), 0x332211);
    EXPECT_EQ(record.value(0x3003, 1), -16);
    // The counter: read as a whole per byte, written once, as a whole, and not again.
    std::vector<std::string> counterWrites;
    size_t counterReads = 0;
    for (const auto& a : record.accesses(0x4000, 0x4006)) {
        if (a.read)
            ++counterReads;
        else
            counterWrites.push_back(std::to_string(a.index) + "/" + std::to_string(a.sub));
    }
    EXPECT_EQ(counterReads, kestrel ? 10u : 8u);
    EXPECT_EQ(counterWrites.size(), kestrel ? 2u : 1u);
    EXPECT_EQ(record.value(0x4002, 1), kestrel ? 981000 : folded);
    // Serial and material numbers kept by the machine.
    EXPECT_EQ(record.value(0x5404, 1), hexOf(newSerial));
    Bytes material = newMaterial;
    material.resize(13, 0);
    EXPECT_EQ(record.value(0x5405, 1), hexOf(material));
    // The error buffer: read 1..4 (4 missing), zero records written to 1..3, read 1 (missing).
    std::vector<std::string> errors;
    for (const auto& a : record.accesses(0x5300, 0x5300))
        errors.push_back(std::string(a.read ? "r" : "w") + std::to_string(a.sub) + (a.abort.empty() ? "" : "!") +
                         (!a.read && a.data != std::string(32, '0') ? "?" : ""));
    EXPECT_EQ(errors, (std::vector<std::string>{"r1", "r2", "r3", "r4!", "w1", "w2", "w3", "r1!"}));
}

TEST_P(EveryModel, CommandAddressModesAndEveryTestCommand) {
    const Model& m = GetParam();
    if (m.number == 2 || m.number == 3 || m.number == 4 || m.number == 6) GTEST_SKIP() << "same family map as crane";
    const bool kestrel = m.number == 9;
    startMachine(m.name);
    connect();

    // Service mode: answered 1, and the answer request runs no command.
    EXPECT_EQ(stateOf(exchange(package(0x0D, {2, 2, 0x02, 5})).answer), 1);
    waitIdle();
    EXPECT_EQ(stateOf(exchange(package(0x0C, {})).answer), 1);

    // Test mode: every code; a mapped one takes two answer rounds (the command, then done).
    std::map<int, std::pair<int, int>> expected;  // code -> (output, value)
    if (kestrel) {
        for (int c = 10; c <= 17; ++c) expected[c] = {1 + (c - 10) / 2, c % 2 == 0 ? 1 : 0};
    } else {
        for (int c = 1; c <= 18; ++c) expected[c] = {1, c};
        for (int c : {20, 21, 100, 101}) expected[c] = {1, c};
        for (int c = 24; c <= 27; ++c) expected[c] = {1, c - 2};
    }
    std::vector<std::string> seen;
    for (int code = 0; code <= 102; ++code) {
        ASSERT_EQ(stateOf(exchange(package(0x0D, {2, 2, 0x40, static_cast<uint8_t>(code)})).answer), 1) << code;
        waitIdle();
        const uint8_t first = stateOf(exchange(package(0x0C, {})).answer);
        if (expected.count(code)) {
            EXPECT_EQ(first, 2) << code;
            EXPECT_EQ(stateOf(poll(package(0x0C, {}))), 1) << code;
            seen.push_back(std::to_string(code));
        } else {
            EXPECT_EQ(first, 3) << code << " is not a command of this model";
        }
    }
    const TwinRecord record = stopAndRecord();
    std::vector<std::pair<int, int>> outputs;
    for (const auto& a : record.accesses(0x5000, 0x5006)) {
        EXPECT_FALSE(a.read);
        EXPECT_EQ(a.index, 0x5000u);
        outputs.push_back({static_cast<int>(a.sub), std::stoi(a.data, nullptr, 16)});
    }
    std::vector<std::pair<int, int>> wanted;
    for (const auto& e : expected) wanted.push_back(e.second);
    EXPECT_EQ(outputs, wanted);
    // The mode went to test mode once, through the model's mode object.
    const auto modes = record.accesses(kestrel ? 0x2001 : 0x5600, kestrel ? 0x2001 : 0x5600);
    ASSERT_FALSE(modes.empty());
    EXPECT_EQ(record.value(kestrel ? 0x2001 : 0x5600, 1), kestrel ? 6 : 1);
}

INSTANTIATE_TEST_SUITE_P(Shipped, EveryModel, ::testing::ValuesIn(kModels), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
});

TEST_F(MachineData, KestrelChargerWriteAtTheArchiveEndClearsTheErrorLog) {
    // Kestrel's error archive ends where the charger range starts (512): the archive is tested
    // first, so a charger write there clears the machine's error log.
    startMachine("kestrel", {"--error", "9:60"});
    connect();
    EXPECT_EQ(stateOf(readBlock(336, 6, true).answer), 1);
    EXPECT_EQ(writeBlock(0x0B, 512, {1, 2, 3}).answerState, 1);
    const TwinRecord record = stopAndRecord();
    const auto errors = record.accesses(0x5300, 0x5300);
    ASSERT_FALSE(errors.empty());
    EXPECT_FALSE(errors.back().read) << "the write at 512 cleared entry 1";
    EXPECT_EQ(record.value(0x5300, 1), nullptr);
}

TEST_F(MachineData, TheListSurvivesAReconnection) {
    startMachine("crane");
    loadDescription();
    connect();
    const uint8_t level = static_cast<uint8_t>(EdsValues("crane").integer(0x3000, 3));
    EXPECT_EQ(readBlock(19, 1, false).data().at(0), level);
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    // The machine notices the host's heartbeat gone within its consumer time (1 s) and leaves
    // operational; a connection started before that would be cut by it.
    platform::sleepMs(1500);
    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    connect();
    EXPECT_EQ(readBlock(19, 1, false).data().at(0), level);
    EXPECT_EQ(ORBEL_Conv::getInstance()->getParameterHandler().parameterCount(0), 15u);

    char missing[] = "/nonexistent/params.csv";
    EXPECT_EQ(ORBEL_ConvAddParameterDescription(missing, 0), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvAddParameterDescription(nullptr, 0), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_Conv::getInstance()->getParameterHandler().parameterCount(0), 15u) << "what loaded stays loaded";
}

// One host process, three sessions, none inheriting from the one before. The second, against
// another model, identifies that machine and has no read request stored (the first session's read
// is not answered again). The third, against a machine that never starts, must wait for that
// machine's own word (the second session's "operational" would connect it at once).
TEST_F(MachineData, NewSessionsInheritNoMachineStateAndNoRequest) {
    startMachine("crane");
    loadDescription();
    connect();
    EXPECT_EQ(readBlock(19, 1, false).data().size(), 2u);
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    sim.stop();

    startMachine("wren");
    connect();
    const Bytes id = exchange(package(0xFB, {})).answer;
    ASSERT_EQ(id.size(), 26u);
    EXPECT_EQ(id[7], 0x08) << "the wren's machine number, not the crane's";
    EXPECT_EQ(stateOf(exchange(package(0x08, {})).answer), 3) << "no read request stored in this session";
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    sim.stop();

    startMachine("crane", {"--never-operational"});
    ASSERT_EQ(stateOf(exchange(package(0xE6, {})).answer), 2);
    EXPECT_EQ(stateOf(poll(package(0x0F, {}))), 3) << "a machine never started is not connected";
}

TEST_F(MachineData, AFailedConnectionStartDropsTheList) {
    startMachine("crane", {"--never-operational"});
    loadDescription();
    EXPECT_EQ(ORBEL_Conv::getInstance()->getParameterHandler().parameterCount(0), 15u);
    ASSERT_EQ(stateOf(exchange(package(0xE6, {})).answer), 2);
    ASSERT_EQ(stateOf(poll(package(0x0F, {}))), 3) << "not connected";
    EXPECT_EQ(ORBEL_Conv::getInstance()->getParameterHandler().parameterCount(0), 0u);
}

TEST_F(MachineData, AMachineAbortingOrFallingSilentMidChainEndsInErrorNotBusy) {
    startMachine("swift", {"--abort", "0x3002:1=0x08000000", "--silent-after-ms", "4000"});
    loadDescription();
    connect();
    // The third parameter of the range is refused: the read ends failed, not with stale data.
    auto r = readBlock(16, 8, false);
    EXPECT_EQ(stateOf(r.request), 1);
    EXPECT_EQ(stateOf(r.answer), 3);
    // A new read starts afresh and succeeds.
    EXPECT_EQ(stateOf(readBlock(16, 3, false).answer), 1);
    // Silent machine: the error-memory chain ends within the client's time-out, in error.
    platform::sleepMs(4100);
    const uint32_t start = platform::tickCountMs();
    r = readBlock(288, 16, true);
    EXPECT_EQ(stateOf(r.answer), 3);
    EXPECT_LT(platform::tickCountMs() - start, 10000u);
}

}  // namespace
