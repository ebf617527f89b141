// The firmware update sequence and the block transfer against the machine twin: what the twin
// saved, the requests it served in order, and what the client reported on the way.
#include "twin_session.h"

#include "commdiag/testing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <set>

namespace CommDiag::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::atomic<int> g_updateResult{-1};
std::atomic<int> g_updateCalls{0};
void onUpdate(int result, int) {
    g_updateResult = result;
    ++g_updateCalls;
}

std::atomic<int> g_blockFailed{-1};
std::atomic<uint32_t> g_blockId{0};
std::atomic<int> g_blockCalls{0};
void onBlock(int failed, uint32_t blockId) {
    g_blockFailed = failed;
    g_blockId = blockId;
    ++g_blockCalls;
}

std::vector<uint8_t> pattern(std::size_t size, unsigned seed) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + seed) >> 1);
    return bytes;
}

std::string writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Little-endian fields of a 26-byte control record as the twin recorded it (hex text).
struct Control {
    uint32_t blockId, packetSize, packetCount, totalSize, localAddress, packetIndex, state;
};
Control decodeControl(const std::string& hex) {
    std::vector<uint8_t> b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        while (i < hex.size() && hex[i] == ' ') ++i;
        b.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    auto u32 = [&](std::size_t at) {
        return b.size() < at + 4 ? 0u
                                 : static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
    };
    return Control{u32(0),
                   u32(4),
                   u32(8),
                   u32(12),
                   u32(16),
                   u32(20),
                   b.size() >= 26 ? static_cast<uint32_t>(b[24] | b[25] << 8) : 0xFFFF};
}

class TransferTwin : public TwinSession {
protected:
    void SetUp() override {
        g_updateResult = -1;
        g_updateCalls = 0;
        g_blockFailed = -1;
        g_blockCalls = 0;
    }
    void TearDown() override {
        testing::setFirmwareWaitLimit(0);
        TwinSession::TearDown();
    }
};

// A whole update: flag, restart into the boot loader, erase, status polled until erased, the
// image as one block download; the twin saves it byte for byte. Progress goes 2, then 4 with
// a rising percentage, then 0 with the callback's success.
TEST_F(TransferTwin, FirmwareUpdateFlashesTheImageByteForByte) {
    startTwin({"-m", "crane", "--erase-ms", "300", "--reboot-ms", "200"});
    ASSERT_EQ(connect(), RESULT_OK);
    const auto image = pattern(4000, 7);
    const std::string path = writeFile(twin->dir() / "fw image.hex", image);

    ASSERT_EQ(client->StartFirmwareUpdate(path.c_str(), onUpdate), RESULT_OK);
    EXPECT_EQ(client->StartFirmwareUpdate(path.c_str(), onUpdate), RESULT_BUSY) << "one sequence at a time";
    std::set<int> states;
    int lastPercent = -1;
    bool percentFell = false;
    ASSERT_TRUE(waitUntil(
        [&] {
            unsigned char percent = 0;
            const int state = client->GetFirmwareUpdateProgress(&percent);
            states.insert(state);
            if (state == 2) {
                EXPECT_EQ(percent, 0);
            }
            if (state == 4) {
                if (percent < lastPercent) percentFell = true;
                lastPercent = percent;
            }
            return g_updateCalls.load() > 0;
        },
        60000));
    EXPECT_EQ(g_updateResult.load(), RESULT_OK);
    EXPECT_EQ(g_updateCalls.load(), 1);
    EXPECT_TRUE(states.count(2) && states.count(4)) << "preparing, then downloading";
    EXPECT_FALSE(percentFell);
    unsigned char percent = 9;
    EXPECT_EQ(client->GetFirmwareUpdateProgress(&percent), 0);
    EXPECT_EQ(percent, 0);

    const Json record = twin->stop();
    EXPECT_EQ(readFile(twin->dir() / "firmware-node10.bin"), image);
    EXPECT_THAT(writesTo(record, 0x5406, 1), ElementsAre("01"));
    EXPECT_THAT(writesTo(record, 0x5406, 2), ElementsAre("00"));
    EXPECT_THAT(writesTo(record, 0x1F51, 1), ElementsAre("03")) << "the machine was back: one erase";
    EXPECT_EQ(count(record, "firmware", "boot loader runs"), 1);
    EXPECT_EQ(count(record, "firmware", "image programmed"), 1);
}

// An erase the machine refuses ends the sequence with the callback's failure and the failed
// state; nothing of the image is sent, and a new update can start.
TEST_F(TransferTwin, RefusedEraseEndsTheUpdateAsFailed) {
    startTwin({"-m", "crane", "--reboot-ms", "100", "--abort", "0x1F51:1=0x08000020"});
    ASSERT_EQ(connect(), RESULT_OK);
    const std::string path = writeFile(twin->dir() / "fw.hex", pattern(100, 1));
    ASSERT_EQ(client->StartFirmwareUpdate(path.c_str(), onUpdate), RESULT_OK);
    ASSERT_TRUE(waitUntil([&] { return g_updateCalls.load() > 0; }, 20000));
    EXPECT_NE(g_updateResult.load(), RESULT_OK);
    unsigned char percent = 9;
    EXPECT_EQ(client->GetFirmwareUpdateProgress(&percent), 7);
    EXPECT_EQ(percent, 0);
    EXPECT_EQ(client->StartFirmwareUpdate(path.c_str(), onUpdate), RESULT_OK) << "nothing left running";
    factory.DestroyClient();
    client = nullptr;
    const Json record = twin->stop();
    EXPECT_TRUE(writesTo(record, 0x1F50, 1).empty());
}

// A machine that does not come back after the restart: the wait is bounded.
TEST_F(TransferTwin, MachineSilentAfterTheRestartFailsTheUpdateInTime) {
    startTwin({"-m", "crane", "--silent-after-ms", "1500"});
    ASSERT_EQ(connect(), RESULT_OK);
    testing::setFirmwareWaitLimit(2000);
    const std::string path = writeFile(twin->dir() / "fw.hex", pattern(100, 1));
    // Started late enough that the flag and restart still get through.
    ASSERT_TRUE(twin->logged("node 10", 100));
    ASSERT_EQ(client->StartFirmwareUpdate(path.c_str(), onUpdate), RESULT_OK);
    ASSERT_TRUE(waitUntil([&] { return g_updateCalls.load() > 0; }, 30000)) << "the wait is bounded";
    EXPECT_NE(g_updateResult.load(), RESULT_OK);
    unsigned char percent = 0;
    EXPECT_EQ(client->GetFirmwareUpdateProgress(&percent), 7);
}

// Flash status reads that fail are read again, never taken for "erased" (an image into flash
// that was not erased), and the polling is bounded like the erase.
TEST_F(TransferTwin, FailingFlashStatusReadsEndTheUpdateInTime) {
    startTwin({"-m", "crane", "--reboot-ms", "100", "--erase-ms", "100", "--abort", "0x1F57:1=0x08000020"});
    ASSERT_EQ(connect(), RESULT_OK);
    testing::setFirmwareWaitLimit(4000);
    const std::string path = writeFile(twin->dir() / "fw.hex", pattern(100, 1));
    ASSERT_EQ(client->StartFirmwareUpdate(path.c_str(), onUpdate), RESULT_OK);
    ASSERT_TRUE(waitUntil([&] { return g_updateCalls.load() > 0; }, 30000)) << "the polling is bounded";
    EXPECT_NE(g_updateResult.load(), RESULT_OK);
    const Json record = twin->stop();
    EXPECT_TRUE(writesTo(record, 0x1F50, 1).empty()) << "no image without a reported erase";
}

// Refusals before anything reaches the machine.
TEST_F(TransferTwin, ImageSizesAndMissingFiles) {
    startTwin({"-m", "crane"});
    ASSERT_EQ(connect(), RESULT_OK);
    unsigned char percent = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(client->StartFirmwareUpdate((twin->dir() / "missing.hex").string().c_str(), onUpdate), RESULT_INVALID);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "FAILBIT\nFile not open.\n");
    EXPECT_EQ(client->GetFirmwareUpdateProgress(&percent), 7);
    EXPECT_EQ(client->StartFirmwareUpdate(writeFile(twin->dir() / "empty.hex", {}).c_str(), onUpdate), RESULT_INVALID);
    EXPECT_EQ(client->StartFirmwareUpdate(writeFile(twin->dir() / "big.hex", pattern(0x100001, 3)).c_str(), onUpdate),
              RESULT_INVALID);
    EXPECT_EQ(client->StartFirmwareUpdate("x", nullptr), RESULT_INVALID);
    EXPECT_EQ(g_updateCalls.load(), 0);
    // The largest image is taken; destroying the client ends the sequence without its callback.
    EXPECT_EQ(client->StartFirmwareUpdate(writeFile(twin->dir() / "max.hex", pattern(0x100000, 3)).c_str(), onUpdate),
              RESULT_OK);
    factory.DestroyClient();
    client = nullptr;
    EXPECT_EQ(g_updateCalls.load(), 0);
    const Json record = twin->stop();
    EXPECT_LE(writesTo(record, 0x5406, 1).size(), 1u) << "only the accepted start may have reached the machine";
}

// A file of 1000 bytes in packets of 256: the control records in order (0, 1, 2, 4, then a
// packet and a record for each packet, the last with state 6), packets of 256, 256, 256, 232.
TEST_F(TransferTwin, BlockTransferSendsPacketsUnderControlRecords) {
    startTwin({"-m", "crane"});
    ASSERT_EQ(connect(), RESULT_OK);
    const auto block = pattern(1000, 11);
    const std::string path = writeFile(twin->dir() / "curve data.bin", block);
    ASSERT_EQ(client->StartBlockTransfer(path.c_str(), 3, 256, onBlock, 0x41), RESULT_OK);
    ASSERT_TRUE(waitUntil([&] { return g_blockCalls.load() > 0; }, 20000));
    EXPECT_EQ(g_blockFailed.load(), 0);
    EXPECT_EQ(g_blockId.load(), 3u);
    unsigned char percent = 0;
    EXPECT_EQ(client->GetBlockTransferProgress(&percent), 0);

    // Then a file shorter than one packet, and an empty one.
    const std::string shortPath = writeFile(twin->dir() / "short.bin", pattern(100, 2));
    ASSERT_EQ(client->StartBlockTransfer(shortPath.c_str(), 5, 256, onBlock), RESULT_OK);
    ASSERT_TRUE(waitUntil([&] { return g_blockCalls.load() > 1; }, 20000));
    EXPECT_EQ(g_blockFailed.load(), 0);
    const std::string emptyPath = writeFile(twin->dir() / "empty.bin", {});
    ASSERT_EQ(client->StartBlockTransfer(emptyPath.c_str(), 1, 256, onBlock), RESULT_OK);
    ASSERT_TRUE(waitUntil([&] { return g_blockCalls.load() > 2; }, 20000));
    EXPECT_EQ(g_blockFailed.load(), 1) << "an empty file fails";
    EXPECT_EQ(client->GetBlockTransferProgress(&percent), 0);

    const Json record = twin->stop();
    EXPECT_EQ(readFile(twin->dir() / "block-3.bin"), block);
    EXPECT_EQ(readFile(twin->dir() / "block-5.bin"), pattern(100, 2));
    std::vector<std::string> packets = writesTo(record, 0x5408, 1);
    ASSERT_EQ(packets.size(), 5u) << "four packets, then the short file's one; none for the empty file";
    std::vector<Control> controls;
    for (const std::string& c : writesTo(record, 0x5407, 1)) controls.push_back(decodeControl(c));
    std::vector<uint32_t> states;
    for (const Control& c : controls) states.push_back(c.state);
    EXPECT_THAT(states, ElementsAreArray({0u, 1u, 2u, 4u, 4u, 4u, 4u, 6u, 0u, 1u, 2u, 4u, 6u, 0u, 1u, 7u}));
    ASSERT_GE(controls.size(), 8u);
    EXPECT_EQ(controls[2].totalSize, 1000u);
    EXPECT_EQ(controls[2].packetCount, 4u);
    EXPECT_EQ(controls[2].localAddress, 0x41u);
    EXPECT_EQ(controls[6].packetIndex, 3u);
    EXPECT_EQ(controls[6].packetSize, 232u) << "the record before the last packet announces its length";
    EXPECT_EQ(controls[7].blockId, 3u);
    EXPECT_EQ(controls[7].totalSize, 0u) << "counters cleared with the last record";
}

// The machine refuses the first seven packet writes. A packet size of 0 fails after the control
// records, nothing sent; a first packet refused four times (sent again three times) fails its
// transfer; a file shorter than one packet goes as one packet of its own length, refused three
// times and then taken; the transfer after that starts afresh and arrives whole.
TEST_F(TransferTwin, RefusedPacketsGoAgainAtMostThreeTimes) {
    startTwin({"-m", "crane", "--abort", "0x5408:1=0x08000020*7"});
    ASSERT_EQ(connect(), RESULT_OK);
    const auto block = pattern(1000, 11);
    const auto shortBlock = pattern(100, 2);
    const std::string path = writeFile(twin->dir() / "curve.bin", block);
    const std::string shortPath = writeFile(twin->dir() / "short.bin", shortBlock);
    const auto transfer = [&](const std::string& file, uint32_t blockId, uint32_t packetSize) {
        const int before = g_blockCalls.load();
        EXPECT_EQ(client->StartBlockTransfer(file.c_str(), blockId, packetSize, onBlock), RESULT_OK);
        EXPECT_TRUE(waitUntil([&] { return g_blockCalls.load() > before; }, 30000)) << blockId;
        EXPECT_EQ(g_blockId.load(), blockId);
        return g_blockFailed.load();
    };
    EXPECT_EQ(transfer(path, 1, 0), 1) << "packet size 0";
    EXPECT_EQ(transfer(path, 3, 256), 1) << "the fourth refusal fails the transfer";
    EXPECT_EQ(transfer(shortPath, 2, 256), 0) << "three refusals, then taken";
    EXPECT_EQ(transfer(path, 5, 256), 0) << "nothing left over from the failure";

    const Json record = twin->stop();
    EXPECT_EQ(readFile(twin->dir() / "block-2.bin"), shortBlock);
    EXPECT_EQ(readFile(twin->dir() / "block-5.bin"), block);
    EXPECT_FALSE(fs::exists(twin->dir() / "block-1.bin"));
    EXPECT_FALSE(fs::exists(twin->dir() / "block-3.bin"));
    // The writes in order: a control record as its state, a packet as "x" refused (recorded
    // without its bytes) or "p" taken.
    std::string writes;
    std::vector<int> sizes;
    for (const Json& sdo : record["sdo"]) {
        if (sdo["op"] != "write") continue;
        if (sdo["index"] == 0x5407) writes += std::to_string(decodeControl(sdo["data"]).state);
        if (sdo["index"] != 0x5408) continue;
        writes += sdo["abort"].is_null() ? "p" : "x";
        if (sdo["abort"].is_null()) sizes.push_back(sdo["size"].get<int>());
    }
    EXPECT_EQ(writes,
              "017"             // packet size 0
              "0124xxxx7"       // refused four times
              "0124xxxp6"       // the short file, refused three times
              "0124p4p4p4p6");  // afresh
    EXPECT_THAT(sizes, ElementsAreArray({100, 256, 256, 256, 232}));
}

}  // namespace
}  // namespace CommDiag::test

namespace CommDiag::test {
namespace {

// Times (in seconds) of the frames with this CAN id in a candump log.
std::vector<double> frameTimes(const fs::path& candump, const std::string& id) {
    std::vector<double> times;
    std::ifstream in(candump);
    for (std::string line; std::getline(in, line);) {
        if (line.find(" " + id + "#") == std::string::npos) continue;
        times.push_back(std::stod(line.substr(1)));
    }
    return times;
}

// The image saturates the emulated 38400 bit/s line; the heartbeat the twin sees from the
// client keeps its 500 ms period within a few frame times, and the twin's consumer (1000 ms)
// never expires.
TEST_F(TransferTwin, HeartbeatKeepsItsPeriodWhileTheImageSaturatesTheLine) {
    const fs::path candump = fs::path(::testing::TempDir()) / ("candump-" + std::to_string(::getpid()) + ".log");
    startTwin(
        {"-m", "crane", "--line-timing", "--erase-ms", "200", "--reboot-ms", "200", "--candump", candump.string()});
    ASSERT_EQ(connect(), RESULT_OK);
    const std::string path = writeFile(twin->dir() / "fw.hex", pattern(6000, 5));
    ASSERT_EQ(client->StartFirmwareUpdate(path.c_str(), onUpdate), RESULT_OK);
    ASSERT_TRUE(waitUntil([&] { return g_updateCalls.load() > 0; }, 60000));
    EXPECT_EQ(g_updateResult.load(), RESULT_OK);
    const Json record = twin->stop();
    EXPECT_EQ(count(record, "heartbeat", "heartbeat of node 1 lost"), 0);
    const std::vector<double> beats = frameTimes(candump, "701");
    std::remove(candump.c_str());
    ASSERT_GT(beats.size(), 10u);
    double longest = 0;
    for (std::size_t i = 1; i < beats.size(); ++i) longest = std::max(longest, beats[i] - beats[i - 1]);
    EXPECT_LT(longest, 0.500 + 0.050) << "a frame takes 4.2 ms on the line";
}

// Frames lost on their way to the machine - segments, a block's final segment, the image's
// initiate and end requests, the requests of the sequence: what was lost goes again and the image
// arrives exact.
TEST_F(TransferTwin, LostFramesAreRecoveredAndTheImageArrivesExact) {
    startTwin(
        {"-m", "crane", "--erase-ms", "100", "--reboot-ms", "100", "--drop-every", "41", "--drop-direction", "to-bus"});
    ASSERT_EQ(connect(20000), RESULT_OK);
    const auto image = pattern(5000, 9);
    const std::string path = writeFile(twin->dir() / "fw.hex", image);
    ASSERT_EQ(client->StartFirmwareUpdate(path.c_str(), onUpdate), RESULT_OK);
    ASSERT_TRUE(waitUntil([&] { return g_updateCalls.load() > 0; }, 120000));
    EXPECT_EQ(g_updateResult.load(), RESULT_OK);
    twin->stop();
    EXPECT_EQ(readFile(twin->dir() / "firmware-node10.bin"), image);
}

}  // namespace
}  // namespace CommDiag::test
