#include "error_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace msim {

namespace {

constexpr std::size_t kEntrySize = 16;

bool parseNumber(const std::string& s, unsigned long long max, unsigned long long& out) {
    if (s.empty() || s[0] == '-' || s[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(s.c_str(), &end, 0);
    return end && *end == '\0' && errno == 0 && out <= max;
}

std::vector<uint8_t> encodeEntry(const ErrorEntrySpec& e) {
    std::vector<uint8_t> b(kEntrySize, 0);
    b[2] = static_cast<uint8_t>(e.minutes);
    b[3] = static_cast<uint8_t>(e.minutes >> 8);
    for (int k = 0; k < 4; ++k) b[8 + k] = static_cast<uint8_t>(e.id >> (8 * k));
    b[12] = e.counter;
    b[13] = 1;  // state: active
    return b;
}

}  // namespace

std::optional<ErrorEntrySpec> parseErrorEntry(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (parts.size() > 3) return std::nullopt;
    ErrorEntrySpec e;
    unsigned long long v = 0;
    if (!parseNumber(parts[0], 0xFFFFFFFFull, v)) return std::nullopt;
    e.id = static_cast<uint32_t>(v);
    if (parts.size() > 1) {
        if (!parseNumber(parts[1], 0xFFFF, v)) return std::nullopt;
        e.minutes = static_cast<uint16_t>(v);
    }
    if (parts.size() > 2) {
        if (!parseNumber(parts[2], 0xFF, v)) return std::nullopt;
        e.counter = static_cast<uint8_t>(v);
    }
    return e;
}

bool readErrorEntries(const std::string& path, std::vector<ErrorEntrySpec>& out, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read error entries from " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == ' ' || c == '\t'; }),
                   line.end());
        if (line.empty() || line[0] == '#') continue;
        const auto e = parseErrorEntry(line);
        if (!e) {
            error = path + ":" + std::to_string(number) + ": expected ID[:MINUTES[:COUNTER]]";
            return false;
        }
        out.push_back(*e);
    }
    return true;
}

ErrorBuffer::ErrorBuffer(NodeControl& node, const std::optional<std::vector<ErrorEntrySpec>>& entries) : node_(node) {
    ObjectDictionary& od = node_.od();
    const OdObject* object = od.object(kIndex);
    if (object == nullptr || !entries) return;
    std::vector<uint8_t> subs;
    for (const auto& [sub, e] : object->subs)
        if (sub != 0) subs.push_back(sub);
    for (uint8_t sub : subs) od.removeEntry(kIndex, sub);
    uint8_t sub = 1;
    for (const ErrorEntrySpec& spec : *entries) {
        OdEntry e;
        e.index = kIndex;
        e.sub = sub;
        e.name = "Error buffer entry " + std::to_string(sub);
        e.type = DataType::OctetString;
        e.access = Access::ReadWrite;
        e.value = e.initial = encodeEntry(spec);
        od.addEntry(std::move(e));
        if (sub++ == 255) break;
    }
    updateCount();
}

void ErrorBuffer::afterWrite(uint16_t index, uint8_t sub) {
    if (index != kIndex || sub == 0) return;
    const OdEntry* e = node_.od().entry(index, sub);
    if (e == nullptr || std::any_of(e->value.begin(), e->value.end(), [](uint8_t b) { return b != 0; })) return;
    node_.od().removeEntry(index, sub);
    updateCount();
    node_.record().addEvent(node_.now(), "errors", "entry " + std::to_string(sub) + " cleared");
    node_.log().info("error buffer entry %u cleared", sub);
}

void ErrorBuffer::updateCount() {
    ObjectDictionary& od = node_.od();
    OdEntry* count = od.entry(kIndex, 0);
    const OdObject* object = od.object(kIndex);
    if (count == nullptr || object == nullptr) return;
    const uint8_t highest = object->subs.empty() ? 0 : object->subs.rbegin()->first;
    count->value = encodeUnsigned(highest, count->value.size() ? count->value.size() : 1);
}

}  // namespace msim
