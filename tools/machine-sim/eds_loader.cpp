#include "eds_loader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace msim {

EdsError::EdsError(const std::string& file, int line, const std::string& problem)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + problem), line_(line) {}

namespace {

struct Value {
    std::string text;
    int line = 0;
};

struct Section {
    std::string name;  // as written
    int line = 0;
    std::map<std::string, Value> keys;  // lower-case key
};

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

class Parser {
public:
    Parser(const std::string& name, uint8_t nodeId) : file_(name), nodeId_(nodeId) {}

    [[noreturn]] void fail(int line, const std::string& what) const { throw EdsError(file_, line, what); }

    void read(const std::string& text) {
        std::istringstream in(text);
        std::string raw;
        int lineNo = 0;
        std::size_t current = SIZE_MAX;
        while (std::getline(in, raw)) {
            ++lineNo;
            const std::string line = trim(raw);
            if (line.empty() || line[0] == ';' || line[0] == '#') continue;
            if (line[0] == '[') {
                if (line.back() != ']') fail(lineNo, "section header without closing ']'");
                const std::string name = trim(line.substr(1, line.size() - 2));
                if (name.empty()) fail(lineNo, "empty section name");
                const std::string key = lower(name);
                if (sectionIndex_.count(key))
                    fail(lineNo, "section [" + name + "] repeated (first at line " +
                                     std::to_string(sections_[sectionIndex_[key]].line) + ")");
                sectionIndex_[key] = sections_.size();
                sections_.push_back(Section{name, lineNo, {}});
                current = sections_.size() - 1;
                continue;
            }
            const auto eq = line.find('=');
            if (eq == std::string::npos) fail(lineNo, "expected 'key=value' or '[section]', got \"" + line + "\"");
            if (current == SIZE_MAX) fail(lineNo, "key outside of any section");
            Section& sec = sections_[current];
            const std::string key = lower(trim(line.substr(0, eq)));
            if (key.empty()) fail(lineNo, "empty key");
            if (sec.keys.count(key))
                fail(lineNo, "key " + trim(line.substr(0, eq)) + " repeated in [" + sec.name + "]");
            sec.keys[key] = Value{trim(line.substr(eq + 1)), lineNo};
        }
    }

    const Section* section(const std::string& name) const {
        auto it = sectionIndex_.find(lower(name));
        return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
    }

    // Integer in C notation (0x.., leading 0 octal, decimal), with $NODEID terms added.
    long long integer(const Value& v, const std::string& key) const {
        std::string s = v.text;
        long long total = 0;
        bool any = false;
        std::string rest;
        // Split on '+' outside of a leading sign, so "$NODEID+0x580" and "0x580+$NODEID" work.
        std::size_t start = 0;
        for (std::size_t i = 0; i <= s.size(); ++i) {
            if (i == s.size() || (s[i] == '+' && i > start)) {
                const std::string term = trim(s.substr(start, i - start));
                if (term.empty()) fail(v.line, key + " \"" + v.text + "\" is not a number");
                if (lower(term) == "$nodeid") {
                    total += nodeId_;
                } else {
                    errno = 0;
                    char* end = nullptr;
                    const bool neg = term[0] == '-';
                    long long part;
                    if (neg) {
                        part = std::strtoll(term.c_str(), &end, 0);
                    } else {
                        const unsigned long long u = std::strtoull(term.c_str(), &end, 0);
                        part = static_cast<long long>(u);
                    }
                    if (end == term.c_str() || *end != '\0' || errno == ERANGE)
                        fail(v.line, key + " \"" + v.text + "\" is not a number");
                    total += part;
                }
                any = true;
                start = i + 1;
            }
        }
        if (!any) fail(v.line, key + " is empty");
        return total;
    }

    const Value& need(const Section& s, const std::string& key) const {
        auto it = s.keys.find(lower(key));
        if (it == s.keys.end()) fail(s.line, "[" + s.name + "] lacks " + key);
        return it->second;
    }

    const Value* maybe(const Section& s, const std::string& key) const {
        auto it = s.keys.find(lower(key));
        return it == s.keys.end() ? nullptr : &it->second;
    }

    std::vector<uint8_t> numberBytes(DataType t, const Value& v, const std::string& key) const {
        const std::size_t n = fixedSize(t);
        if (t == DataType::Real32 || t == DataType::Real64) {
            char* end = nullptr;
            const std::string s = v.text.empty() ? "0" : v.text;
            const double d = std::strtod(s.c_str(), &end);
            if (end == s.c_str() || *end != '\0' || !std::isfinite(d))
                fail(v.line, key + " \"" + v.text + "\" is not a real number");
            std::vector<uint8_t> out(n);
            if (t == DataType::Real32) {
                const float f = static_cast<float>(d);
                std::memcpy(out.data(), &f, 4);
            } else {
                std::memcpy(out.data(), &d, 8);
            }
            return out;
        }
        const long long x = v.text.empty() ? 0 : integer(v, key);
        const bool isSigned =
            t == DataType::Integer8 || t == DataType::Integer16 || t == DataType::Integer32 || t == DataType::Integer64;
        if (n < 8) {
            const long long lo = isSigned ? -(1LL << (8 * n - 1)) : 0;
            const long long hi = isSigned ? (1LL << (8 * n - 1)) - 1 : (1LL << (8 * n)) - 1;
            if (t == DataType::Boolean ? (x < 0 || x > 1) : (x < lo || x > hi))
                fail(v.line, key + " \"" + v.text + "\" does not fit " + dataTypeName(t));
        } else if (!isSigned && x < 0) {
            fail(v.line, key + " \"" + v.text + "\" does not fit " + dataTypeName(t));
        }
        return encodeUnsigned(static_cast<uint64_t>(x), n);
    }

    std::vector<uint8_t> octets(const Value& v, const std::string& key) const {
        std::string hex;
        for (char c : v.text)
            if (!std::isspace(static_cast<unsigned char>(c))) hex += c;
        if (hex.rfind("0x", 0) == 0 || hex.rfind("0X", 0) == 0) hex = hex.substr(2);
        if (hex.size() % 2 != 0) fail(v.line, key + " needs an even number of hex digits");
        std::vector<uint8_t> out;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
                !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
                fail(v.line, key + " \"" + v.text + "\" is not a hex octet string");
            out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        }
        return out;
    }

    OdEntry entry(const Section& s, uint16_t index, uint8_t sub) const {
        OdEntry e;
        e.index = index;
        e.sub = sub;
        e.name = need(s, "ParameterName").text;
        const Value& dt = need(s, "DataType");
        const auto type = dataTypeFromCode(static_cast<unsigned>(integer(dt, "DataType")));
        if (!type) fail(dt.line, "DataType " + dt.text + " is not supported");
        e.type = *type;
        const Value& at = need(s, "AccessType");
        const std::string a = lower(at.text);
        if (a == "ro")
            e.access = Access::ReadOnly;
        else if (a == "wo")
            e.access = Access::WriteOnly;
        else if (a == "rw" || a == "rwr" || a == "rww")
            e.access = Access::ReadWrite;
        else if (a == "const")
            e.access = Access::Const;
        else
            fail(at.line, "AccessType \"" + at.text + "\" is not one of ro, wo, rw, rwr, rww, const");
        const Value* dv = maybe(s, "DefaultValue");
        const Value empty{"", s.line};
        if (isNumeric(e.type)) {
            e.initial = numberBytes(e.type, dv ? *dv : empty, "DefaultValue");
            for (const char* lim : {"LowLimit", "HighLimit"}) {
                const Value* l = maybe(s, lim);
                if (!l || l->text.empty()) continue;
                const long double x = decodeNumber(e.type, numberBytes(e.type, *l, lim));
                (lim[0] == 'L' ? e.low : e.high) = x;
            }
            if (e.low && e.high && *e.low > *e.high) fail(s.line, "LowLimit above HighLimit");
            const long double v0 = decodeNumber(e.type, e.initial);
            if ((e.low && v0 < *e.low) || (e.high && v0 > *e.high))
                fail(dv ? dv->line : s.line, "DefaultValue outside LowLimit..HighLimit");
        } else if (e.type == DataType::VisibleString) {
            if (dv) e.initial.assign(dv->text.begin(), dv->text.end());
        } else if (e.type == DataType::OctetString) {
            if (!dv || dv->text.empty())
                fail(s.line, "[" + s.name + "] OCTET_STRING needs a DefaultValue (it fixes the size)");
            e.initial = octets(*dv, "DefaultValue");
        } else if (dv) {
            e.initial = octets(*dv, "DefaultValue");
        }
        e.value = e.initial;
        return e;
    }

    bool isIndexName(const std::string& n, uint16_t& index, int& sub) const {
        const std::string l = lower(n);
        if (l.size() < 4) return false;
        for (int i = 0; i < 4; ++i)
            if (!std::isxdigit(static_cast<unsigned char>(l[i]))) return false;
        index = static_cast<uint16_t>(std::stoul(l.substr(0, 4), nullptr, 16));
        if (l.size() == 4) {
            sub = -1;
            return true;
        }
        if (l.compare(4, 3, "sub") != 0 || l.size() == 7 || l.size() > 9) return false;
        for (std::size_t i = 7; i < l.size(); ++i)
            if (!std::isxdigit(static_cast<unsigned char>(l[i]))) return false;
        sub = static_cast<int>(std::stoul(l.substr(7), nullptr, 16));
        return true;
    }

    ObjectDictionary build(EdsInfo* info) {
        ObjectDictionary od;
        std::map<uint16_t, const Section*> objects;
        std::map<uint16_t, std::map<uint8_t, const Section*>> subs;
        for (const Section& s : sections_) {
            uint16_t index;
            int sub;
            if (!isIndexName(s.name, index, sub)) {
                const std::string l = lower(s.name);
                if (l.size() >= 4 && std::all_of(l.begin(), l.begin() + 4, ::isxdigit) &&
                    (l.find("value") == 4 || l.find("name") == 4))
                    fail(s.line, "[" + s.name + "]: CompactSubObj lists are not supported; write sub-index sections");
                continue;  // FileInfo, DeviceInfo, Comments, object lists ...
            }
            if (sub < 0)
                objects[index] = &s;
            else
                subs[index][static_cast<uint8_t>(sub)] = &s;
        }
        for (const auto& [index, subMap] : subs)
            if (!objects.count(index))
                fail(subMap.begin()->second->line,
                     "[" + subMap.begin()->second->name + "] has no object section for its index");

        for (const auto& [index, s] : objects) {
            const Value* ot = maybe(*s, "ObjectType");
            const long long type = ot ? integer(*ot, "ObjectType") : 0x7;
            if (type == 0x5 || type == 0x6) continue;  // type definitions: nothing to serve
            if (const Value* c = maybe(*s, "CompactSubObj"); c && integer(*c, "CompactSubObj") != 0)
                fail(c->line, "CompactSubObj is not supported; write sub-index sections");
            const std::string name = need(*s, "ParameterName").text;
            if (type == 0x7 || type == 0x2) {
                if (subs.count(index)) fail(subs[index].begin()->second->line, "VAR object with sub-index sections");
                od.addObject(index, name, 0x7);
                od.addEntry(entry(*s, index, 0));
            } else if (type == 0x8 || type == 0x9) {
                const Value& sn = need(*s, "SubNumber");
                const long long count = integer(sn, "SubNumber");
                const auto& mine = subs[index];
                if (count < 1 || count > 255) fail(sn.line, "SubNumber " + sn.text + " out of range 1..255");
                if (static_cast<long long>(mine.size()) != count)
                    fail(sn.line, "SubNumber is " + sn.text + " but " + std::to_string(mine.size()) +
                                      " sub-index sections exist for " + s->name);
                if (!mine.count(0)) fail(s->line, "[" + s->name + "] lacks its sub-index 0 section");
                od.addObject(index, name, static_cast<uint8_t>(type));
                for (const auto& [sub, ss] : mine) od.addEntry(entry(*ss, index, sub));
            } else {
                fail(ot->line, "ObjectType " + ot->text + " is not supported (VAR 0x7, ARRAY 0x8, RECORD 0x9)");
            }
        }

        for (const char* list : {"MandatoryObjects", "OptionalObjects", "ManufacturerObjects"}) {
            const Section* s = section(list);
            if (!s) continue;
            const Value& n = need(*s, "SupportedObjects");
            const long long count = integer(n, "SupportedObjects");
            for (long long i = 1; i <= count; ++i) {
                const Value* item = maybe(*s, std::to_string(i));
                if (!item)
                    fail(n.line, std::string("[") + list + "] lists " + n.text + " objects but entry " +
                                     std::to_string(i) + " is missing");
                const long long idx = integer(*item, std::to_string(i));
                if (idx < 0 || idx > 0xFFFF || !objects.count(static_cast<uint16_t>(idx)))
                    fail(item->line, std::string("[") + list + "] names " + item->text + " which has no section");
            }
        }
        if (od.objects().empty()) fail(1, "no objects defined");
        if (info) {
            info->objectCount = od.objects().size();
            if (const Section* d = section("DeviceInfo"))
                if (const Value* p = maybe(*d, "ProductName")) info->productName = p->text;
        }
        return od;
    }

private:
    std::string file_;
    uint8_t nodeId_;
    std::vector<Section> sections_;
    std::map<std::string, std::size_t> sectionIndex_;
};

}  // namespace

ObjectDictionary parseEds(const std::string& text, const std::string& name, uint8_t nodeId, EdsInfo* info) {
    Parser p(name, nodeId);
    p.read(text);
    return p.build(info);
}

ObjectDictionary loadEds(const std::string& path, uint8_t nodeId, EdsInfo* info) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw EdsError(path, 0, "cannot open file");
    std::ostringstream ss;
    ss << in.rdbuf();
    return parseEds(ss.str(), path, nodeId, info);
}

}  // namespace msim
