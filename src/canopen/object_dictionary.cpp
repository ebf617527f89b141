#include "object_dictionary.h"

#include "abort_codes.h"
#include "node_data.h"

#include <cstring>

namespace canopen {

namespace {

// A data type no entry of this dictionary has; the range rule is kept for dictionaries that do.
constexpr uint8_t kRangeCheckedType = 0x9F;

}  // namespace

ObjectLookup findObject(NodeData* node, uint16_t index) {
    const int row = ObjectDictionary::rowOf(index);
    if (row < 0 || !node) return ObjectLookup{nullptr, kAbortNoObject, nullptr};
    return ObjectLookup{&node->od.table()[row], 0, node->od.hooksOfRow(row)};
}

uint32_t checkValueRange(uint8_t dataType, const void* value) {
    if (dataType == kRangeCheckedType && value && *static_cast<const uint8_t*>(value) != 0) return kAbortValueRange;
    return 0;
}

uint32_t readLocalObject(NodeData* node, uint16_t index, uint8_t sub, void* destination, uint32_t* size,
                         uint8_t* dataType, bool checkAccess) {
    const ObjectLookup lookup = findObject(node, index);
    if (lookup.abortCode) return lookup.abortCode;
    if (sub >= lookup.entry->count) return kAbortNoSubIndex;
    const OdSubEntry& e = lookup.entry->subs[sub];
    if (checkAccess && (e.access & kWriteOnly)) return kAbortWriteOnly;
    if (!destination || !size) return kAbortGeneral;
    if (*size < e.size) {
        *size = e.size;
        return kAbortOutOfMemory;
    }
    if (dataType) *dataType = e.dataType;
    if (e.dataType == kVisibleString) {
        const char* text = static_cast<const char*>(e.value);
        uint32_t n = 0;
        while (n < *size && n < e.size && text[n] != '\0') ++n;
        std::memcpy(destination, text, n);
        *size = n;
        return 0;
    }
    if (e.size) std::memcpy(destination, e.value, e.size);
    *size = e.size;
    return 0;
}

uint32_t writeLocalObject(NodeData* node, uint16_t index, uint8_t sub, const void* source, uint32_t* size,
                          bool checkAccess) {
    const ObjectLookup lookup = findObject(node, index);
    if (lookup.abortCode) return lookup.abortCode;
    if (sub >= lookup.entry->count) return kAbortNoSubIndex;
    OdSubEntry& e = lookup.entry->subs[sub];
    if (checkAccess && (e.access & 0x03) == kReadOnly) return kAbortReadOnly;
    uint32_t n = size ? *size : 0;
    const bool shorterString = e.dataType == kVisibleString && n < e.size;
    if (n != 0 && n != e.size && !shorterString) {
        if (size) *size = e.size;
        return kAbortLengthMismatch;
    }
    if (n != 0 && !source) return kAbortGeneral;
    if (const uint32_t range = checkValueRange(e.dataType, source)) return range;
    if (n) std::memcpy(e.value, source, n);
    if (shorterString && n) static_cast<char*>(e.value)[n] = '\0';
    if (size) *size = e.size;
    if (lookup.hooks && lookup.hooks[sub]) {
        if (const uint32_t veto = lookup.hooks[sub](node, lookup.entry, sub)) return veto;
    }
    if ((e.access & kStoreAfterWrite) && node->hooks.store) node->hooks.store(node, index, sub);
    return 0;
}

uint32_t registerWriteHook(NodeData* node, uint16_t index, uint8_t sub, OdWriteHook hook) {
    const ObjectLookup lookup = findObject(node, index);
    if (lookup.abortCode) return lookup.abortCode;
    if (lookup.hooks && sub < lookup.entry->count) lookup.hooks[sub] = hook;
    return 0;
}

}  // namespace canopen
