#include "common/orbel_convbuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> drain(ORBEL_ConvBuffer& buffer) {
    std::vector<uint8_t> bytes;
    uint8_t byte = 0;
    while (buffer.popByte(&byte)) bytes.push_back(byte);
    return bytes;
}

TEST(ConvBuffer, HoldsOneByteLessThanItsCapacity) {
    ORBEL_ConvBuffer buffer(512);
    std::vector<uint8_t> bytes(512, 0x5A);
    EXPECT_FALSE(buffer.writeBytes(512, bytes.data()));
    EXPECT_EQ(buffer.getByteCount(), 0u);
    EXPECT_TRUE(buffer.writeBytes(511, bytes.data()));
    EXPECT_EQ(buffer.getByteCount(), 511u);
    EXPECT_FALSE(buffer.writeBytes(1, bytes.data())) << "a write reaching the last byte is refused";
    EXPECT_EQ(buffer.getByteCount(), 511u);
}

TEST(ConvBuffer, RefusesAWriteThatWouldNotFitWholeAndKeepsItsContents) {
    ORBEL_ConvBuffer buffer(8);
    const uint8_t first[] = {1, 2, 3, 4, 5};
    const uint8_t second[] = {6, 7, 8};
    ASSERT_TRUE(buffer.writeBytes(5, first));
    EXPECT_FALSE(buffer.writeBytes(3, second)) << "5 + 3 reaches the last byte of 8";
    EXPECT_TRUE(buffer.writeBytes(2, second));
    EXPECT_EQ(drain(buffer), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));
}

TEST(ConvBuffer, AHugeCountDoesNotWrapRoundTheCapacityTest) {
    ORBEL_ConvBuffer buffer(512);
    const uint8_t one = 1;
    ASSERT_TRUE(buffer.writeBytes(1, &one));
    EXPECT_FALSE(buffer.writeBytes(0xFFFFFFFFu, &one));
    EXPECT_EQ(buffer.getByteCount(), 1u);
}

TEST(ConvBuffer, ReadingEmptyRewindsBothPositions) {
    ORBEL_ConvBuffer buffer(4);
    const uint8_t bytes[] = {9, 8};
    ASSERT_TRUE(buffer.writeBytes(2, bytes));
    uint8_t byte = 0;
    ASSERT_TRUE(buffer.popByte(&byte));
    EXPECT_EQ(byte, 9);
    ASSERT_TRUE(buffer.popByte(&byte));
    EXPECT_EQ(byte, 8);
    EXPECT_FALSE(buffer.popByte(&byte));
    // Positions are back at 0: the full capacity minus one is available again.
    const uint8_t three[] = {1, 2, 3};
    EXPECT_TRUE(buffer.writeBytes(3, three));
}

TEST(ConvBuffer, PeekAndChangeOnlyTouchWaitingBytes) {
    ORBEL_ConvBuffer buffer(16);
    const uint8_t bytes[] = {0xAA, 0x02, 0x0F};
    ASSERT_TRUE(buffer.writeBytes(3, bytes));
    uint8_t byte = 0;
    EXPECT_TRUE(buffer.readByte(0, &byte));
    EXPECT_TRUE(buffer.readByte(0, &byte));
    EXPECT_EQ(byte, 0xAA);
    EXPECT_EQ(buffer.getByteCount(), 3u) << "peeking consumes nothing";
    EXPECT_FALSE(buffer.readByte(3, &byte));
    EXPECT_FALSE(buffer.changeByte(3, 0x01));
    EXPECT_TRUE(buffer.changeByte(2, 0x10));
    // After one pop, indices count from the new read position.
    ASSERT_TRUE(buffer.popByte(&byte));
    EXPECT_TRUE(buffer.changeByte(0, 0x22));
    EXPECT_FALSE(buffer.changeByte(2, 0x33));
    EXPECT_EQ(drain(buffer), (std::vector<uint8_t>{0x22, 0x10}));
}

TEST(ConvBuffer, ClearEmptiesAndZeroesTheStore) {
    ORBEL_ConvBuffer buffer(8);
    const uint8_t bytes[] = {1, 2, 3, 4};
    ASSERT_TRUE(buffer.writeBytes(4, bytes));
    buffer.clear();
    EXPECT_EQ(buffer.getByteCount(), 0u);
    uint8_t byte = 0xFF;
    EXPECT_FALSE(buffer.readByte(0, &byte));
    // A fresh write of fewer bytes must not reveal the old ones behind it.
    const uint8_t one = 7;
    ASSERT_TRUE(buffer.writeBytes(1, &one));
    EXPECT_FALSE(buffer.readByte(1, &byte));
    EXPECT_EQ(drain(buffer), (std::vector<uint8_t>{7}));
}

}  // namespace
