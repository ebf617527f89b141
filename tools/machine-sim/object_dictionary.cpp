#include "object_dictionary.h"

#include <cstring>

namespace msim {

std::size_t fixedSize(DataType t) {
    switch (t) {
        case DataType::Boolean:
        case DataType::Integer8:
        case DataType::Unsigned8: return 1;
        case DataType::Integer16:
        case DataType::Unsigned16: return 2;
        case DataType::Integer32:
        case DataType::Unsigned32:
        case DataType::Real32: return 4;
        case DataType::Real64:
        case DataType::Integer64:
        case DataType::Unsigned64: return 8;
        default: return 0;
    }
}

bool isNumeric(DataType t) { return fixedSize(t) != 0; }

const char* dataTypeName(DataType t) {
    switch (t) {
        case DataType::Boolean: return "BOOLEAN";
        case DataType::Integer8: return "INTEGER8";
        case DataType::Integer16: return "INTEGER16";
        case DataType::Integer32: return "INTEGER32";
        case DataType::Unsigned8: return "UNSIGNED8";
        case DataType::Unsigned16: return "UNSIGNED16";
        case DataType::Unsigned32: return "UNSIGNED32";
        case DataType::Real32: return "REAL32";
        case DataType::VisibleString: return "VISIBLE_STRING";
        case DataType::OctetString: return "OCTET_STRING";
        case DataType::UnicodeString: return "UNICODE_STRING";
        case DataType::Domain: return "DOMAIN";
        case DataType::Real64: return "REAL64";
        case DataType::Integer64: return "INTEGER64";
        case DataType::Unsigned64: return "UNSIGNED64";
    }
    return "?";
}

std::optional<DataType> dataTypeFromCode(unsigned code) {
    switch (code) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x06:
        case 0x07:
        case 0x08:
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0F:
        case 0x11:
        case 0x15:
        case 0x1B: return static_cast<DataType>(code);
        default: return std::nullopt;
    }
}

long double decodeNumber(DataType t, const std::vector<uint8_t>& bytes) {
    const std::size_t n = fixedSize(t);
    uint64_t u = 0;
    for (std::size_t i = 0; i < n && i < bytes.size(); ++i) u |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    switch (t) {
        case DataType::Integer8: return static_cast<int8_t>(u);
        case DataType::Integer16: return static_cast<int16_t>(u);
        case DataType::Integer32: return static_cast<int32_t>(u);
        case DataType::Integer64: return static_cast<int64_t>(u);
        case DataType::Real32: {
            float f;
            uint32_t w = static_cast<uint32_t>(u);
            std::memcpy(&f, &w, 4);
            return f;
        }
        case DataType::Real64: {
            double d;
            std::memcpy(&d, &u, 8);
            return d;
        }
        default: return static_cast<long double>(u);
    }
}

std::vector<uint8_t> encodeUnsigned(uint64_t v, std::size_t size) {
    std::vector<uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
    return out;
}

uint64_t OdEntry::asUnsigned() const {
    uint64_t u = 0;
    for (std::size_t i = 0; i < value.size() && i < 8; ++i) u |= static_cast<uint64_t>(value[i]) << (8 * i);
    return u;
}

OdObject& ObjectDictionary::addObject(uint16_t index, std::string name, uint8_t objectType) {
    OdObject& o = objects_[index];
    o.index = index;
    o.name = std::move(name);
    o.objectType = objectType;
    return o;
}

void ObjectDictionary::addEntry(OdEntry entry) {
    OdObject& o = objects_[entry.index];
    o.index = entry.index;
    if (o.name.empty()) o.name = entry.name;
    const uint8_t sub = entry.sub;
    o.subs[sub] = std::move(entry);
}

bool ObjectDictionary::removeEntry(uint16_t index, uint8_t sub) {
    auto it = objects_.find(index);
    return it != objects_.end() && it->second.subs.erase(sub) > 0;
}

const OdObject* ObjectDictionary::object(uint16_t index) const {
    auto it = objects_.find(index);
    return it == objects_.end() ? nullptr : &it->second;
}

OdEntry* ObjectDictionary::entry(uint16_t index, uint8_t sub) {
    auto it = objects_.find(index);
    if (it == objects_.end()) return nullptr;
    auto s = it->second.subs.find(sub);
    return s == it->second.subs.end() ? nullptr : &s->second;
}

const OdEntry* ObjectDictionary::entry(uint16_t index, uint8_t sub) const {
    return const_cast<ObjectDictionary*>(this)->entry(index, sub);
}

uint32_t ObjectDictionary::checkRead(uint16_t index, uint8_t sub) const {
    if (!object(index)) return abort_code::kNoObject;
    const OdEntry* e = entry(index, sub);
    if (!e) return abort_code::kNoSubIndex;
    if (!e->readable()) return abort_code::kWriteOnly;
    return 0;
}

uint32_t ObjectDictionary::checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) const {
    if (!object(index)) return abort_code::kNoObject;
    const OdEntry* e = entry(index, sub);
    if (!e) return abort_code::kNoSubIndex;
    if (!e->writable()) return abort_code::kReadOnly;
    if (!size) return 0;
    if (const std::size_t fixed = fixedSize(e->type)) {
        if (*size != fixed) return abort_code::kLength;
    } else if (e->type == DataType::OctetString) {
        // A record kept as an octet string has the wire size of its power-on value.
        if (*size != e->initial.size()) return abort_code::kLength;
    } else if (*size > maxVariable_) {
        return abort_code::kOutOfMemory;
    }
    return 0;
}

uint32_t ObjectDictionary::write(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) {
    if (uint32_t a = checkWrite(index, sub, data.size())) return a;
    OdEntry* e = entry(index, sub);
    if (isNumeric(e->type) && (e->low || e->high)) {
        const long double v = decodeNumber(e->type, data);
        if (e->low && v < *e->low) return abort_code::kValueTooLow;
        if (e->high && v > *e->high) return abort_code::kValueTooHigh;
    }
    e->value = data;
    return 0;
}

void ObjectDictionary::resetRange(uint16_t first, uint16_t last) {
    for (auto& [index, obj] : objects_) {
        if (index < first || index > last) continue;
        for (auto& [sub, e] : obj.subs) e.value = e.initial;
    }
}

}  // namespace msim
