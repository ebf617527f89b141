// The SDO server against frames written from the CiA 301 tables.
#include <gtest/gtest.h>

#include "block_crc.h"
#include "twin_bench.h"

namespace msim {
namespace {

using test::bytes8;
using test::NodeBench;

uint32_t abortOf(const std::array<uint8_t, 8>& r) {
    EXPECT_EQ(r[0], 0x80);
    return static_cast<uint32_t>(r[4] | r[5] << 8 | r[6] << 16) | static_cast<uint32_t>(r[7]) << 24;
}

TEST(SdoServer, ExpeditedUploadOfFourBytes) {
    NodeBench b;
    // Identity, product code = machine number 5.
    EXPECT_EQ(b.ask({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}), bytes8({0x43, 0x18, 0x10, 0x02, 0x05, 0, 0, 0}));
    // One byte: e=1 s=1 n=3.
    EXPECT_EQ(b.ask({0x40, 0x22, 0x22, 0x01, 0, 0, 0, 0}), bytes8({0x4F, 0x22, 0x22, 0x01, 0x00, 0, 0, 0}));
}

TEST(SdoServer, ExpeditedDownloadStoresTheValueAndConfirms) {
    NodeBench b;
    EXPECT_EQ(b.ask({0x2F, 0x00, 0x50, 0x01, 0x16, 0, 0, 0}), bytes8({0x60, 0x00, 0x50, 0x01, 0, 0, 0, 0}));
    EXPECT_EQ(b.node.dictionary().entry(0x5000, 1)->asUnsigned(), 0x16u);
    EXPECT_EQ(b.ask({0x2B, 0x01, 0x30, 0x02, 0x34, 0x12, 0, 0}), bytes8({0x60, 0x01, 0x30, 0x02, 0, 0, 0, 0}));
    EXPECT_EQ(b.node.dictionary().entry(0x3001, 2)->asUnsigned(), 0x1234u);
    // Size not indicated: the server takes the object's own width.
    EXPECT_EQ(b.ask({0x22, 0x00, 0x30, 0x03, 0x7E, 0xEE, 0xEE, 0xEE})[0], 0x60);
    EXPECT_EQ(b.node.dictionary().entry(0x3000, 3)->asUnsigned(), 0x7Eu);
    ASSERT_FALSE(b.record.sdo().empty());
    EXPECT_EQ(b.record.sdo().back().report.mode, SdoMode::Expedited);
}

TEST(SdoServer, SegmentedUploadAlternatesTheToggleAndMarksTheLastSegment) {
    NodeBench b;
    // Serial number, 13 bytes: "SN05-00042731".
    EXPECT_EQ(b.ask({0x40, 0x04, 0x54, 0x01, 0, 0, 0, 0}), bytes8({0x41, 0x04, 0x54, 0x01, 13, 0, 0, 0}));
    EXPECT_EQ(b.ask({0x60, 0, 0, 0, 0, 0, 0, 0}), bytes8({0x00, 'S', 'N', '0', '5', '-', '0', '0'}));
    // Second segment: toggle 1, 6 bytes so n = 1, last.
    EXPECT_EQ(b.ask({0x70, 0, 0, 0, 0, 0, 0, 0}), bytes8({0x13, '0', '4', '2', '7', '3', '1', 0}));
    ASSERT_EQ(b.record.sdo().size(), 1u);
    EXPECT_EQ(b.record.sdo()[0].size, 13u);
    EXPECT_EQ(b.record.sdo()[0].report.mode, SdoMode::Segmented);
}

TEST(SdoServer, SegmentedUploadWithTheWrongToggleIsAborted) {
    NodeBench b;
    b.ask({0x40, 0x04, 0x54, 0x01, 0, 0, 0, 0});
    EXPECT_EQ(abortOf(b.ask({0x70, 0, 0, 0, 0, 0, 0, 0})), 0x05030000u);
}

TEST(SdoServer, SegmentedDownloadOfTheMaterialNumber) {
    NodeBench b;
    EXPECT_EQ(b.ask({0x21, 0x05, 0x54, 0x01, 13, 0, 0, 0}), bytes8({0x60, 0x05, 0x54, 0x01, 0, 0, 0, 0}));
    EXPECT_EQ(b.ask({0x00, 'A', 'B', 'C', 'D', 'E', 'F', 'G'}), bytes8({0x20, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(b.ask({0x13, 'H', 'I', 'J', 'K', 'L', 'M', 0}), bytes8({0x30, 0, 0, 0, 0, 0, 0, 0}));
    const auto& v = b.node.dictionary().entry(0x5405, 1)->value;
    EXPECT_EQ(std::string(v.begin(), v.end()), "ABCDEFGHIJKLM");
}

TEST(SdoServer, SegmentedDownloadRepeatingAToggleIsAbortedAndNothingStored) {
    NodeBench b;
    const auto before = b.node.dictionary().entry(0x5405, 1)->value;
    b.ask({0x21, 0x05, 0x54, 0x01, 13, 0, 0, 0});
    b.ask({0x00, 'A', 'B', 'C', 'D', 'E', 'F', 'G'});
    EXPECT_EQ(abortOf(b.ask({0x01, 'H', 'I', 'J', 'K', 'L', 'M', 0})), 0x05030000u);
    EXPECT_EQ(b.node.dictionary().entry(0x5405, 1)->value, before);
}

TEST(SdoServer, DomainRecordsKeepTheirWireSize) {
    NodeBench b;
    // 12 bytes indicated for the 13-byte serial number.
    EXPECT_EQ(abortOf(b.ask({0x21, 0x04, 0x54, 0x01, 12, 0, 0, 0})), 0x06070010u);
    // A two-byte value for a one-byte parameter.
    EXPECT_EQ(abortOf(b.ask({0x2B, 0x00, 0x30, 0x01, 1, 2, 0, 0})), 0x06070010u);
    // Fewer segment bytes than indicated.
    b.ask({0x21, 0x05, 0x54, 0x01, 13, 0, 0, 0});
    EXPECT_EQ(abortOf(b.ask({0x01, 'A', 'B', 'C', 'D', 'E', 'F', 'G'})), 0x06070010u);
}

TEST(SdoServer, AccessErrorsAnswerWithTheirCiA301Codes) {
    NodeBench b;
    EXPECT_EQ(abortOf(b.ask({0x40, 0x99, 0x59, 0x01, 0, 0, 0, 0})), 0x06020000u);  // no object
    EXPECT_EQ(abortOf(b.ask({0x40, 0x00, 0x53, 0x04, 0, 0, 0, 0})), 0x06090011u);  // error entry 4 of 3
    EXPECT_EQ(abortOf(b.ask({0x2F, 0x00, 0x51, 0x01, 1, 0, 0, 0})), 0x06010002u);  // input is read-only
    EXPECT_EQ(abortOf(b.ask({0x40, 0x50, 0x1F, 0x01, 0, 0, 0, 0})), 0x06010001u);  // program data write-only
    EXPECT_EQ(abortOf(b.ask({0x23, 0x00, 0x56, 0x01, 7, 0, 0, 0})), 0x06090031u);  // machine mode above 2
    EXPECT_EQ(abortOf(b.ask({0xE0, 0x00, 0x10, 0x00, 0, 0, 0, 0})), 0x05040001u);  // no such command
    EXPECT_EQ(abortOf(b.ask({0x60, 0, 0, 0, 0, 0, 0, 0})), 0x05040001u);           // segment out of turn
    auto r = b.sdo({0x40, 0x00, 0x10});                                            // short frame
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(abortOf(r[0].data), 0x08000000u);
    EXPECT_EQ(b.record.sdo().back().report.abortCode, 0x08000000u);
}

TEST(SdoServer, ClientAbortEndsTheTransferQuietly) {
    NodeBench b;
    b.ask({0x40, 0x04, 0x54, 0x01, 0, 0, 0, 0});
    EXPECT_TRUE(b.sdo({0x80, 0x04, 0x54, 0x01, 0x00, 0x00, 0x04, 0x05}).empty());
    ASSERT_EQ(b.record.sdo().size(), 1u);
    EXPECT_TRUE(b.record.sdo()[0].report.abortedByClient);
    EXPECT_EQ(b.record.sdo()[0].report.abortCode, 0x05040000u);
    // The next segment request finds no transfer.
    EXPECT_EQ(abortOf(b.ask({0x60, 0, 0, 0, 0, 0, 0, 0})), 0x05040001u);
}

TEST(SdoServer, IdleTransferTimesOutWithAnAbortOnTheBus) {
    NodeConfig cfg;
    cfg.sdo.timeout = Millis(300);
    NodeBench b("crane", cfg);
    b.ask({0x40, 0x04, 0x54, 0x01, 0, 0, 0, 0});
    auto frames = b.advance(Millis(299));
    EXPECT_TRUE(frames.empty()) << test::frameText(frames);
    frames = b.advance(Millis(2));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].id, 0x58A);
    EXPECT_EQ(abortOf(frames[0].data), 0x05040000u);
}

TEST(SdoServer, BlockCrcIsCrc16Ccitt) {
    const char* s = "123456789";
    EXPECT_EQ(blockCrc(reinterpret_cast<const uint8_t*>(s), 9), 0x31C3);
}

// A block download client written from the CiA 301 figures, with a knob to lose segments.
struct BlockDownload {
    NodeBench& b;
    uint16_t index;
    uint8_t sub;
    std::vector<uint8_t> data;
    bool crc = false;
    std::vector<int> loseSegmentsOnce;  // positions (0-based, over all segments sent) to drop

    uint32_t run() {
        auto r = b.ask({static_cast<uint8_t>(0xC2 | (crc ? 4 : 0)), static_cast<uint8_t>(index & 0xFF),
                        static_cast<uint8_t>(index >> 8), sub, static_cast<uint8_t>(data.size()),
                        static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size() >> 16), 0});
        if (r[0] == 0x80) return abortOf(r);
        EXPECT_EQ(r[0] & 0xE3, 0xA0);
        uint8_t blk = r[4];
        std::size_t pos = 0;
        int sent = 0;
        while (true) {
            const std::size_t blockStart = pos;
            std::vector<CanFrame> answers;
            uint8_t seq = 0;
            bool last = false;
            while (seq < blk && !last) {
                ++seq;
                CanFrame f;
                f.id = 0x60A;
                f.len = 8;
                const std::size_t at = blockStart + 7u * (seq - 1);
                for (std::size_t i = 0; i < 7 && at + i < data.size(); ++i) f.data[1 + i] = data[at + i];
                last = at + 7 >= data.size();
                f.data[0] = static_cast<uint8_t>((last ? 0x80 : 0) | seq);
                const bool lose =
                    std::find(loseSegmentsOnce.begin(), loseSegmentsOnce.end(), sent) != loseSegmentsOnce.end();
                ++sent;
                if (lose) {
                    loseSegmentsOnce.erase(std::find(loseSegmentsOnce.begin(), loseSegmentsOnce.end(), sent - 1));
                    continue;
                }
                auto out = b.send(f);
                answers.insert(answers.end(), out.begin(), out.end());
            }
            EXPECT_EQ(answers.size(), 1u) << test::frameText(answers);
            if (answers.empty()) return 1;
            const auto& ack = answers.back().data;
            if (ack[0] == 0x80) return abortOf(ack);
            EXPECT_EQ(ack[0], 0xA2);
            pos = blockStart + 7u * ack[1];
            blk = ack[2];
            if (pos >= data.size()) break;
        }
        const uint8_t unused = static_cast<uint8_t>((7 - data.size() % 7) % 7);
        const uint16_t c = crc ? blockCrc(data.data(), data.size()) : 0;
        auto end = b.ask({static_cast<uint8_t>(0xC1 | unused << 2), static_cast<uint8_t>(c & 0xFF),
                          static_cast<uint8_t>(c >> 8), 0, 0, 0, 0, 0});
        if (end[0] == 0x80) return abortOf(end);
        EXPECT_EQ(end[0], 0xA1);
        return 0;
    }
};

std::vector<uint8_t> pattern(std::size_t n) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + 7);
    return v;
}

TEST(SdoServer, BlockDownloadSeveralBlocksWithAndWithoutCrc) {
    for (bool crc : {false, true}) {
        NodeConfig cfg;
        cfg.sdo.blockSize = 16;
        NodeBench b("crane", cfg);
        // 0x1F50 wants an erased flash; erase first through the machine's own objects.
        b.ask({0x2F, 0x51, 0x1F, 0x01, 0x03, 0, 0, 0});
        b.advance(Millis(1000));
        BlockDownload d{b, 0x1F50, 1, pattern(1000), crc, {}};
        EXPECT_EQ(d.run(), 0u) << "crc " << crc;
        EXPECT_EQ(b.record.sdo().back().size, 1000u);
        EXPECT_EQ(b.record.sdo().back().report.mode, SdoMode::Block);
    }
}

TEST(SdoServer, BlockDownloadLostSegmentIsAcknowledgedShortAndResent) {
    NodeConfig cfg;
    cfg.sdo.blockSize = 10;
    NodeBench b("crane", cfg);
    b.ask({0x2F, 0x51, 0x1F, 0x01, 0x03, 0, 0, 0});
    b.advance(Millis(1000));
    // Segment 37 overall is lost once: the block ack reports the last good one and the
    // client resumes from there; the server keeps only in-order data.
    BlockDownload d{b, 0x1F50, 1, pattern(500), true, {37, 3}};
    EXPECT_EQ(d.run(), 0u);
    std::string path = ::testing::TempDir() + "/firmware-node10.bin";
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> got(600);
    got.resize(std::fread(got.data(), 1, got.size(), f));
    std::fclose(f);
    std::remove(path.c_str());
    EXPECT_EQ(got, pattern(500));
}

TEST(SdoServer, BlockDownloadWithAWrongCrcIsAborted) {
    NodeBench b;
    b.ask({0x2F, 0x51, 0x1F, 0x01, 0x03, 0, 0, 0});
    b.advance(Millis(1000));
    auto r = b.ask({0xC6, 0x50, 0x1F, 0x01, 8, 0, 0, 0});
    EXPECT_EQ(r[0], 0xA4);
    b.send(CanFrame::make(0x60A, {0x01, 1, 2, 3, 4, 5, 6, 7}));
    auto ack = b.ask({0x82, 8, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(ack, bytes8({0xA2, 2, 127, 0, 0, 0, 0, 0}));
    EXPECT_EQ(abortOf(b.ask({0xC1 | 6 << 2, 0x12, 0x34, 0, 0, 0, 0, 0})), 0x05040004u);
}

TEST(SdoServer, BlockDownloadOfAReadOnlyObjectIsRefusedAtTheStart) {
    NodeBench b;
    EXPECT_EQ(abortOf(b.ask({0xC2, 0x01, 0x54, 0x01, 3, 0, 0, 0})), 0x06010002u);
}

// Block upload as the client side of CiA 301 drives it.
TEST(SdoServer, BlockUploadWithPartialAcknowledgementAndCrc) {
    NodeBench b;
    // Error buffer entry 1: 16 bytes, three segments.
    auto init = b.ask({0xA4, 0x00, 0x53, 0x01, 2, 0, 0, 0});  // CRC, block size 2, no protocol switch
    EXPECT_EQ(init, bytes8({0xC6, 0x00, 0x53, 0x01, 16, 0, 0, 0}));
    auto seg = b.sdo({0xA3, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_EQ(seg.size(), 2u);
    EXPECT_EQ(seg[0].data[0], 0x01);
    EXPECT_EQ(seg[1].data[0], 0x02);
    const auto& entry = b.node.dictionary().entry(0x5300, 1)->value;
    EXPECT_EQ(std::vector<uint8_t>(seg[0].data.begin() + 1, seg[0].data.end()),
              std::vector<uint8_t>(entry.begin(), entry.begin() + 7));
    // Acknowledge only segment 1: segment 2 comes again as the first of the next block.
    seg = b.sdo({0xA2, 1, 3, 0, 0, 0, 0, 0});
    ASSERT_EQ(seg.size(), 2u);
    EXPECT_EQ(seg[0].data[0], 0x01);
    EXPECT_EQ(seg[0].data[1], entry[7]);
    EXPECT_EQ(seg[1].data[0], 0x82);  // last, 2 bytes used
    EXPECT_EQ(seg[1].data[1], entry[14]);
    auto end = b.ask({0xA2, 2, 3, 0, 0, 0, 0, 0});
    const uint16_t crc = blockCrc(entry.data(), entry.size());
    EXPECT_EQ(end,
              bytes8({0xC1 | 5 << 2, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8), 0, 0, 0, 0, 0}));
    EXPECT_TRUE(b.sdo({0xA1, 0, 0, 0, 0, 0, 0, 0}).empty());
    ASSERT_EQ(b.record.sdo().size(), 1u);
    EXPECT_EQ(b.record.sdo()[0].report.mode, SdoMode::Block);
    EXPECT_EQ(b.record.sdo()[0].size, 16u);
}

TEST(SdoServer, BlockUploadSwitchesToTheNormalProtocolBelowTheThreshold) {
    NodeBench b;
    // Software version, 3 bytes, threshold 4: an expedited answer instead.
    auto r = b.ask({0xA0, 0x01, 0x54, 0x01, 127, 4, 0, 0});
    EXPECT_EQ(r[0], 0x43 | 1 << 2);
    EXPECT_EQ(r[4], 13);  // patch
}

TEST(SdoServer, BlockUploadRefusesABadBlockSizeAndAnAckBeyondTheBlock) {
    NodeBench b;
    EXPECT_EQ(abortOf(b.ask({0xA0, 0x00, 0x53, 0x01, 0, 0, 0, 0})), 0x05040002u);
    b.ask({0xA0, 0x00, 0x53, 0x01, 2, 0, 0, 0});
    b.sdo({0xA3, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(abortOf(b.ask({0xA2, 5, 2, 0, 0, 0, 0, 0})), 0x05040003u);
}

TEST(SdoServer, ANewRequestReplacesATransferTheClientAbandoned) {
    NodeBench b;
    b.ask({0x40, 0x04, 0x54, 0x01, 0, 0, 0, 0});
    EXPECT_EQ(b.ask({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0})[0], 0x43);
    ASSERT_EQ(b.record.sdo().size(), 2u);
    EXPECT_NE(b.record.sdo()[0].report.note.find("replaced"), std::string::npos);
}

}  // namespace
}  // namespace msim
