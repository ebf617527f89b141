#include "domain_conversion.h"

#include "types.h"

#include <cstddef>
#include <cstring>

namespace CommDiag {

namespace {

// The records are host layout; the offsets below are the interface's and must not move.
static_assert(offsetof(ErrorBufferEntry, id) == 8 && offsetof(ErrorBufferEntry, counter) == 12 &&
                  offsetof(ErrorBufferEntry, info) == 13,
              "error buffer entry layout");
static_assert(offsetof(Object5403Record, swappedPair) == 16 && offsetof(Object5403Record, value20) == 20 &&
                  offsetof(Object5403Record, value28) == 28,
              "object 0x5403 record layout");
static_assert(offsetof(Object5410Record, groups) == 12 && sizeof(Object5410Group) == 32 &&
                  offsetof(Object5410Group, bytes) == 8 && offsetof(Object5410Group, value) == 24 &&
                  offsetof(Object5410Group, tail) == 28,
              "object 0x5410 record layout");
static_assert(offsetof(BlockControlRecord, state) == 24, "block control record layout");

constexpr DomainLayout kLayouts[] = {
    {0, 0},    // no conversion
    {3, 3},    // 1
    {3, 3},    // 2
    {26, 32},  // 3
    {6, 12},   // 4
    {11, 11},  // 5
    {13, 13},  // 6
    {13, 13},  // 7
    {16, 16},  // 8
    {26, 28},  // 9
    {4, 3},    // 10
    {60, 76},  // 11
};

// Record fields in host order.
uint32_t recordU32(const uint8_t* record, size_t offset) {
    uint32_t value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}
uint16_t recordU16(const uint8_t* record, size_t offset) {
    uint16_t value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}
void setRecordU32(uint8_t* record, size_t offset, uint32_t value) {
    std::memcpy(record + offset, &value, sizeof value);
}
void setRecordU16(uint8_t* record, size_t offset, uint16_t value) {
    std::memcpy(record + offset, &value, sizeof value);
}

// Bus fields, little-endian.
uint32_t wireU32(const uint8_t* wire, size_t offset) {
    return uint32_t{wire[offset]} | uint32_t{wire[offset + 1]} << 8 | uint32_t{wire[offset + 2]} << 16 |
           uint32_t{wire[offset + 3]} << 24;
}
uint16_t wireU16(const uint8_t* wire, size_t offset) {
    return static_cast<uint16_t>(wire[offset] | wire[offset + 1] << 8);
}
void setWireU32(uint8_t* wire, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) wire[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}
void setWireU16(uint8_t* wire, size_t offset, uint16_t value) {
    wire[offset] = static_cast<uint8_t>(value);
    wire[offset + 1] = static_cast<uint8_t>(value >> 8);
}

// One direction of a layout is described once: each step moves a field between its record
// offset and its bus offset, and the same steps serve packing and unpacking.
enum class Field { Bytes, U16, U16InU32, U32, Bits5, Bits3 };
struct Step {
    Field field;
    uint8_t recordOffset;
    uint8_t wireOffset;
    uint8_t length;  // Bytes only
};

void packStep(const Step& step, const uint8_t* record, uint8_t* wire) {
    switch (step.field) {
        case Field::Bytes: std::memcpy(wire + step.wireOffset, record + step.recordOffset, step.length); break;
        case Field::U16: setWireU16(wire, step.wireOffset, recordU16(record, step.recordOffset)); break;
        case Field::U16InU32:
            setWireU16(wire, step.wireOffset, static_cast<uint16_t>(recordU32(record, step.recordOffset)));
            break;
        case Field::U32: setWireU32(wire, step.wireOffset, recordU32(record, step.recordOffset)); break;
        case Field::Bits5:
            wire[step.wireOffset] = static_cast<uint8_t>((wire[step.wireOffset] & 0x07) |
                                                         (recordU32(record, step.recordOffset) & 0x1F) << 3);
            break;
        case Field::Bits3:
            wire[step.wireOffset] =
                static_cast<uint8_t>((wire[step.wireOffset] & 0xF8) | (recordU32(record, step.recordOffset) & 0x07));
            break;
    }
}

void unpackStep(const Step& step, const uint8_t* wire, uint8_t* record) {
    switch (step.field) {
        case Field::Bytes: std::memcpy(record + step.recordOffset, wire + step.wireOffset, step.length); break;
        case Field::U16: setRecordU16(record, step.recordOffset, wireU16(wire, step.wireOffset)); break;
        case Field::U16InU32: setRecordU32(record, step.recordOffset, wireU16(wire, step.wireOffset)); break;
        case Field::U32: setRecordU32(record, step.recordOffset, wireU32(wire, step.wireOffset)); break;
        case Field::Bits5: setRecordU32(record, step.recordOffset, wire[step.wireOffset] >> 3); break;
        case Field::Bits3: setRecordU32(record, step.recordOffset, wire[step.wireOffset] & 0x07u); break;
    }
}

template <size_t N>
void pack(const Step (&steps)[N], const uint8_t* record, uint8_t* wire) {
    for (const Step& step : steps) packStep(step, record, wire);
}
template <size_t N>
void unpack(const Step (&steps)[N], const uint8_t* wire, uint8_t* record) {
    for (const Step& step : steps) unpackStep(step, wire, record);
}

// The version's last two bytes are exchanged on the bus, in both directions.
constexpr Step kSwVersionSteps[] = {
    {Field::Bytes, 0, 0, 1},
    {Field::Bytes, 1, 2, 1},
    {Field::Bytes, 2, 1, 1},
};

constexpr Step kObject5403Steps[] = {
    {Field::Bytes, 0, 0, 16},     {Field::Bytes, 16, 17, 1},    {Field::Bytes, 17, 16, 1},
    {Field::U16InU32, 20, 18, 0}, {Field::U16InU32, 24, 20, 0}, {Field::U32, 28, 22, 0},
};

constexpr Step kMachineTypeSteps[] = {
    {Field::U16InU32, 0, 0, 0},
    {Field::U16InU32, 4, 2, 0},
    {Field::U16InU32, 8, 4, 0},
};

constexpr Step kErrorBufferEntrySteps[] = {
    {Field::U16, 0, 0, 0}, {Field::U16, 2, 2, 0}, {Field::U16, 4, 4, 0},
    {Field::U16, 6, 6, 0}, {Field::U32, 8, 8, 0}, {Field::Bytes, 12, 12, 1},
};

constexpr Step kBlockControlSteps[] = {
    {Field::U32, 0, 0, 0},   {Field::U32, 4, 4, 0},   {Field::U32, 8, 8, 0},        {Field::U32, 12, 12, 0},
    {Field::U32, 16, 16, 0}, {Field::U32, 20, 20, 0}, {Field::U16InU32, 24, 24, 0},
};

constexpr Step kObject5410Steps[] = {
    {Field::Bytes, 0, 0, 8},
    {Field::U32, 8, 8, 0},
    // first group
    {Field::Bits5, 12, 12, 0},
    {Field::Bits3, 16, 12, 0},
    {Field::Bytes, 20, 13, 16},
    {Field::U32, 36, 29, 0},
    {Field::Bytes, 40, 33, 3},
    // second group
    {Field::Bits5, 44, 36, 0},
    {Field::Bits3, 48, 36, 0},
    {Field::Bytes, 52, 37, 16},
    {Field::U32, 68, 53, 0},
    {Field::Bytes, 72, 57, 3},
};

// Byte 13 of an error buffer entry is a bit field that the bus spreads over three bytes:
// state (bits 0..1), a flag (bit 2) and a 5-bit field (bits 3..7).
void packErrorInfo(uint8_t info, uint8_t* wire) {
    wire[13] = info & 0x03;
    wire[14] = (info >> 2) & 0x01;
    wire[15] = static_cast<uint8_t>(info >> 3);
}
uint8_t unpackErrorInfo(const uint8_t* wire) {
    return static_cast<uint8_t>((wire[13] & 0x03) | (wire[14] & 0x01) << 2 | (wire[15] & 0x1F) << 3);
}

}  // namespace

bool domainLayout(int domainType, DomainLayout* layout) {
    if (domainType < DOMAIN_OBJECT5402 || domainType > DOMAIN_OBJECT5410) return false;
    *layout = kLayouts[domainType];
    return true;
}

void packDomain(int domainType, const uint8_t* record, uint8_t* wire) {
    switch (domainType) {
        case DOMAIN_OBJECT5402:
        case DOMAIN_OBJECT5400:
        case DOMAIN_SERIAL_NUMBER:
        case DOMAIN_MATERIAL_NUMBER: std::memcpy(wire, record, kLayouts[domainType].wireSize); break;
        case DOMAIN_SW_VERSION: pack(kSwVersionSteps, record, wire); break;
        case DOMAIN_OBJECT5403: pack(kObject5403Steps, record, wire); break;
        case DOMAIN_MACHINE_TYPE: pack(kMachineTypeSteps, record, wire); break;
        case DOMAIN_ERROR_BUFFER_ENTRY:
            pack(kErrorBufferEntrySteps, record, wire);
            packErrorInfo(record[13], wire);
            break;
        case DOMAIN_BLOCK_CONTROL: pack(kBlockControlSteps, record, wire); break;
        case DOMAIN_REVISION_NUMBER:
            // Read only on the machine; a write would carry the three bytes after a zero byte.
            wire[0] = 0;
            std::memcpy(wire + 1, record, 3);
            break;
        case DOMAIN_OBJECT5410:
            wire[12] = 0;
            wire[36] = 0;
            pack(kObject5410Steps, record, wire);
            break;
        default: break;
    }
}

void unpackDomain(int domainType, const uint8_t* wire, uint8_t* record) {
    switch (domainType) {
        case DOMAIN_OBJECT5402:
        case DOMAIN_OBJECT5400:
        case DOMAIN_SERIAL_NUMBER:
        case DOMAIN_MATERIAL_NUMBER: std::memcpy(record, wire, kLayouts[domainType].wireSize); break;
        case DOMAIN_SW_VERSION: unpack(kSwVersionSteps, wire, record); break;
        case DOMAIN_OBJECT5403: unpack(kObject5403Steps, wire, record); break;
        case DOMAIN_MACHINE_TYPE: unpack(kMachineTypeSteps, wire, record); break;
        case DOMAIN_ERROR_BUFFER_ENTRY:
            unpack(kErrorBufferEntrySteps, wire, record);
            record[13] = unpackErrorInfo(wire);
            break;
        case DOMAIN_BLOCK_CONTROL: unpack(kBlockControlSteps, wire, record); break;
        case DOMAIN_REVISION_NUMBER:
            // The bus's first byte is dropped.
            std::memcpy(record, wire + 1, 3);
            break;
        case DOMAIN_OBJECT5410: unpack(kObject5410Steps, wire, record); break;
        default: break;
    }
}

}  // namespace CommDiag
