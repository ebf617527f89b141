// The machine's own objects: firmware update, block transfer records, modes, error buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "block_transfer.h"
#include "twin_bench.h"

namespace msim {
namespace {

using test::bytes8;
using test::NodeBench;

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Segmented download of `data` to index:sub, as a client writes it.
uint32_t download(NodeBench& b, uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) {
    auto r = b.ask({0x21, static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8), sub,
                    static_cast<uint8_t>(data.size()), static_cast<uint8_t>(data.size() >> 8), 0, 0});
    if (r[0] == 0x80) return static_cast<uint32_t>(r[4] | r[5] << 8 | r[6] << 16 | r[7] << 24);
    uint8_t toggle = 0;
    for (std::size_t at = 0; at < data.size(); at += 7) {
        const std::size_t n = std::min<std::size_t>(7, data.size() - at);
        const bool last = at + n >= data.size();
        CanFrame f;
        f.id = 0x60A;
        f.len = 8;
        f.data[0] = static_cast<uint8_t>(toggle << 4 | (7 - n) << 1 | (last ? 1 : 0));
        std::copy(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n), f.data.begin() + 1);
        auto out = b.send(f);
        EXPECT_EQ(out.size(), 1u);
        if (out.empty()) return 1;
        if (out[0].data[0] == 0x80)
            return static_cast<uint32_t>(out[0].data[4] | out[0].data[5] << 8 | out[0].data[6] << 16 |
                                         out[0].data[7] << 24);
        toggle ^= 1;
    }
    return 0;
}

TEST(FirmwareUpdate, FlagRestartEraseAndImageAsTheClientDrivesThem) {
    NodeConfig cfg;
    cfg.rebootTime = Millis(300);
    cfg.eraseTime = Millis(800);
    NodeBench b("crane", cfg);
    b.nmt(0x01);
    // Step 1: update flag.
    EXPECT_EQ(b.ask({0x2F, 0x06, 0x54, 0x01, 0x01, 0, 0, 0}), bytes8({0x60, 0x06, 0x54, 0x01, 0, 0, 0, 0}));
    // Step 2: restart. The answer comes first, then the machine is off the bus.
    EXPECT_EQ(b.ask({0x2F, 0x06, 0x54, 0x02, 0x00, 0, 0, 0}), bytes8({0x60, 0x06, 0x54, 0x02, 0, 0, 0, 0}));
    EXPECT_FALSE(b.node.running());
    CanFrame guard;
    guard.id = 0x70A;
    guard.rtr = true;
    EXPECT_TRUE(b.send(guard).empty());
    auto boot = b.advance(Millis(300));
    ASSERT_FALSE(boot.empty());
    EXPECT_EQ(boot[0], CanFrame::make(0x70A, {0x00}));
    auto g = b.send(guard);
    ASSERT_EQ(g.size(), 1u);
    EXPECT_EQ(g[0].data[0] & 0x7F, 0x7F);
    // The flag survives the restart.
    EXPECT_EQ(b.ask({0x40, 0x06, 0x54, 0x01, 0, 0, 0, 0})[4], 0x01);
    // An image before the erase is refused.
    EXPECT_EQ(b.ask({0xC2, 0x50, 0x1F, 0x01, 16, 0, 0, 0}), bytes8({0x80, 0x50, 0x1F, 0x01, 0x22, 0x00, 0x00, 0x08}));
    // Step 3: erase; step 4: 0x1F57 reports busy, then 2.
    EXPECT_EQ(b.ask({0x2F, 0x51, 0x1F, 0x01, 0x03, 0, 0, 0})[0], 0x60);
    EXPECT_EQ(b.ask({0x40, 0x57, 0x1F, 0x01, 0, 0, 0, 0}), bytes8({0x43, 0x57, 0x1F, 0x01, 1, 0, 0, 0}));
    b.advance(Millis(799));
    EXPECT_EQ(b.ask({0x40, 0x57, 0x1F, 0x01, 0, 0, 0, 0})[4], 1);
    b.advance(Millis(1));
    EXPECT_EQ(b.ask({0x40, 0x57, 0x1F, 0x01, 0, 0, 0, 0}), bytes8({0x43, 0x57, 0x1F, 0x01, 2, 0, 0, 0}));
    // Step 5: the image, here as a small block download (14 bytes, two segments).
    EXPECT_EQ(b.ask({0xC2, 0x50, 0x1F, 0x01, 14, 0, 0, 0})[0], 0xA4);
    EXPECT_TRUE(b.sdo({0x01, 'f', 'i', 'r', 'm', 'w', 'a', 'r'}).empty());
    EXPECT_EQ(b.ask({0x82, 'e', '-', 'i', 'm', 'a', 'g', 'e'}), bytes8({0xA2, 2, 127, 0, 0, 0, 0, 0}));
    EXPECT_EQ(b.ask({0xC1, 0, 0, 0, 0, 0, 0, 0}), bytes8({0xA1, 0, 0, 0, 0, 0, 0, 0}));
    const std::string path = ::testing::TempDir() + "/firmware-node10.bin";
    const auto image = readFile(path);
    std::remove(path.c_str());
    EXPECT_EQ(std::string(image.begin(), image.end()), "firmware-image");
    EXPECT_EQ(b.ask({0x40, 0x06, 0x54, 0x01, 0, 0, 0, 0})[4], 0x00);  // flag cleared
    EXPECT_EQ(b.ask({0x40, 0x57, 0x1F, 0x01, 0, 0, 0, 0})[4], 0);
}

// The update flag and the restart put the machine into its boot loader: the application's
// objects are gone and a start command leaves it Pre-operational until a whole image has been
// programmed; then the start command hands over to the application (a restart), which is
// Operational again on the next start command.
TEST(FirmwareUpdate, BootLoaderUntilAWholeImageThenTheApplication) {
    NodeConfig cfg;
    cfg.rebootTime = Millis(100);
    cfg.eraseTime = Millis(50);
    NodeBench b("crane", cfg);
    b.nmt(0x01);
    auto readType = [&b] { return b.ask({0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0}); };
    EXPECT_NE(readType()[0], 0x80) << "the application answers its machine type";
    b.ask({0x2F, 0x06, 0x54, 0x01, 0x01, 0, 0, 0});
    b.ask({0x2F, 0x06, 0x54, 0x02, 0x00, 0, 0, 0});
    b.advance(Millis(100));
    EXPECT_TRUE(b.node.inBootLoader());
    EXPECT_EQ(readType(), bytes8({0x80, 0x00, 0x20, 0x01, 0x00, 0x00, 0x02, 0x06})) << "object does not exist";
    b.nmt(0x01);
    EXPECT_EQ(b.node.state(), NmtState::PreOperational) << "no application to start";
    // A restart without an image stays in the boot loader.
    b.nmt(0x81);
    EXPECT_TRUE(b.node.inBootLoader());
    b.ask({0x2F, 0x51, 0x1F, 0x01, 0x03, 0, 0, 0});
    b.advance(Millis(50));
    EXPECT_EQ(b.ask({0xC2, 0x50, 0x1F, 0x01, 7, 0, 0, 0})[0], 0xA4);
    EXPECT_EQ(b.ask({0x81, 'i', 'm', 'a', 'g', 'e', '!', '!'}), bytes8({0xA2, 1, 127, 0, 0, 0, 0, 0}));
    EXPECT_EQ(b.ask({0xC1, 0, 0, 0, 0, 0, 0, 0})[0], 0xA1);
    std::remove((::testing::TempDir() + "/firmware-node10.bin").c_str());
    EXPECT_TRUE(b.node.inBootLoader()) << "the new application runs from the next restart on";
    b.nmt(0x01);
    EXPECT_FALSE(b.node.running()) << "the start command restarts into the application";
    b.advance(Millis(100));
    EXPECT_FALSE(b.node.inBootLoader());
    b.nmt(0x01);
    EXPECT_EQ(b.node.state(), NmtState::Operational);
    EXPECT_NE(readType()[0], 0x80);
}

TEST(FirmwareUpdate, UnknownProgramControlValueIsOutOfRange) {
    NodeBench b;
    EXPECT_EQ(b.ask({0x2F, 0x51, 0x1F, 0x01, 0x09, 0, 0, 0}), bytes8({0x80, 0x51, 0x1F, 0x01, 0x30, 0x00, 0x09, 0x06}));
}

std::vector<uint8_t> control(uint32_t id, uint32_t psize, uint32_t count, uint32_t total, uint32_t index,
                             uint16_t state) {
    BlockControl c;
    c.blockId = id;
    c.packetSize = psize;
    c.packetCount = count;
    c.totalSize = total;
    c.packetIndex = index;
    c.state = state;
    return c.encode();
}

TEST(BlockTransfer, StatesPacketsAndTheSavedBlock) {
    NodeBench b;
    std::vector<uint8_t> blockData(600);
    for (std::size_t i = 0; i < blockData.size(); ++i) blockData[i] = static_cast<uint8_t>(i ^ 0x5A);
    // A 600-byte block in packets of 256: 256, 256, 88, with the record after each.
    EXPECT_EQ(download(b, 0x5407, 1, control(3, 256, 0, 0, 0, 0)), 0u);
    EXPECT_EQ(download(b, 0x5407, 1, control(3, 256, 0, 0, 0, 1)), 0u);
    EXPECT_EQ(download(b, 0x5407, 1, control(3, 256, 3, 600, 0, 2)), 0u);
    EXPECT_EQ(download(b, 0x5407, 1, control(3, 256, 3, 600, 0, 4)), 0u);
    EXPECT_EQ(download(b, 0x5408, 1, {blockData.begin(), blockData.begin() + 256}), 0u);
    EXPECT_EQ(download(b, 0x5407, 1, control(3, 256, 3, 600, 1, 4)), 0u);
    EXPECT_EQ(download(b, 0x5408, 1, {blockData.begin() + 256, blockData.begin() + 512}), 0u);
    EXPECT_EQ(download(b, 0x5407, 1, control(3, 88, 3, 600, 2, 4)), 0u);
    EXPECT_EQ(download(b, 0x5408, 1, {blockData.begin() + 512, blockData.end()}), 0u);
    EXPECT_EQ(download(b, 0x5407, 1, control(3, 0, 0, 0, 0, 6)), 0u);
    const std::string path = ::testing::TempDir() + "/block-3.bin";
    EXPECT_EQ(readFile(path), blockData);
    std::remove(path.c_str());
}

TEST(BlockTransfer, RefusesWhatDoesNotFitTheAnnouncedTransfer) {
    NodeBench b;
    // Sizes known before the init request: refused.
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 256, 1, 100, 0, 2)), 0x08000022u);
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 256, 0, 0, 0, 1)), 0u);
    // Packet count that does not match the sizes.
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 256, 2, 100, 0, 2)), 0x06090030u);
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 0, 0, 0, 0, 1)), 0u);
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 64, 2, 100, 0, 2)), 0u);
    // A packet before the upload state.
    EXPECT_EQ(download(b, 0x5408, 1, std::vector<uint8_t>(64, 1)), 0x08000022u);
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 64, 2, 100, 0, 4)), 0u);
    // A packet longer than announced.
    EXPECT_EQ(download(b, 0x5408, 1, std::vector<uint8_t>(70, 1)), 0x06070010u);
    EXPECT_EQ(download(b, 0x5408, 1, std::vector<uint8_t>(64, 1)), 0u);
    // The client claims two packets sent; one arrived.
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 36, 2, 100, 2, 4)), 0x08000022u);
    // An error state resets everything; state 6 then has nothing to finish.
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 0, 0, 0, 0, 7)), 0u);
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 0, 0, 0, 0, 6)), 0x08000022u);
    EXPECT_EQ(download(b, 0x5407, 1, control(1, 0, 0, 0, 0, 5)), 0x06090030u);
}

TEST(MachineObjects, ErrorBufferEntriesEndWithSubIndexMissing) {
    NodeBench b;
    for (uint8_t n = 1; n <= 3; ++n) {
        auto r = b.ask({0x40, 0x00, 0x53, n, 0, 0, 0, 0});
        EXPECT_EQ(r, bytes8({0x41, 0x00, 0x53, n, 16, 0, 0, 0}));
        b.ask({0x60, 0, 0, 0, 0, 0, 0, 0});
        b.ask({0x70, 0, 0, 0, 0, 0, 0, 0});
        b.ask({0x60, 0, 0, 0, 0, 0, 0, 0});
    }
    EXPECT_EQ(b.ask({0x40, 0x00, 0x53, 0x04, 0, 0, 0, 0}), bytes8({0x80, 0x00, 0x53, 0x04, 0x11, 0x00, 0x09, 0x06}));
    // A zero record clears its entry: the sub-index is gone, the highest one stays 3.
    EXPECT_EQ(download(b, 0x5300, 2, std::vector<uint8_t>(16, 0)), 0u);
    EXPECT_EQ(b.node.dictionary().entry(0x5300, 2), nullptr);
    EXPECT_EQ(b.ask({0x40, 0x00, 0x53, 0x02, 0, 0, 0, 0}), bytes8({0x80, 0x00, 0x53, 0x02, 0x11, 0x00, 0x09, 0x06}));
    EXPECT_EQ(b.ask({0x40, 0x00, 0x53, 0x00, 0, 0, 0, 0}), bytes8({0x4F, 0x00, 0x53, 0x00, 3, 0, 0, 0}));
    // A record that is not all zero is kept as written.
    std::vector<uint8_t> record(16, 0);
    record[15] = 1;
    EXPECT_EQ(download(b, 0x5300, 3, record), 0u);
    EXPECT_EQ(b.node.dictionary().entry(0x5300, 3)->value, record);
    for (uint8_t n : {1, 3}) EXPECT_EQ(download(b, 0x5300, n, std::vector<uint8_t>(16, 0)), 0u);
    EXPECT_EQ(b.ask({0x40, 0x00, 0x53, 0x00, 0, 0, 0, 0}), bytes8({0x4F, 0x00, 0x53, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(b.node.dictionary().object(0x5300)->subs.size(), 1u);
}

TEST(MachineObjects, ErrorEntriesFromTheCommandLineReplaceTheModels) {
    NodeConfig cfg;
    cfg.errorEntries = std::vector<ErrorEntrySpec>{{0x1234, 125, 2}, {17, 65535, 1}};
    NodeBench b("kestrel", cfg);
    EXPECT_EQ(b.ask({0x40, 0x00, 0x53, 0x00, 0, 0, 0, 0}), bytes8({0x4F, 0x00, 0x53, 0x00, 2, 0, 0, 0}));
    EXPECT_EQ(b.node.dictionary().entry(0x5300, 1)->value,
              (std::vector<uint8_t>{0, 0, 125, 0, 0, 0, 0, 0, 0x34, 0x12, 0, 0, 2, 1, 0, 0}));
    EXPECT_EQ(b.node.dictionary().entry(0x5300, 3), nullptr);

    cfg.errorEntries = std::vector<ErrorEntrySpec>(300, ErrorEntrySpec{7, 1, 1});
    NodeBench full("crane", cfg);
    EXPECT_EQ(full.node.dictionary().object(0x5300)->subs.size(), 256u) << "sub-indices 1..255 and the count";

    EXPECT_FALSE(parseErrorEntry("x"));
    EXPECT_FALSE(parseErrorEntry("1:70000"));
    EXPECT_FALSE(parseErrorEntry("1:2:3:4"));
    ASSERT_TRUE(parseErrorEntry("0x10:61"));
    EXPECT_EQ(parseErrorEntry("0x10:61")->minutes, 61);
}

TEST(MachineObjects, ModeObjectsFollowTheModel) {
    NodeBench crane;
    EXPECT_EQ(crane.ask({0x23, 0x00, 0x56, 0x01, 2, 0, 0, 0})[0], 0x60);
    EXPECT_EQ(crane.ask({0x40, 0x00, 0x56, 0x01, 0, 0, 0, 0}), bytes8({0x43, 0x00, 0x56, 0x01, 2, 0, 0, 0}));
    EXPECT_EQ(crane.ask({0x40, 0x01, 0x20, 0x01, 0, 0, 0, 0})[0], 0x80);
    NodeBench kestrel("kestrel");
    EXPECT_EQ(kestrel.ask({0x40, 0x00, 0x56, 0x01, 0, 0, 0, 0}),
              bytes8({0x80, 0x00, 0x56, 0x01, 0x00, 0x00, 0x02, 0x06}));
    EXPECT_EQ(kestrel.ask({0x40, 0x01, 0x20, 0x01, 0, 0, 0, 0}), bytes8({0x43, 0x01, 0x20, 0x01, 1, 0, 0, 0}));
    EXPECT_EQ(kestrel.ask({0x23, 0x01, 0x20, 0x01, 6, 0, 0, 0})[0], 0x60);
}

TEST(MachineObjects, MachineTypeAndSoftwareVersionInTheirWireLayout) {
    NodeBench b("kestrel");
    EXPECT_EQ(b.ask({0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0}), bytes8({0x41, 0x00, 0x20, 0x01, 6, 0, 0, 0}));
    EXPECT_EQ(b.ask({0x60, 0, 0, 0, 0, 0, 0, 0}), bytes8({0x03, 0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0}));
    // 4.02.00: patch, major, minor on the wire.
    EXPECT_EQ(b.ask({0x40, 0x01, 0x54, 0x01, 0, 0, 0, 0}), bytes8({0x47, 0x01, 0x54, 0x01, 0x00, 0x04, 0x02, 0}));
}

}  // namespace
}  // namespace msim
