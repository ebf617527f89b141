#include "commdiag/domain_conversion.h"
#include "commdiag/types.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace CommDiag {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAreArray;

template <typename Record>
Bytes pack(int type, const Record& record) {
    DomainLayout layout{};
    EXPECT_TRUE(domainLayout(type, &layout));
    EXPECT_EQ(layout.recordSize, sizeof(Record));
    Bytes wire(layout.wireSize, 0xEE);
    packDomain(type, reinterpret_cast<const uint8_t*>(&record), wire.data());
    return wire;
}

template <typename Record>
Record unpack(int type, const Bytes& wire, Record record = Record{}) {
    DomainLayout layout{};
    EXPECT_TRUE(domainLayout(type, &layout));
    EXPECT_EQ(layout.wireSize, wire.size());
    unpackDomain(type, wire.data(), reinterpret_cast<uint8_t*>(&record));
    return record;
}

struct Three {
    uint8_t b[3];
};
struct Eleven {
    uint8_t b[11];
};
struct Thirteen {
    uint8_t b[13];
};

TEST(DomainLayout, SizesOfEveryType) {
    const DomainLayout expected[] = {{3, 3},   {3, 3},   {26, 32}, {6, 12}, {11, 11}, {13, 13},
                                     {13, 13}, {16, 16}, {26, 28}, {4, 3},  {60, 76}};
    for (int type = 1; type <= 11; ++type) {
        DomainLayout layout{};
        ASSERT_TRUE(domainLayout(type, &layout)) << type;
        EXPECT_EQ(layout.wireSize, expected[type - 1].wireSize) << type;
        EXPECT_EQ(layout.recordSize, expected[type - 1].recordSize) << type;
        EXPECT_LE(layout.wireSize, kMaxDomainWireSize);
    }
}

TEST(DomainLayout, TypesWithoutConversion) {
    DomainLayout layout{};
    EXPECT_FALSE(domainLayout(DOMAIN_RAW, &layout));
    EXPECT_FALSE(domainLayout(12, &layout));
    EXPECT_FALSE(domainLayout(-1, &layout));
}

TEST(DomainConversion, Object5402IsCopied) {
    Three record{{1, 2, 3}};
    EXPECT_THAT(pack(DOMAIN_OBJECT5402, record), ElementsAreArray({1, 2, 3}));
    EXPECT_THAT(unpack<Three>(DOMAIN_OBJECT5402, {7, 8, 9}).b, ElementsAreArray({7, 8, 9}));
}

TEST(DomainConversion, SoftwareVersionSwapsItsLastTwoBytesBothWays) {
    EXPECT_THAT(unpack<Three>(DOMAIN_SW_VERSION, {0x05, 0x02, 0x01}).b, ElementsAreArray({0x05, 0x01, 0x02}));
    Three record{{0x05, 0x01, 0x02}};
    EXPECT_THAT(pack(DOMAIN_SW_VERSION, record), ElementsAreArray({0x05, 0x02, 0x01}));
}

TEST(DomainConversion, MachineTypeIsThreeSixteenBitNumbers) {
    MachineTypeRecord record = unpack<MachineTypeRecord>(DOMAIN_MACHINE_TYPE, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00});
    EXPECT_EQ(record.machineType, 1u);
    EXPECT_EQ(record.machineNumber, 2u);
    EXPECT_EQ(record.machineVariant, 3u);
    // Unpacking zero-extends over whatever the record held.
    MachineTypeRecord dirty{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    record = unpack(DOMAIN_MACHINE_TYPE, {0x34, 0x12, 0xFF, 0xFF, 0, 0}, dirty);
    EXPECT_EQ(record.machineType, 0x1234u);
    EXPECT_EQ(record.machineNumber, 0xFFFFu);
    EXPECT_EQ(record.machineVariant, 0u);
    // Packing keeps the low 16 bits.
    EXPECT_THAT(pack(DOMAIN_MACHINE_TYPE, MachineTypeRecord{0x12345678u, 2, 0x10003u}),
                ElementsAreArray({0x78, 0x56, 0x02, 0x00, 0x03, 0x00}));
}

TEST(DomainConversion, Object5400SerialAndMaterialNumbersAreCopied) {
    Eleven eleven;
    for (int i = 0; i < 11; ++i) eleven.b[i] = static_cast<uint8_t>(0x40 + i);
    Bytes wire = pack(DOMAIN_OBJECT5400, eleven);
    EXPECT_THAT(wire, ElementsAreArray(eleven.b));
    EXPECT_THAT(unpack<Eleven>(DOMAIN_OBJECT5400, wire).b, ElementsAreArray(eleven.b));

    Thirteen thirteen;
    for (int i = 0; i < 13; ++i) thirteen.b[i] = static_cast<uint8_t>('A' + i);
    for (int type : {DOMAIN_SERIAL_NUMBER, DOMAIN_MATERIAL_NUMBER}) {
        wire = pack(type, thirteen);
        EXPECT_THAT(wire, ElementsAreArray(thirteen.b));
        EXPECT_THAT(unpack<Thirteen>(type, wire).b, ElementsAreArray(thirteen.b));
    }
}

TEST(DomainConversion, ErrorBufferEntryFieldsAndFlagByte) {
    ErrorBufferEntry entry{};
    entry.dataA = 0x0102;
    entry.timeMinutes = 0x0304;
    entry.dataC = 0x0506;
    entry.dataD = 0x0708;
    entry.id = 0x0C0B0A09u;
    entry.counter = 0x0D;
    std::memset(&entry.info, 0xAD, 1);
    Bytes wire = pack(DOMAIN_ERROR_BUFFER_ENTRY, entry);
    EXPECT_THAT(wire, ElementsAreArray({0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                                        0x01, 0x01, 0x15}));

    ErrorBufferEntry back = unpack<ErrorBufferEntry>(DOMAIN_ERROR_BUFFER_ENTRY, wire);
    EXPECT_EQ(back.dataA, 0x0102);
    EXPECT_EQ(back.timeMinutes, 0x0304);
    EXPECT_EQ(back.dataC, 0x0506);
    EXPECT_EQ(back.dataD, 0x0708);
    EXPECT_EQ(back.id, 0x0C0B0A09u);
    EXPECT_EQ(back.counter, 0x0D);
    uint8_t info;
    std::memcpy(&info, &back.info, 1);
    EXPECT_EQ(info, 0xAD);
    EXPECT_EQ(back.info.state, 1);
    EXPECT_EQ(back.info.flag, 1);
    EXPECT_EQ(back.info.field, 0x15);
}

TEST(DomainConversion, ErrorBufferFlagBytesIgnoreBitsOutsideTheirFields) {
    Bytes wire(16, 0);
    wire[13] = 0xFE;  // state 2
    wire[14] = 0xFE;  // flag 0
    wire[15] = 0xFF;  // field 31
    ErrorBufferEntry entry = unpack<ErrorBufferEntry>(DOMAIN_ERROR_BUFFER_ENTRY, wire);
    uint8_t info;
    std::memcpy(&info, &entry.info, 1);
    EXPECT_EQ(info, 0x02 | 0x1F << 3);
}

TEST(DomainConversion, Object5403SwapsOnePairAndNarrowsTwoFields) {
    Object5403Record record{};
    for (int i = 0; i < 8; ++i) record.bytes0[i] = static_cast<uint8_t>(i);
    record.bytes8[0] = 8;
    record.bytes8[1] = 9;
    for (int i = 0; i < 6; ++i) record.bytes10[i] = static_cast<uint8_t>(10 + i);
    record.swappedPair[0] = 0x10;
    record.swappedPair[1] = 0x11;
    record.value20 = 0xABCD1234u;
    record.value24 = 0x5678u;
    record.value28 = 0x44332211u;
    Bytes wire = pack(DOMAIN_OBJECT5403, record);
    EXPECT_THAT(wire, ElementsAreArray({0,  1,  2,  3,    4,    5,    6,    7,    8,    9,    10,   11,   12,
                                        13, 14, 15, 0x11, 0x10, 0x34, 0x12, 0x78, 0x56, 0x11, 0x22, 0x33, 0x44}));

    Object5403Record back = unpack<Object5403Record>(DOMAIN_OBJECT5403, wire);
    EXPECT_EQ(std::memcmp(back.bytes0, record.bytes0, 8), 0);
    EXPECT_EQ(std::memcmp(back.bytes10, record.bytes10, 6), 0);
    EXPECT_EQ(back.swappedPair[0], 0x10);
    EXPECT_EQ(back.swappedPair[1], 0x11);
    EXPECT_EQ(back.value20, 0x1234u);
    EXPECT_EQ(back.value24, 0x5678u);
    EXPECT_EQ(back.value28, 0x44332211u);
}

TEST(DomainConversion, BlockControlRecordCarriesStateAsSixteenBits) {
    BlockControlRecord record{0x01020304u, 256, 4, 1000, 0xA0B0C0D0u, 3, 0x00070004u};
    Bytes wire = pack(DOMAIN_BLOCK_CONTROL, record);
    EXPECT_THAT(wire, ElementsAreArray({0x04, 0x03, 0x02, 0x01, 0x00, 0x01, 0,    0, 4, 0, 0, 0,    0xE8,
                                        0x03, 0,    0,    0xD0, 0xC0, 0xB0, 0xA0, 3, 0, 0, 0, 0x04, 0x00}));
    BlockControlRecord back = unpack<BlockControlRecord>(DOMAIN_BLOCK_CONTROL, wire);
    EXPECT_EQ(back.blockId, record.blockId);
    EXPECT_EQ(back.packetSize, 256u);
    EXPECT_EQ(back.packetCount, 4u);
    EXPECT_EQ(back.totalSize, 1000u);
    EXPECT_EQ(back.localAddress, 0xA0B0C0D0u);
    EXPECT_EQ(back.packetIndex, 3u);
    EXPECT_EQ(back.state, 4u);
}

TEST(DomainConversion, RevisionNumberDropsTheFirstByte) {
    EXPECT_THAT(unpack<Three>(DOMAIN_REVISION_NUMBER, {0x00, 0x01, 0x03, 0x01}).b, ElementsAreArray({1, 3, 1}));
    EXPECT_THAT(pack(DOMAIN_REVISION_NUMBER, Three{{1, 3, 1}}), ElementsAreArray({0, 1, 3, 1}));
}

TEST(DomainConversion, Object5410BitFieldsShareOneByte) {
    Object5410Record record{};
    for (int i = 0; i < 8; ++i) record.head[i] = static_cast<uint8_t>(0xA0 + i);
    record.headValue = 0x11223344u;
    for (int g = 0; g < 2; ++g) {
        Object5410Group& group = record.groups[g];
        group.bits5 = g == 0 ? 0x15u : 0x1Fu;
        group.bits3 = g == 0 ? 0x5u : 0x2u;
        for (int i = 0; i < 16; ++i) group.bytes[i] = static_cast<uint8_t>(0x10 * (g + 1) + i);
        group.value = 0x01020304u + static_cast<uint32_t>(g);
        group.tail[0] = static_cast<uint8_t>(0xC0 + g);
        group.tail[1] = static_cast<uint8_t>(0xD0 + g);
        group.tail[2] = static_cast<uint8_t>(0xE0 + g);
    }
    Bytes wire = pack(DOMAIN_OBJECT5410, record);
    ASSERT_EQ(wire.size(), 60u);
    EXPECT_THAT(Bytes(wire.begin(), wire.begin() + 8), ElementsAreArray(record.head));
    EXPECT_THAT(Bytes(wire.begin() + 8, wire.begin() + 12), ElementsAreArray({0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(wire[12], 0x15 << 3 | 0x5);
    EXPECT_THAT(Bytes(wire.begin() + 13, wire.begin() + 29), ElementsAreArray(record.groups[0].bytes));
    EXPECT_THAT(Bytes(wire.begin() + 29, wire.begin() + 33), ElementsAreArray({0x04, 0x03, 0x02, 0x01}));
    EXPECT_THAT(Bytes(wire.begin() + 33, wire.begin() + 36), ElementsAreArray({0xC0, 0xD0, 0xE0}));
    EXPECT_EQ(wire[36], 0x1F << 3 | 0x2);
    EXPECT_THAT(Bytes(wire.begin() + 37, wire.begin() + 53), ElementsAreArray(record.groups[1].bytes));
    EXPECT_THAT(Bytes(wire.begin() + 53, wire.begin() + 57), ElementsAreArray({0x05, 0x03, 0x02, 0x01}));
    EXPECT_THAT(Bytes(wire.begin() + 57, wire.end()), ElementsAreArray({0xC1, 0xD1, 0xE1}));

    Object5410Record back = unpack<Object5410Record>(DOMAIN_OBJECT5410, wire);
    EXPECT_EQ(std::memcmp(back.head, record.head, 8), 0);
    EXPECT_EQ(back.headValue, record.headValue);
    for (int g = 0; g < 2; ++g) {
        EXPECT_EQ(back.groups[g].bits5, record.groups[g].bits5) << g;
        EXPECT_EQ(back.groups[g].bits3, record.groups[g].bits3) << g;
        EXPECT_EQ(std::memcmp(back.groups[g].bytes, record.groups[g].bytes, 16), 0) << g;
        EXPECT_EQ(back.groups[g].value, record.groups[g].value) << g;
        EXPECT_EQ(std::memcmp(back.groups[g].tail, record.groups[g].tail, 3), 0) << g;
    }
}

TEST(DomainConversion, Object5410PackingKeepsOnlyTheFieldWidths) {
    Object5410Record record{};
    record.groups[0].bits5 = 0xFFFFFFE1u;  // low five bits 00001
    record.groups[0].bits3 = 0xFFFFFFF9u;  // low three bits 001
    Bytes wire = pack(DOMAIN_OBJECT5410, record);
    EXPECT_EQ(wire[12], 0x01 << 3 | 0x01);
    EXPECT_EQ(wire[36], 0x00);
}

}  // namespace
}  // namespace CommDiag
