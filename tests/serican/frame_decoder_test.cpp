#include "frame_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "adapter_frames.h"

using serican::FrameDecoder;
using serican_test::joined;
using serican_test::receiveFrame;
using Result = FrameDecoder::Result;

namespace {

class SericanFrameDecoder : public ::testing::Test {
protected:
    void feed(const std::vector<uint8_t>& bytes) { decoder.append(bytes.data(), bytes.size()); }

    // Decodes the next frame and checks that it is the expected one.
    void expectMessage(uint16_t cobId, const std::vector<uint8_t>& data) {
        CanMessage m{};
        ASSERT_EQ(decoder.next(m), Result::Message);
        EXPECT_EQ(m.cobId, cobId);
        ASSERT_EQ(m.len, data.size());
        EXPECT_EQ(std::vector<uint8_t>(m.data, m.data + m.len), data);
    }

    Result next() {
        CanMessage m{};
        return decoder.next(m);
    }

    FrameDecoder decoder;
};

}  // namespace

TEST_F(SericanFrameDecoder, FieldsOfAReceiveFrame) {
    feed(receiveFrame(0x6FF, {}, 1));
    CanMessage m{};
    ASSERT_EQ(decoder.next(m), Result::Message);
    EXPECT_EQ(m.cobId, 0x6FF);
    EXPECT_EQ(m.rtr, 1);
    EXPECT_EQ(m.len, 0);
}

TEST_F(SericanFrameDecoder, AFrameSplitAnywhereIsKeptUntilItsRestArrives) {
    const auto frame = receiveFrame(0x58A, {1, 2, 3, 4, 5, 6, 7, 8});
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        SCOPED_TRACE(cut);
        feed({frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(cut)});
        EXPECT_EQ(next(), Result::Incomplete);
        feed({frame.begin() + static_cast<std::ptrdiff_t>(cut), frame.end()});
        expectMessage(0x58A, {1, 2, 3, 4, 5, 6, 7, 8});
        EXPECT_EQ(next(), Result::Empty);
    }
}

TEST_F(SericanFrameDecoder, ALoneStrayByteIsHeldAsAPossibleStartThenSkipped) {
    feed({0xAA});
    EXPECT_EQ(next(), Result::Incomplete);
    feed(receiveFrame(0x58A, {4}));
    expectMessage(0x58A, {4});
    EXPECT_EQ(next(), Result::Empty);
}

TEST_F(SericanFrameDecoder, AStrayByteBetweenFramesCostsNoFrame) {
    feed(joined(joined(receiveFrame(0x581, {1}), {0x42}), receiveFrame(0x582, {2})));
    expectMessage(0x581, {1});
    expectMessage(0x582, {2});
}

TEST_F(SericanFrameDecoder, NoiseNeverPilesUp) {
    std::vector<uint8_t> noise(100000);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i % 0x11);
    feed(noise);
    EXPECT_EQ(next(), Result::Incomplete);
    EXPECT_LE(decoder.pending(), 2u);
}

TEST_F(SericanFrameDecoder, LeavesTheMessageAloneWhenThereIsNone) {
    feed({0xAA, 0x0F, 0x12, 0x05});
    CanMessage m;
    std::memset(&m, 0x77, sizeof m);
    EXPECT_EQ(decoder.next(m), Result::Incomplete);
    const auto* raw = reinterpret_cast<const uint8_t*>(&m);
    for (std::size_t i = 0; i < sizeof m; ++i) ASSERT_EQ(raw[i], 0x77);
}

