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
    EXPECT_NE(next(), Result::Message);
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

// --- in step and out of step

TEST_F(SericanFrameDecoder, FramesInStepAreTakenOnTheirCommandByteAlone) {
    // At the start and right after a frame, any start bytes and field values are taken as they
    // come, as before: every adapter of the protocol stays understood.
    auto odd = receiveFrame(0x58A, {1, 2, 3, 4, 5, 6, 7, 8});
    odd[0] = 0x00;
    odd[1] = 0x00;
    odd[6] = 9;
    auto odder = receiveFrame(0x000, {});
    odder[3] = 0xFF;
    odder[5] = 7;
    feed(joined(odd, odder));
    expectMessage(0x58A, {1, 2, 3, 4, 5, 6, 7, 8});
    CanMessage m{};
    ASSERT_EQ(decoder.next(m), Result::Message);
    EXPECT_EQ(m.cobId, 0xFF00);
    EXPECT_EQ(m.rtr, 7);
    EXPECT_EQ(next(), Result::Empty);
}

TEST_F(SericanFrameDecoder, NoiseHoldingTheCommandByteCostsNoFrameOnceOutOfStep) {
    // Seen on a line: after a stray byte, noise whose third byte is 0x12 read as an NMT "stop
    // all" (identifier 0, 01 00) and swallowed the start of the real frame behind it.
    const std::vector<uint8_t> noise = {0x42, 0x17, 0x3C, 0x12, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00};
    feed(joined(noise, receiveFrame(0x70A, {0x05})));
    expectMessage(0x70A, {0x05});
    EXPECT_EQ(next(), Result::Empty);
}

TEST_F(SericanFrameDecoder, OutOfStepAFrameNeedsItsStartBytesAndPlausibleFields) {
    struct Case {
        const char* what;
        std::size_t offset;
        uint8_t value;
    };
    const Case refused[] = {
        {"start byte", 0, 0xAB}, {"second byte", 1, 0x0E}, {"identifier above 0x7FF", 3, 0x08},
        {"rtr above 1", 5, 2},   {"length above 8", 6, 9},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        decoder.clear();  // a dropped fragment leaves the line out of step
        auto fake = receiveFrame(0x123, {0xEE});
        fake[c.offset] = c.value;
        feed(joined(fake, receiveFrame(0x58A, {4})));
        expectMessage(0x58A, {4});
        EXPECT_EQ(next(), Result::Empty);
    }
    // The extremes of the fields still pass, and a frame found so puts the line back in step.
    decoder.clear();
    auto loose = receiveFrame(0x000, {});
    loose[0] = 0x01;
    feed(joined(joined({0x99}, receiveFrame(0x7FF, {1, 2, 3, 4, 5, 6, 7, 8}, 1)), loose));
    CanMessage m{};
    ASSERT_EQ(decoder.next(m), Result::Message);
    EXPECT_EQ(m.cobId, 0x7FF);
    EXPECT_EQ(m.rtr, 1);
    EXPECT_EQ(m.len, 8);
    expectMessage(0x000, {});
}

TEST_F(SericanFrameDecoder, OutOfStepAHeadThatCannotFitIsDroppedBeforeTheRestArrives) {
    decoder.clear();
    feed({0xAA, 0x0F, 0x12, 0x09});  // identifier above 0x7FF already shows
    EXPECT_EQ(next(), Result::Empty);
    feed({0xAA, 0x0F, 0x12, 0x05});
    EXPECT_EQ(next(), Result::Incomplete);
    EXPECT_EQ(decoder.pending(), 4u);
}
