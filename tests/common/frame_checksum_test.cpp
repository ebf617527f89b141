#include "common/frame_checksum.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FrameChecksum, MatchesTheWorkedExamples) {
    const uint8_t answer[] = {0xAA, 0x02, 0x0F, 0x01};  // sums to 0xBC
    EXPECT_EQ(orbel::frameChecksum(answer, sizeof answer), 0x43);
    EXPECT_EQ(orbel::frameChecksumOfSum(0x1FF), 0xFE);
}

TEST(FrameChecksum, CarriesTheOverflowRoundIntoTheLowByte) {
    // 0xFF + 0x01 = 0x100: folded to 0x01, so the complement is 0xFE, not 0xFF (a plain
    // 8-bit sum would lose the carry).
    const uint8_t bytes[] = {0xFF, 0x01};
    EXPECT_EQ(orbel::frameChecksum(bytes, sizeof bytes), 0xFE);
    EXPECT_EQ(orbel::frameChecksumOfSum(0), 0xFF);
    EXPECT_EQ(orbel::frameChecksumOfSum(0xFF), 0x00);
}

TEST(FrameChecksum, FoldsEvenTheLargestAnswerSum) {
    // 511 bytes of 0xFF: the largest sum an answer buffer can hold.
    std::vector<uint8_t> bytes(511, 0xFF);
    const uint32_t sum = 511u * 0xFFu;
    const uint32_t t = (sum % 256u) + (sum / 256u);
    const int expected = ((255 - static_cast<int>(t % 256u) - static_cast<int>(t / 256u)) % 256 + 256) % 256;
    EXPECT_EQ(orbel::frameChecksum(bytes.data(), bytes.size()), expected);
}

}  // namespace
