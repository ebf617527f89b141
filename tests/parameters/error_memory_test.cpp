// The error-memory copy: legacy records, clearing by zero write-backs, and the limits of both.
#include <gtest/gtest.h>

#include "common/orbel_convbuffer.h"
#include "fake_parameter_link.h"
#include "parameters/orbel_errormemoryhandler.h"

namespace {

using orbeltest::FakeParameterLink;
using Entry = CommDiag::ErrorBufferEntry;

Entry entry(uint32_t id, uint16_t minutes, uint8_t field) {
    Entry e{};
    e.id = id;
    e.timeMinutes = minutes;
    e.dataA = 0x10;
    e.counter = 3;
    e.info.state = 1;
    e.info.flag = 1;
    e.info.field = field & 0x1F;
    return e;
}

std::vector<uint8_t> answer(ORBEL_ErrorMemoryHandler& handler, uint8_t length) {
    ORBEL_ConvBuffer buffer(512);
    const std::vector<uint8_t> area(length + 2u, 0xEE);
    buffer.writeBytes(static_cast<uint32_t>(area.size()), area.data());
    handler.BuildErrorMemoryReadReqAnswer(288, length, &buffer, 0);
    std::vector<uint8_t> bytes(area.size());
    for (uint32_t i = 0; i < bytes.size(); ++i) buffer.readByte(i, &bytes[i]);
    return bytes;
}

TEST(ErrorMemory, RecordsAreNumberZeroMinutesAndHoursWithinTheRequestedLength) {
    FakeParameterLink link;
    ORBEL_ErrorMemoryHandler handler{link};
    int32_t result = -1;
    ASSERT_TRUE(handler.StartErrorMemoryReadRequest(&result));
    EXPECT_EQ(link.requests.at(0).op, "ReadErrorBufferEntry");
    EXPECT_EQ(link.requests.at(0).sub, 1u);
    handler.AddErrorMemoryEntry(2, entry(0x1234, 125, 9));
    handler.AddErrorMemoryEntry(1, entry(17, 65535, 1));
    handler.AddErrorMemoryEntry(1, entry(18, 65535, 1));  // the same sub-index again: one entry
    EXPECT_EQ(handler.entryCount(), 2u);
    EXPECT_EQ(answer(handler, 11), (std::vector<uint8_t>{1, 18, 0, 15, 0x44, 4, 0x34, 0, 5, 2, 0, 0xEE, 0xEE}));
    // Seven bytes hold the marker and one record: the second stays out.
    EXPECT_EQ(answer(handler, 7), (std::vector<uint8_t>{1, 18, 0, 15, 0x44, 4, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(answer(handler, 0), (std::vector<uint8_t>{0xEE, 0xEE}));
}

TEST(ErrorMemory, ClearingWritesAllZeroEntriesToOneToNAndStopsAt255) {
    FakeParameterLink link;
    ORBEL_ErrorMemoryHandler handler{link};
    handler.AddErrorMemoryEntry(5, entry(1, 1, 31));
    handler.AddErrorMemoryEntry(9, entry(2, 2, 31));
    // Each write-back completes inside its start, as a fast machine's does.
    link.onStart = [&] { handler.WriteErrorBufferElements(); };
    ASSERT_TRUE(handler.ResetErrorMemory());
    ASSERT_EQ(link.requests.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(link.requests[i].sub, i + 1) << "written to 1..n, not to the sub-indices read";
        const Entry& e = link.requests[i].entry;
        const uint8_t* raw = reinterpret_cast<const uint8_t*>(&e);
        for (size_t b = 0; b < sizeof e; ++b) EXPECT_EQ(raw[b], 0) << "byte " << b;
    }

    link.requests.clear();
    link.onStart = nullptr;
    for (int n = 1; n <= 255; ++n) handler.AddErrorMemoryEntry(static_cast<uint8_t>(n), entry(n, 0, 0));
    handler.AddErrorMemoryEntry(0, entry(0, 0, 0));  // 256 entries in the copy
    ASSERT_TRUE(handler.ResetErrorMemory());
    while (handler.WriteErrorBufferElements()) {
    }
    ASSERT_EQ(link.requests.size(), 255u) << "no write wraps round to sub-index 0";
    EXPECT_EQ(link.requests.back().sub, 255u);
}

TEST(ErrorMemory, ARefusedFirstWriteIsToldApartFromAnEmptyCopy) {
    FakeParameterLink link;
    ORBEL_ErrorMemoryHandler handler{link};
    int32_t result = -1;
    EXPECT_FALSE(handler.ResetErrorMemory(&result));
    EXPECT_EQ(result, 0) << "empty: nothing to do";
    handler.AddErrorMemoryEntry(1, entry(1, 1, 0));
    link.nextResult = 18;
    EXPECT_FALSE(handler.ResetErrorMemory(&result));
    EXPECT_EQ(result, 18);
    link.nextResult = 3;
    EXPECT_FALSE(handler.StartErrorMemoryReadRequest(&result));
    EXPECT_EQ(result, 3);
    EXPECT_EQ(handler.entryCount(), 0u) << "a read starts with an empty copy";
}

}  // namespace
