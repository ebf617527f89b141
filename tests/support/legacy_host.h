#pragma once
// The legacy host's side of block reads and writes through the exports, and the twin's JSON
// record read back after a run.
#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/frame_checksum.h"
#include "host_session.h"
#include "platform/clock.h"

namespace orbeltest {

inline std::vector<uint8_t> package(uint8_t code, std::vector<uint8_t> payload, uint8_t stateByte = 0) {
    std::vector<uint8_t> p{0xAA, static_cast<uint8_t>(payload.size() + 3), code, stateByte};
    p.insert(p.end(), payload.begin(), payload.end());
    p.push_back(orbel::frameChecksum(p.data(), p.size()));
    return p;
}

inline uint8_t stateOf(const std::vector<uint8_t>& answer) { return answer.size() > 3 ? answer[3] : 0xEE; }

// Sends a package again while its answer says busy (the client's time-outs bound the wait).
inline std::vector<uint8_t> poll(const std::vector<uint8_t>& request, uint32_t limitMs = 20000) {
    const uint32_t start = platform::tickCountMs();
    for (;;) {
        auto answer = exchange(request).answer;
        if (stateOf(answer) != 2 || platform::tickCountMs() - start > limitMs) return answer;
        platform::sleepMs(2);
    }
}

struct BlockRead {
    std::vector<uint8_t> request;  // the read-block answer
    std::vector<uint8_t> answer;   // the final read-block-answer answer
    // The data bytes of the answer and the zero byte after them (the checksum left out).
    std::vector<uint8_t> data() const {
        const size_t pos = request.size() > 2 && request[2] == 0x07 ? 7 : 8;
        if (answer.size() <= pos) return {};
        return std::vector<uint8_t>(answer.begin() + static_cast<long>(pos), answer.end() - 1);
    }
};

// 0x07 (8-bit address) or 0x1D (16-bit address), then 0x08 / 0x1E until not busy.
inline BlockRead readBlock(uint32_t address, uint8_t length, bool wide) {
    BlockRead r;
    if (wide) {
        r.request =
            exchange(package(0x1D, {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), length}, 0x11))
                .answer;
        r.answer = poll(package(0x1E, {}));
    } else {
        r.request = exchange(package(0x07, {static_cast<uint8_t>(address), length}, 0x11)).answer;
        r.answer = poll(package(0x08, {}));
    }
    return r;
}

struct BlockWrite {
    uint8_t requestState = 0;
    uint8_t answerState = 0;
};

// 0x0B (16-bit address, data from 7), 0x0D (8-bit, data from 6) or 0x1F (8-bit, data from 7),
// then 0x0C until not busy.
inline BlockWrite writeBlock(uint8_t code, uint32_t address, const std::vector<uint8_t>& data,
                             int lengthOverride = -1) {
    std::vector<uint8_t> payload;
    const uint8_t length =
        lengthOverride >= 0 ? static_cast<uint8_t>(lengthOverride) : static_cast<uint8_t>(data.size());
    if (code == 0x0B) {
        payload = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), length};
    } else {
        payload = {static_cast<uint8_t>(address), length};
        if (code == 0x1F) payload.push_back(0);
    }
    payload.insert(payload.end(), data.begin(), data.end());
    BlockWrite w;
    w.requestState = stateOf(exchange(package(code, payload)).answer);
    w.answerState = stateOf(poll(package(0x0C, {})));
    return w;
}

// One SDO access the twin recorded.
struct SdoAccess {
    bool read = false;
    unsigned index = 0, sub = 0;
    std::string data;   // hex, as the twin writes it
    std::string abort;  // empty when none
};

struct TwinRecord {
    std::vector<SdoAccess> sdo;
    nlohmann::json objects;

    static TwinRecord load(const std::string& path) {
        TwinRecord r;
        std::ifstream in(path);
        if (!in) return r;
        nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
        if (j.is_discarded()) return r;
        for (const auto& s : j["sdo"]) {
            SdoAccess a;
            a.read = s["op"] == "read";
            a.index = s["index"];
            a.sub = s["sub"];
            a.data = s["data"];
            if (!s["abort"].is_null()) a.abort = s["abort"];
            r.sdo.push_back(a);
        }
        r.objects = j["objects"];
        return r;
    }
    std::vector<SdoAccess> accesses(unsigned first, unsigned last) const {
        std::vector<SdoAccess> out;
        for (const auto& a : sdo)
            if (a.index >= first && a.index <= last) out.push_back(a);
        return out;
    }
    nlohmann::json value(unsigned index, unsigned sub) const {
        char key[16];
        std::snprintf(key, sizeof key, "%04X:%02X", index, sub);
        return objects.contains(key) ? objects[key]["value"] : nlohmann::json();
    }
};

#ifdef MODELS_DIR
// Default values of the twin's objects, from its EDS file: what each object holds at power-on
// (MODELS_DIR: the folder of machine-sim's shipped EDS files).
class EdsValues {
public:
    explicit EdsValues(const std::string& model) {
        std::ifstream in(std::string(MODELS_DIR) + "/" + model + ".eds");
        std::string line, section;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > 2 && line[0] == '[')
                section = line.substr(1, line.size() - 2);
            else if (line.rfind("DefaultValue=", 0) == 0)
                values_[section] = line.substr(13);
        }
    }
    std::string text(unsigned index, unsigned sub) const {
        char key[16];
        std::snprintf(key, sizeof key, "%04Xsub%X", index, sub);
        const auto found = values_.find(key);
        return found == values_.end() ? std::string() : found->second;
    }
    long long integer(unsigned index, unsigned sub) const { return std::stoll(text(index, sub), nullptr, 0); }
    std::vector<uint8_t> octets(unsigned index, unsigned sub) const {
        const std::string hex = text(index, sub);
        std::vector<uint8_t> b;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            b.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return b;
    }

private:
    std::map<std::string, std::string> values_;
};
#endif

inline std::string hexOf(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[3];
    for (uint8_t x : bytes) {
        std::snprintf(b, sizeof b, "%02X", x);
        s += b;
    }
    return s;
}

}  // namespace orbeltest
