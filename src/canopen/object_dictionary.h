#pragma once
// The local node's object dictionary: a fixed table of 150 objects, and local access to it
// with access, size and range checks and per-sub-index write hooks.
#include <cstdint>

namespace canopen {

struct NodeData;

// CiA 301 data type codes used by this dictionary.
enum OdDataType : uint8_t {
    kInteger8 = 0x02,
    kInteger16 = 0x03,
    kInteger32 = 0x04,
    kUnsigned8 = 0x05,
    kUnsigned16 = 0x06,
    kUnsigned32 = 0x07,
    kReal32 = 0x08,
    kVisibleString = 0x09,
    kDomain = 0x0F,
};

// Access codes; bit 2 asks for the store hook after a write.
enum OdAccess : uint8_t {
    kReadWrite = 0,
    kWriteOnly = 1,
    kReadOnly = 2,
    kStoreAfterWrite = 0x04,
};

struct OdSubEntry {
    uint8_t access;
    uint8_t dataType;
    uint32_t size;  // bytes; 0 for the domain
    void* value;    // host (little-endian) order
};

struct OdIndexEntry {
    OdSubEntry* subs;
    uint8_t count;
    uint16_t index;
};

// Runs after a write to its sub-index; a non-zero abort code vetoes (the value stays written).
using OdWriteHook = uint32_t (*)(NodeData* node, const OdIndexEntry* entry, uint8_t sub);

struct ObjectLookup {
    const OdIndexEntry* entry;  // null when the object does not exist
    uint32_t abortCode;         // 0 or 0x06020000
    OdWriteHook* hooks;         // one slot per sub-index; null for objects that take no hooks
};

constexpr uint16_t kOdRowCount = 150;
// Rows of the communication-object families (inclusive; 0, 0 for none).
struct OdRowRange {
    uint16_t first;
    uint16_t last;
};

ObjectLookup findObject(NodeData* node, uint16_t index);
// size: in, the room at destination; out, the bytes copied (or the entry's size with
// 0x05040005 when the room is too small). Returns an abort code, 0 on success.
uint32_t readLocalObject(NodeData* node, uint16_t index, uint8_t sub, void* destination, uint32_t* size,
                         uint8_t* dataType, bool checkAccess);
// size: in, the bytes at source (0: the entry's size); out, the entry's size.
uint32_t writeLocalObject(NodeData* node, uint16_t index, uint8_t sub, const void* source, uint32_t* size,
                          bool checkAccess);
uint32_t registerWriteHook(NodeData* node, uint16_t index, uint8_t sub, OdWriteHook hook);
uint32_t checkValueRange(uint8_t dataType, const void* value);

}  // namespace canopen
