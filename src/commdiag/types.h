#pragma once
// The vocabulary every CommDiag operation shares: value types, result codes, callbacks and
// the records that requests fill or send.
#include "commdiag_export.h"

#include <cstdint>

namespace CommDiag {

// Value type codes of typed requests; 8 marks a domain in DomainCallback.
enum ValueType : int {
    VALUE_TYPE_U8 = 1,
    VALUE_TYPE_U16 = 2,
    VALUE_TYPE_U32 = 3,
    VALUE_TYPE_I8 = 4,
    VALUE_TYPE_I16 = 5,
    VALUE_TYPE_I32 = 6,
    VALUE_TYPE_FLOAT = 7,
    VALUE_TYPE_DOMAIN = 8,
};

// Bytes of one element of a value type; 0 for a type without a fixed size.
constexpr uint32_t elementSize(int valueType) {
    switch (valueType) {
        case VALUE_TYPE_U8:
        case VALUE_TYPE_I8: return 1;
        case VALUE_TYPE_U16:
        case VALUE_TYPE_I16: return 2;
        case VALUE_TYPE_U32:
        case VALUE_TYPE_I32:
        case VALUE_TYPE_FLOAT: return 4;
        default: return 0;
    }
}

constexpr bool isElementType(int valueType) { return elementSize(valueType) != 0; }

// Results of request starts and callbacks. A start returning anything but RESULT_OK means
// that no callback follows.
enum Result : int {
    RESULT_OK = 0,
    RESULT_FAILED = 1,               // stack status other than finished, no mapped abort code
    RESULT_NOT_READY = 3,            // no callback, not initialised, not connected, state check
    RESULT_INVALID = 4,              // invalid value or protocol failure; refused transfer start
    RESULT_BUSY = 18,                // another SDO operation or StartConnection is running
    RESULT_TIMEOUT = 19,             // SDO time-out, node silent, node start timed out
    RESULT_BUS_NOT_ACCESSIBLE = 20,  // local node not operational; read- or write-only object
    RESULT_NO_SUB_INDEX = 21,        // end of a list
    RESULT_NO_OBJECT = 22,           // the node runs its boot loader
    RESULT_NOT_MAPPABLE = 23,
    RESULT_SIZE_MISMATCH = 24,
    RESULT_REFUSED = 29,             // stack refused the start, invalid value type
    RESULT_CONNECTION_ABORTED = 32,  // connection aborted or timed out
    RESULT_NO_DATA = 33,
    RESULT_UNSUPPORTED_ACCESS = 34,
};

// Completion callbacks, plain functions. They run on a library or stack thread (the
// connection callback also on the caller's thread where StartConnection and CloseConnection
// answer at once) and may start the next request.
typedef void (*ConnectionCallback)(int result);
typedef void (*ElementCallback)(int result, int valueType, unsigned char subIndex, void* value);
typedef void (*DomainCallback)(int result, int valueType, unsigned char subIndex, void* record, unsigned int size);
typedef void (*ReadNrElementCallback)(int result, int valueType, unsigned char* value);
typedef void (*FirmwareUpdateCallback)(int result, int node);
typedef void (*BlockTransferCallback)(int failed, uint32_t blockId);

// Library version as GetVersion reports it: minor in the high and patch in the low byte.
struct Version {
    uint16_t minorPatch;
    uint8_t major;
};

// Records of the domain requests, in host layout. What travels on the bus is packed from
// them (see domain_conversion.h); their sizes are part of the interface.

// 0x2000 sub 1: each number is 16 bits on the bus.
struct MachineTypeRecord {
    uint32_t machineType;
    uint32_t machineNumber;
    uint32_t machineVariant;
};
static_assert(sizeof(MachineTypeRecord) == 12, "machine type record is 12 bytes");

struct ErrorBufferInfo {
    uint8_t state : 2;
    uint8_t flag : 1;
    uint8_t field : 5;
};
static_assert(sizeof(ErrorBufferInfo) == 1, "error buffer info is one byte");

// One entry of the machine's error buffer, 0x5300 sub n.
struct ErrorBufferEntry {
    uint16_t dataA;
    uint16_t timeMinutes;
    uint16_t dataC;
    uint16_t dataD;
    uint32_t id;
    uint8_t counter;
    ErrorBufferInfo info;
};
static_assert(sizeof(ErrorBufferEntry) == 16, "error buffer entry is 16 bytes");

// 0x5403 sub n. The meaning of the fields is the machine's; the client only moves them.
struct Object5403Record {
    uint8_t bytes0[8];
    uint8_t bytes8[2];
    uint8_t bytes10[6];
    uint8_t swappedPair[2];  // exchanged with each other on the bus
    uint32_t value20;        // 16 bits on the bus
    uint32_t value24;        // 16 bits on the bus
    uint32_t value28;
};
static_assert(sizeof(Object5403Record) == 32, "object 0x5403 record is 32 bytes");

// 0x5410 sub 1: a head and two groups of the same shape. The meaning is the machine's.
struct Object5410Group {
    uint32_t bits5;  // 5-bit value, bits 3..7 of the group's first bus byte
    uint32_t bits3;  // 3-bit value, bits 0..2 of that byte
    uint8_t bytes[16];
    uint32_t value;
    uint8_t tail[3];
};
struct Object5410Record {
    uint8_t head[8];
    uint32_t headValue;
    Object5410Group groups[2];
};
static_assert(sizeof(Object5410Record) == 76, "object 0x5410 record is 76 bytes");

// 0x5407 sub 1: the control record of a block transfer.
struct BlockControlRecord {
    uint32_t blockId;
    uint32_t packetSize;
    uint32_t packetCount;
    uint32_t totalSize;
    uint32_t localAddress;
    uint32_t packetIndex;
    uint32_t state;  // 16 bits on the bus
};
static_assert(sizeof(BlockControlRecord) == 28, "block control record is 28 bytes");

}  // namespace CommDiag
