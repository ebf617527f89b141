#pragma once
#include <cstdint>

// The machine's typed objects for parameters and operating-hours counters: seven consecutive
// indices per category, one per value type (1 U8 ... 6 I32, 7 float).
constexpr uint32_t kParameterObjectBase = 0x3000;
constexpr uint32_t kCounterObjectBase = 0x4000;
constexpr uint32_t kCounterObjectU8 = 0x4000;
constexpr uint32_t kCounterObjectU16 = 0x4001;
constexpr uint32_t kCounterObjectU32 = 0x4002;

// Value type of a parameter or operating-hours counter object, 0 for any other index.
inline int32_t CanObjIdToType(uint32_t objectIndex) {
    if (objectIndex >= kParameterObjectBase && objectIndex <= kParameterObjectBase + 6)
        return static_cast<int32_t>(objectIndex - kParameterObjectBase + 1);
    if (objectIndex >= kCounterObjectBase && objectIndex <= kCounterObjectBase + 6)
        return static_cast<int32_t>(objectIndex - kCounterObjectBase + 1);
    return 0;
}

inline bool isCounterObject(uint32_t objectIndex) {
    return objectIndex >= kCounterObjectBase && objectIndex <= kCounterObjectBase + 6;
}

// Whether the machine link's read or write operation for the object takes its type: parameters
// are read and written as types 1..6, counters read as 1..6 and written as 1..3 (unsigned).
inline bool isReadableObject(uint32_t objectIndex) {
    const int32_t type = CanObjIdToType(objectIndex);
    return type >= 1 && type <= 6;
}

inline bool isWritableObject(uint32_t objectIndex) {
    const int32_t type = CanObjIdToType(objectIndex);
    return isCounterObject(objectIndex) ? (type >= 1 && type <= 3) : (type >= 1 && type <= 6);
}
