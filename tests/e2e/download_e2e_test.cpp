// Downloads through the exports, as the legacy host runs them, against machine-sim on a pty with
// the real serial CAN driver: firmware images from imgbuild, curve-data blocks, the faults.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "coff_writer.h"
#include "commdiag/testing.h"
#include "fake_clock.h"
#include "host_session.h"
#include "machine_link/orbel_callbacks.h"
#include "machine_sim_test.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_dll/orbel_dll.h"
#include "platform/clock.h"
#include "run_imgbuild.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using orbeltest::exchange;
using Json = nlohmann::json;
using Bytes = std::vector<uint8_t>;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes pattern(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 73 + seed) ^ (i >> 7));
    return bytes;
}

// A firmware object file of `words` flash words, turned into its ".hex" image by imgbuild.
fs::path buildImage(const fs::path& dir, const std::string& stem, std::size_t words, uint16_t seed) {
    imgbuild_test::CoffContents obj;
    std::vector<uint16_t> content(words);
    for (std::size_t i = 0; i < words; ++i) content[i] = static_cast<uint16_t>(seed + i * 7);
    obj.sections.push_back({0x3F0000, content});
    writeFile(dir / (stem + ".out"), imgbuild_test::writeCoff(obj).bytes);
    std::ostringstream out;
    EXPECT_EQ(imgbuild::runImgbuild({(dir / (stem + ".out")).string()}, out), 0) << out.str();
    fs::remove(dir / (stem + ".out"));
    return dir / (stem + ".hex");
}

class Downloads : public orbeltest::MachineSimTest {
protected:
    void startMachine(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{
            "--model",    "crane", "--quiet",     "--out-dir", dir.string(), "--record", (dir / "record.json").string(),
            "--erase-ms", "200",   "--reboot-ms", "200"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_NO_FATAL_FAILURE(startSession(args));
        ASSERT_EQ(poll(0xE6)[3], 1) << "connected";
        ASSERT_EQ(poll(0xFA)[3], 1) << "identified";
    }

    Json stopMachine() {
        EXPECT_EQ(stopSession(), 0);
        std::ifstream in(dir / "record.json");
        std::stringstream text;
        text << in.rdbuf();
        return Json::parse(text.str(), nullptr, false);
    }

    // Repeats a command while the answer says busy, as the host does.
    std::vector<uint8_t> poll(uint8_t command, uint32_t limitMs = 30000) {
        return orbeltest::pollWhileBusy(command, limitMs, 20);
    }

    struct Progress {
        std::vector<int> percents;  // while the export answered 0
        uint32_t longestStatusMs = 0;
    };
    // Polls a progress export until it reports no download; meanwhile the host's status
    // packages are answered at once.
    Progress follow(int32_t (*progress)(void*), uint32_t limitMs = 60000) {
        Progress p;
        const uint32_t start = platform::tickCountMs();
        for (;;) {
            uint8_t percent = 0xEE;
            if (progress(&percent) != ORBEL_OK) break;
            p.percents.push_back(percent);
            const uint32_t before = platform::tickCountMs();
            const auto status = exchange({0xAA, 0x03, 0x01, 0x00, 0x00});
            p.longestStatusMs = std::max(p.longestStatusMs, platform::tickCountMs() - before);
            EXPECT_GE(status.answer.size(), 4u);
            if (platform::tickCountMs() - start > limitMs) {
                ADD_FAILURE() << "download did not end";
                break;
            }
            platform::sleepMs(10);
        }
        return p;
    }

    std::vector<std::string> writesTo(const Json& record, int index, int sub) {
        std::vector<std::string> data;
        for (const Json& sdo : record["sdo"])
            if (sdo["op"] == "write" && sdo["index"] == index && sdo["sub"] == sub) data.push_back(sdo["data"]);
        return data;
    }
    int events(const Json& record, const std::string& kind, const std::string& text) {
        int n = 0;
        for (const Json& e : record["events"])
            if (e["kind"] == kind && e["text"].get<std::string>().find(text) != std::string::npos) ++n;
        return n;
    }

    test_support::ShortWaitClock clock;  // real time; tests may cut the converter's fixed delays short
    orbeltest::TempDir temp;
    fs::path dir = temp.path();
};

// imgbuild's images joined by ORBEL_ConvBuildBlockDownloadBinary, flashed with
// ORBEL_ConvStartFirmwareDownload: the twin holds the binary byte for byte; progress rose from
// 0 to the end while status packages were answered at once; a second start was refused while
// the first went on; afterwards the converter connected again to the machine, now running its
// application, and 0xFA read the new image's version and machine type (3.01.07, the machine
// number of a robin: the model changes) afresh.
TEST_F(Downloads, FirmwareFromImgbuildArrivesExactAndTheConverterConnectsAgain) {
    startMachine({"--flashed", "0x5401:1=070301", "--flashed", "0x2000:1=010006000000"});
    uint8_t version[3] = {};
    ASSERT_EQ(ORBEL_ConvGetSWRevision(3, version), ORBEL_OK);
    ASSERT_EQ(version[0], 2) << "the model's version before the update";
    const fs::path images = dir / "images ü";
    fs::create_directory(images);
    buildImage(images, "b-app", 1300, 0x4000);
    buildImage(images, "a-boot", 200, 0x1000);
    std::string folder = images.string(), name = "firmware.bin@ignored";
    ASSERT_EQ(ORBEL_ConvBuildBlockDownloadBinary(folder.data(), name.data()), ORBEL_OK);
    Bytes joined = readFile(images / "a-boot.hex");
    const Bytes second = readFile(images / "b-app.hex");
    joined.insert(joined.end(), second.begin(), second.end());
    ASSERT_EQ(readFile(images / "firmware.bin"), joined) << "name order, plain concatenation";

    std::string path = (images / "firmware.bin").string();
    ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_OK);
    EXPECT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_FAILURE) << "a second start is refused";
    const Progress p = follow(ORBEL_ConvGetFirmwareDownloadProgress);
    ASSERT_FALSE(p.percents.empty());
    EXPECT_EQ(p.percents.front(), 0) << "preparing";
    EXPECT_TRUE(std::is_sorted(p.percents.begin(), p.percents.end()));
    EXPECT_TRUE(std::any_of(p.percents.begin(), p.percents.end(), [](int v) { return v > 0 && v < 100; }))
        << "the image's progress was seen";
    EXPECT_LT(p.longestStatusMs, 50u) << "the host's packages are answered while the image goes";

    const auto identified = poll(0xFA, 60000);
    ASSERT_GE(identified.size(), 4u);
    EXPECT_EQ(identified[3], 1) << "connected again and identified";
    EXPECT_EQ(ORBEL_ConvGetSWRevision(3, version), ORBEL_OK);
    EXPECT_EQ(std::vector<int>(version, version + 3), (std::vector<int>{3, 1, 7})) << "the new image's version";
    const auto id = exchange({0xAA, 0x03, 0xFB, 0x00, 0x00}).answer;
    ASSERT_GE(id.size(), 9u);
    EXPECT_EQ(id[3], 1);
    EXPECT_EQ(id[6], 0x0A) << "the type read again: family";
    EXPECT_EQ(id[7], 0x0E) << "the type read again: a robin now";
    EXPECT_EQ(id[8], 0x31) << "version 3.1";

    const Json record = stopMachine();
    EXPECT_EQ(readFile(dir / "firmware-node10.bin"), joined);
    EXPECT_EQ(events(record, "firmware", "boot loader runs"), 1);
    EXPECT_EQ(events(record, "firmware", "application runs"), 1);
    EXPECT_EQ(writesTo(record, 0x5406, 1).size(), 1u);
}

// Curve data for every block id of the model through ORBEL_ConvStartBlockDownloadFile: the twin
// saves each block; packets of 1024 and a short last one, under the control records in order.
TEST_F(Downloads, CurveDataForEveryBlockId) {
    clock.capWaits(100);  // the reconnection after each block
    startMachine();
    const struct {
        int32_t address;
        int blockId;
    } blocks[] = {{0x5000, 0}, {0x200, 1}, {0x2800, 2}, {0x5500, 3}, {0x300, 4}, {0x400, 5}};
    for (const auto& b : blocks) {
        const Bytes data = pattern(2500 + static_cast<std::size_t>(b.blockId), static_cast<unsigned>(b.blockId));
        const fs::path file = dir / ("curve " + std::to_string(b.blockId) + ".bin");
        writeFile(file, data);
        std::string path = file.string();
        ASSERT_EQ(ORBEL_ConvStartBlockDownloadFile(path.data(), b.address), ORBEL_OK) << b.blockId;
        const Progress p = follow(ORBEL_ConvGetBlockDownloadProgress);
        EXPECT_TRUE(std::is_sorted(p.percents.begin(), p.percents.end()));
        ASSERT_EQ(poll(0xFA)[3], 1) << "done (connected again where the block asks for it)";
        EXPECT_FALSE(ORBEL_Conv::getInstance()->isError()) << b.blockId;
    }
    std::string none = (dir / "x.bin").string();
    EXPECT_EQ(ORBEL_ConvStartBlockDownloadFile(none.data(), 0x5001), ORBEL_FAILURE) << "no block id";
    EXPECT_EQ(ORBEL_ConvStartBlockDownloadFile(none.data(), 0), ORBEL_FAILURE);

    const Json record = stopMachine();
    for (const auto& b : blocks)
        EXPECT_EQ(readFile(dir / ("block-" + std::to_string(b.blockId) + ".bin")),
                  pattern(2500 + static_cast<std::size_t>(b.blockId), static_cast<unsigned>(b.blockId)));
    std::vector<int> packetSizes;
    for (const Json& sdo : record["sdo"])
        if (sdo["op"] == "write" && sdo["index"] == 0x5408) packetSizes.push_back(sdo["size"].get<int>());
    ASSERT_EQ(packetSizes.size(), 18u) << "three packets per block";
    EXPECT_EQ(packetSizes[0], 1024);
    EXPECT_EQ(packetSizes[1], 1024);
    EXPECT_EQ(packetSizes[2], 452) << "the short last packet";
    std::vector<int> states;
    for (const std::string& c : writesTo(record, 0x5407, 1)) {
        if (c.size() >= 52) states.push_back(std::stoi(c.substr(48, 2), nullptr, 16));
        if (states.size() == 7) break;
    }
    EXPECT_EQ(states, (std::vector<int>{0, 1, 2, 4, 4, 4, 6})) << "a record after each state change and packet";
}

// An erase the machine answers with an abort: the download ends, reported failed (the converter
// in error, the progress export 4), the converter answers packages, and a new download starts.
TEST_F(Downloads, RefusedEraseEndsTheDownloadFailedAndANewOneCanStart) {
    startMachine({"--abort", "0x1F51:1=0x08000020"});
    const fs::path image = dir / "fw.hex";
    writeFile(image, pattern(889, 3));
    std::string path = image.string();
    ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_OK);
    follow(ORBEL_ConvGetFirmwareDownloadProgress);
    EXPECT_TRUE(ORBEL_Conv::getInstance()->isError()) << "the failure is reported";
    const auto status = exchange({0xAA, 0x03, 0x01, 0x00, 0x00});
    ASSERT_GE(status.answer.size(), 4u);
    EXPECT_NE(status.answer[3], 2) << "not busy";
    ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_OK) << "nothing left running";
    follow(ORBEL_ConvGetFirmwareDownloadProgress);
    const Json record = stopMachine();
    EXPECT_TRUE(writesTo(record, 0x1F50, 1).empty()) << "no image after a failed erase";
}

// The machine restarts in the middle of the image: the download fails, reported as such.
TEST_F(Downloads, MachineRestartingMidImageFailsTheDownload) {
    startMachine({"--reboot-in-transfer", "0x1F50:1"});
    const fs::path image = dir / "fw.hex";
    writeFile(image, pattern(3000, 4));
    std::string path = image.string();
    ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_OK);
    follow(ORBEL_ConvGetFirmwareDownloadProgress);
    EXPECT_TRUE(ORBEL_Conv::getInstance()->isError());
    const Json record = stopMachine();
    EXPECT_FALSE(fs::exists(dir / "firmware-node10.bin"));
}

// Images of 1, 7 and 889 bytes and of exactly 1 MiB are taken, 1 MiB + 1 and empty ones refused;
// a de-init in the middle of a download leaves nothing running.
TEST_F(Downloads, ImageSizesAndDeInitInTheMiddle) {
    startMachine();
    for (std::size_t size : {std::size_t{0}, std::size_t{0x100001}}) {
        writeFile(dir / "bad.hex", pattern(size, 1));
        std::string path = (dir / "bad.hex").string();
        EXPECT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_FAILURE) << size;
        EXPECT_FALSE(ORBEL_Conv::getInstance()->isBusy()) << "busy given back";
    }
    for (std::size_t size : {std::size_t{1}, std::size_t{7}, std::size_t{889}}) {
        writeFile(dir / "fw.hex", pattern(size, 2));
        std::string path = (dir / "fw.hex").string();
        ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_OK) << size;
        follow(ORBEL_ConvGetFirmwareDownloadProgress);
        ASSERT_EQ(poll(0xFA, 60000)[3], 1) << size;
        EXPECT_EQ(readFile(dir / "firmware-node10.bin"), pattern(size, 2)) << size;
    }
    writeFile(dir / "big.hex", pattern(0x100000, 5));
    std::string path = (dir / "big.hex").string();
    ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_OK) << "exactly 1 MiB";
    uint8_t percent = 0;
    EXPECT_EQ(ORBEL_ConvGetFirmwareDownloadProgress(&percent), ORBEL_OK);
    EXPECT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    EXPECT_EQ(ORBEL_ConvGetFirmwareDownloadProgress(&percent), ORBEL_FAILURE) << "nothing running";
    EXPECT_FALSE(ORBEL_Conv::getInstance()->isBusy());
    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    // Where the de-init came after the update's restart, the machine waits in its boot loader for
    // an image and never becomes operational; the new session reaches it either way.
    const auto started = exchange({0xAA, 0x03, 0xE6, 0x00, 0x00}).answer;
    ASSERT_GE(started.size(), 4u);
    const auto config = poll(0x0F, 60000);
    ASSERT_GE(config.size(), 4u);
    EXPECT_EQ(config[3], 1) << "the new session connects";
    EXPECT_EQ(exchange({0xAA, 0x03, 0x01, 0x00, 0x00}).answer.size(), 9u) << "still answering";
}

// The machine restarts into its boot loader and stays off the bus: to the converter the line is
// silent for good from then on. The update gives up at its wait limit (cut short here) and the
// download ends failed, as the progress export (4), the converter state and the write-block answer
// report; the converter answers on, and a next session against a sound machine works.
TEST_F(Downloads, MachineNotBackAfterTheRestartEndsTheDownloadReportedFailed) {
    struct WaitLimit {
        WaitLimit() { CommDiag::testing::setFirmwareWaitLimit(6000); }
        ~WaitLimit() { CommDiag::testing::setFirmwareWaitLimit(0); }
    } limit;
    std::string error;
    ASSERT_TRUE(sim.start({"--model", "crane", "--quiet", "--out-dir", dir.string(), "--reboot-ms", "600000"}, error))
        << error;
    sim.serveCom1();
    ASSERT_EQ(orbeltest::initOnCom1(), ORBEL_OK);
    ASSERT_EQ(poll(0xE6)[3], 1);
    const fs::path image = dir / "fw.hex";
    writeFile(image, pattern(889, 8));
    std::string path = image.string();
    ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_OK);
    follow(ORBEL_ConvGetFirmwareDownloadProgress);
    uint8_t percent = 0;
    EXPECT_EQ(ORBEL_ConvGetFirmwareDownloadProgress(&percent), ORBEL_FAILURE);
    EXPECT_TRUE(ORBEL_Conv::getInstance()->isError());
    EXPECT_EQ(poll(0x0C)[3], 3) << "the write-block answer reports the failure";
    EXPECT_EQ(exchange({0xAA, 0x03, 0x01, 0x00, 0x00}).answer.size(), 9u);

    ORBEL_DllDeInit();
    sim.stop();
    startMachine();  // connects and identifies
}

// A de-init while the image is on its way: the client aborts the block download before the
// line closes (general error), so that the machine's SDO server, which takes every frame of a
// running block download for a segment, is free for the next client. The machine is left in its
// boot loader without a program; the next session reaches it there (it never becomes operational
// now) and flashes an image again, which the machine then runs.
TEST_F(Downloads, DeInitInTheMiddleOfTheImageLeavesAMachineTheNextSessionCanFlash) {
    startMachine();
    const fs::path first = dir / "first.hex";
    writeFile(first, pattern(64 * 1024, 6));
    std::string path = first.string();
    ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_OK);
    const uint32_t start = platform::tickCountMs();
    uint8_t percent = 0;
    while (ORBEL_ConvGetFirmwareDownloadProgress(&percent) == ORBEL_OK && percent < 2 &&
           platform::tickCountMs() - start < 60000)
        platform::sleepMs(10);
    ASSERT_GE(percent, 2) << "the image is on its way";
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);

    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    ASSERT_EQ(exchange({0xAA, 0x03, 0xE6, 0x00, 0x00}).answer.at(3), 2);
    ASSERT_EQ(poll(0x0F, 60000).at(3), 1) << "the machine in its boot loader is reached";
    const fs::path second = dir / "second.hex";
    writeFile(second, pattern(889, 9));
    path = second.string();
    ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(path.data()), ORBEL_OK);
    follow(ORBEL_ConvGetFirmwareDownloadProgress);
    EXPECT_EQ(poll(0xFA, 60000).at(3), 1) << "connected again to the application and identified";

    const Json record = stopMachine();
    std::vector<Json> images;
    for (const Json& sdo : record["sdo"])
        if (sdo["op"] == "write" && sdo["index"] == 0x1F50) images.push_back(sdo);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].value("aborted_by", ""), "client");
    EXPECT_EQ(images[0]["abort"], "0x08000000");
    EXPECT_TRUE(images[1]["abort"].is_null());
    EXPECT_EQ(readFile(dir / "firmware-node10.bin"), pattern(889, 9));
    EXPECT_EQ(events(record, "firmware", "application runs"), 1);
}

}  // namespace
