#include "sim_record.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

namespace msim {

namespace {

// Long transfers (firmware images) are kept as their size and first bytes only.
constexpr std::size_t kKeptBytes = 64;

std::string hex(const std::vector<uint8_t>& bytes, std::size_t limit) {
    std::string s;
    char b[3];
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(b, sizeof b, "%02X", bytes[i]);
        s += b;
    }
    return s;
}

std::string hex32(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

nlohmann::json valueJson(const OdEntry& e) {
    switch (e.type) {
        case DataType::Real32:
        case DataType::Real64: return static_cast<double>(decodeNumber(e.type, e.value));
        case DataType::Integer8:
        case DataType::Integer16:
        case DataType::Integer32:
        case DataType::Integer64: return static_cast<int64_t>(decodeNumber(e.type, e.value));
        case DataType::VisibleString: return std::string(e.value.begin(), e.value.end());
        default:
            if (isNumeric(e.type)) return e.asUnsigned();
            return hex(e.value, kKeptBytes);
    }
}

}  // namespace

double SimRecord::msSinceStart(Time t) const { return std::chrono::duration<double, std::milli>(t - start_).count(); }

void SimRecord::addSdo(const SdoTransferReport& report, Time now) {
    SdoEntry e{msSinceStart(now), report, report.data.size()};
    if (e.report.data.size() > kKeptBytes) e.report.data.resize(kKeptBytes);
    sdo_.push_back(std::move(e));
}

void SimRecord::addEvent(Time now, const std::string& kind, const std::string& text) {
    events_.push_back(Event{msSinceStart(now), kind, text});
}

std::string SimRecord::toJson(const ObjectDictionary& od, const Meta& meta) const {
    nlohmann::json j;
    j["node_id"] = meta.nodeId;
    j["pty"] = meta.pty;
    j["eds"] = meta.eds;
    j["product"] = meta.product;
    auto& sdo = j["sdo"] = nlohmann::json::array();
    for (const auto& s : sdo_) {
        nlohmann::json x;
        x["ms"] = s.ms;
        x["op"] = s.report.upload ? "read" : "write";
        x["mode"] = sdoModeName(s.report.mode);
        x["index"] = s.report.index;
        x["sub"] = s.report.sub;
        x["size"] = s.size;
        x["data"] = hex(s.report.data, kKeptBytes);
        if (s.report.abortCode)
            x["abort"] = hex32(s.report.abortCode);
        else
            x["abort"] = nullptr;
        if (s.report.abortedByClient)
            x["aborted_by"] = "client";
        else if (s.report.abortCode)
            x["aborted_by"] = "machine";
        if (!s.report.note.empty()) x["note"] = s.report.note;
        sdo.push_back(std::move(x));
    }
    auto& ev = j["events"] = nlohmann::json::array();
    for (const auto& e : events_) ev.push_back({{"ms", e.ms}, {"kind", e.kind}, {"text", e.text}});
    const auto& c = counters_;
    j["link"] = {{"frames_from_host", c.framesFromHost}, {"frames_to_host", c.framesToHost},
                 {"close_frames", c.closeFrames},        {"bad_bytes_from_host", c.badBytesFromHost},
                 {"dropped_to_bus", c.droppedToBus},     {"dropped_to_host", c.droppedToHost},
                 {"garbage_bursts", c.garbageBursts},    {"lost_while_host_away", c.lostWhileHostAway},
                 {"overflow_to_host", c.overflowToHost}, {"host_opened", c.hostOpened},
                 {"host_closed", c.hostClosed}};
    auto& objs = j["objects"] = nlohmann::json::object();
    char key[16];
    for (const auto& [index, obj] : od.objects()) {
        for (const auto& [sub, e] : obj.subs) {
            std::snprintf(key, sizeof key, "%04X:%02X", index, sub);
            nlohmann::json v;
            v["name"] = e.name;
            v["type"] = dataTypeName(e.type);
            v["value"] = valueJson(e);
            if (!isNumeric(e.type)) v["size"] = e.value.size();
            objs[key] = std::move(v);
        }
    }
    return j.dump(1);
}

bool SimRecord::writeFile(const std::string& path, const ObjectDictionary& od, const Meta& meta,
                          std::string& error) const {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out) {
            error = "cannot write " + tmp;
            return false;
        }
        out << toJson(od, meta) << "\n";
        if (!out.flush()) {
            error = "cannot write " + tmp;
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        error = "cannot rename " + tmp + " to " + path;
        return false;
    }
    return true;
}

}  // namespace msim
