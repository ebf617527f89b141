// Machine data as a service technician reads and changes it: parameters by name from the
// description files, the error memory, operating hours, serial and material numbers, raw
// blocks and test commands. Each prints a table, or JSON for scripts.
#include "machine_data_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "answer_decoder.h"
#include "output.h"
#include "script.h"

namespace {

constexpr uint32_t kSerialAddr = 645;
constexpr uint32_t kMaterialAddr = 640;
constexpr uint32_t kCommandAddr = 2;
constexpr uint32_t kKestrelCounterAddr = 620;
constexpr uint32_t kFamilyCountersAddr = 110;
constexpr uint8_t kTestMode = 0x40;
constexpr uint32_t kNumberSize = 13;

using output::say;

std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04x", c);
            s += b;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}

bool parseNumber(const std::string& text, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 0);
    return end != nullptr && *end == '\0' && errno == 0;
}

// One legacy exchange with its outcome: done (1), or an exit status with the reason printed.
class Requests {
public:
    explicit Requests(MachineDataSession& s) : s_(s) {}

    // 0x1D / 0x1E: `length` bytes from a 16-bit address.
    int read(const char* what, uint32_t address, uint8_t length, std::vector<uint8_t>& data) {
        if (int r = identify(what)) return r;
        Answer a = s_.link->exchange(HostLink::package(0x1D, 0, {lo(address), hi(address), length}));
        if (int r = check(what, a, "read")) return r;
        if (int r = poll(what, 0x1E, a)) return r;
        if (a.bytes.size() < 8u + length) {
            say("%s: short answer\n", what);
            return kRefused;
        }
        data.assign(a.bytes.begin() + 8, a.bytes.begin() + 8 + length);
        return kOk;
    }
    // 0x0B / 0x0C: bytes to a 16-bit address.
    int write(const char* what, uint32_t address, const std::vector<uint8_t>& data) {
        if (int r = identify(what)) return r;
        std::vector<uint8_t> payload(3 + data.size());
        payload[0] = lo(address);
        payload[1] = hi(address);
        payload[2] = static_cast<uint8_t>(data.size());
        std::copy(data.begin(), data.end(), payload.begin() + 3);
        Answer a = s_.link->exchange(HostLink::package(0x0B, 0, payload));
        if (int r = check(what, a, "write")) return r;
        return poll(what, 0x0C, a);
    }
    // The converter maps addresses by the machine's model: 0xFA until done, once a session.
    int identify(const char* what) {
        if (s_.identified) return kOk;
        Answer a;
        if (int r = poll(what, 0xFA, a)) return r;
        s_.identified = true;
        return kOk;
    }
    // The model decides the error archive and the counters.
    int isKestrel(const char* what, bool& kestrel) {
        if (int r = identify(what)) return r;
        Answer a = s_.link->exchange(HostLink::package(0xFB));
        if (a.state() != 1 || a.bytes.size() < 8) return check(what, a, "identify");
        kestrel = a.bytes[6] == 0x0D;
        return kOk;
    }
    int poll(const char* what, uint8_t command, Answer& answer, const std::vector<uint8_t>& data = {}) {
        bool timedOut = false;
        answer = s_.link->poll(HostLink::package(command, 0, data), timedOut);
        if (timedOut) {
            say("%s: no answer from the machine within %.0f s (converter still busy)\n", what, s_.timeoutSeconds);
            return kTimedOut;
        }
        return check(what, answer, "answer");
    }

private:
    static uint8_t lo(uint32_t v) { return static_cast<uint8_t>(v); }
    static uint8_t hi(uint32_t v) { return static_cast<uint8_t>(v >> 8); }
    int check(const char* what, const Answer& a, const char* step) {
        if (a.empty()) {
            say("%s: the converter gave no answer\n", what);
            return kRefused;
        }
        if (a.state() == 1 || a.state() == 2) return kOk;
        say("%s: %s %s (connect first, in the same session; see the converter's trace)\n", what, step,
            answer_decoder::stateName(a.state()).c_str());
        return kRefused;
    }
    MachineDataSession& s_;
};

long long valueOf(const ParameterInfo& p, const std::vector<uint8_t>& bytes) {
    uint32_t raw = 0;
    for (uint32_t k = 0; k < p.size && k < bytes.size(); ++k) raw |= static_cast<uint32_t>(bytes[k]) << (8 * k);
    if (!p.isSigned()) return raw;
    if (p.size == 1) return static_cast<int8_t>(raw);
    if (p.size == 2) return static_cast<int16_t>(raw);
    return static_cast<int32_t>(raw);
}

std::string hexValue(uint32_t raw, uint32_t size) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%0*X", static_cast<int>(size * 2), raw);
    return b;
}

std::string hoursText(uint32_t seconds, bool withSeconds) {
    char b[32];
    if (withSeconds)
        std::snprintf(b, sizeof b, "%u:%02u:%02u", seconds / 3600, seconds % 3600 / 60, seconds % 60);
    else
        std::snprintf(b, sizeof b, "%u:%02u", seconds / 3600, seconds % 3600 / 60);
    return b;
}

int commandParams(MachineDataSession& s, const std::vector<std::string>& files, bool read) {
    for (const auto& file : files) {
        std::vector<char> path(file.begin(), file.end());
        path.push_back('\0');
        if (s.library->ConvAddParameterDescription(path.data(), 0) != 0 || !readDescriptionFile(file, s.parameters)) {
            say("params: cannot load %s (see the converter's trace)\n", file.c_str());
            return kRefused;
        }
    }
    Requests requests(s);
    std::string json = "[";
    if (!s.json)
        say("%-6s %-24s %7s %-11s %4s%s\n", "number", "name", "address", "object:sub", "size",
            read ? "  value        hex" : "");
    for (const auto& entry : s.parameters) {
        const ParameterInfo& p = entry.second;
        char object[16];
        std::snprintf(object, sizeof object, "0x%04X:%u", p.object, p.sub);
        std::vector<uint8_t> bytes;
        long long value = 0;
        uint32_t raw = 0;
        if (read) {
            if (int r = requests.read("params", p.address, static_cast<uint8_t>(p.size), bytes)) return r;
            value = valueOf(p, bytes);
            raw = static_cast<uint32_t>(value) & (p.size == 4 ? 0xFFFFFFFFu : (1u << (8 * p.size)) - 1);
        }
        if (s.json) {
            json += (json.size() > 1 ? ",\n " : "\n ") + std::string("{\"number\": ") + std::to_string(p.number) +
                    ", \"name\": " + jsonString(p.name) + ", \"address\": " + std::to_string(p.address) +
                    ", \"object\": " + jsonString(object) + ", \"size\": " + std::to_string(p.size);
            if (read)
                json += ", \"value\": " + std::to_string(value) + ", \"hex\": " + jsonString(hexValue(raw, p.size));
            json += "}";
        } else {
            say("%-6d %-24s %7u %-11s %4u", p.number, p.name.c_str(), p.address, object, p.size);
            if (read) say("  %-12lld %s", value, hexValue(raw, p.size).c_str());
            say("\n");
        }
    }
    if (s.json) say("%s\n]\n", json.c_str());
    return kOk;
}

int commandSet(MachineDataSession& s, const std::vector<std::string>& assignments) {
    if (s.parameters.empty()) {
        say("set: load the description files first, in the same session (params FILE...)\n");
        return kUsage;
    }
    Requests requests(s);
    for (const auto& a : assignments) {
        const auto eq = a.find('=');
        long long value = 0;
        if (eq == std::string::npos || !parseNumber(a.substr(eq + 1), value)) {
            say("set: %s: expected NAME_OR_NUMBER=VALUE\n", a.c_str());
            return kUsage;
        }
        const std::string key = a.substr(0, eq);
        const ParameterInfo* found = nullptr;
        long long number = 0;
        const bool byNumber = parseNumber(key, number);
        for (const auto& entry : s.parameters)
            if ((byNumber && entry.second.number == number) || (!byNumber && entry.second.name == key))
                found = &entry.second;
        if (found == nullptr) {
            say("set: no parameter %s in the description files\n", key.c_str());
            return kUsage;
        }
        const long long bits = 8LL * found->size;
        const long long low = found->isSigned() ? -(1LL << (bits - 1)) : 0;
        const long long high = found->isSigned() ? (1LL << (bits - 1)) - 1 : (1LL << bits) - 1;
        if (value < low || value > high) {
            say("set: %s: %lld is outside %lld..%lld\n", key.c_str(), value, low, high);
            return kUsage;
        }
        std::vector<uint8_t> bytes;
        for (uint32_t k = 0; k < found->size; ++k) bytes.push_back(static_cast<uint8_t>(value >> (8 * k)));
        if (int r = requests.write("set", found->address, bytes)) return r;
        if (!s.json) say("set: %s (%d) = %lld\n", found->name.c_str(), found->number, value);
    }
    if (s.json) say("{\"written\": %u}\n", static_cast<unsigned>(assignments.size()));
    return kOk;
}

int commandErrors(MachineDataSession& s, bool clear) {
    Requests requests(s);
    bool kestrel = false;
    if (int r = requests.isKestrel(clear ? "clear-errors" : "errors", kestrel)) return r;
    const uint32_t archive = kestrel ? 336 : 288;
    if (clear) {
        if (int r = requests.write("clear-errors", archive, {0, 0})) return r;
        say(s.json ? "{\"cleared\": true}\n" : "clear-errors: error memory cleared\n");
        return kOk;
    }
    const uint8_t length = kestrel ? 176 : 81;  // the archive's range: a marker and 5-byte records
    std::vector<uint8_t> data;
    if (int r = requests.read("errors", archive, length, data)) return r;
    std::string json = "[";
    if (!s.json) say("%-6s %s\n", "error", "time (h:mm)");
    for (size_t p = 1; p + 5 <= data.size(); p += 5) {
        if (data[p] == 0 && data[p + 2] == 0 && data[p + 3] == 0 && data[p + 4] == 0) break;  // no more entries
        const uint32_t minutes = data[p + 2] + 60u * (data[p + 3] + 256u * data[p + 4]);
        const std::string time = hoursText(minutes * 60, false);
        if (s.json)
            json += (json.size() > 1 ? ", " : "") + std::string("{\"error\": ") + std::to_string(data[p]) +
                    ", \"time\": " + jsonString(time) + ", \"minutes\": " + std::to_string(minutes) + "}";
        else
            say("%-6u %s\n", data[p], time.c_str());
    }
    if (s.json) say("%s]\n", json.c_str());
    return kOk;
}

int commandHours(MachineDataSession& s) {
    Requests requests(s);
    bool kestrel = false;
    if (int r = requests.isKestrel("hours", kestrel)) return r;
    std::vector<std::pair<std::string, uint32_t>> counters;
    std::vector<uint8_t> d;
    if (kestrel) {
        if (int r = requests.read("hours", kKestrelCounterAddr, 3, d)) return r;
        counters.push_back({"main", 60u * d[0] + 3600u * (d[1] + 256u * d[2])});
    } else {
        // The family's four counters are parameters: the description files must name their bytes.
        if (int r = requests.read("hours", kFamilyCountersAddr, 16, d)) return r;
        for (uint32_t c = 0; c < 4; ++c)
            counters.push_back(
                {std::to_string(c + 1), d[4 * c] + 60u * (d[4 * c + 1] + 60u * (d[4 * c + 2] + 256u * d[4 * c + 3]))});
    }
    std::string json = "[";
    if (!s.json) say("%-8s %s\n", "counter", "hours (h:mm:ss)");
    for (const auto& c : counters) {
        if (s.json)
            json += (json.size() > 1 ? ", " : "") + std::string("{\"counter\": ") + jsonString(c.first) +
                    ", \"seconds\": " + std::to_string(c.second) +
                    ", \"time\": " + jsonString(hoursText(c.second, true)) + "}";
        else
            say("%-8s %s\n", c.first.c_str(), hoursText(c.second, true).c_str());
    }
    if (s.json) say("%s]\n", json.c_str());
    return kOk;
}

int commandNumber(MachineDataSession& s, const char* what, uint32_t address, const std::string& newValue) {
    Requests requests(s);
    if (!newValue.empty()) {
        if (newValue.size() > kNumberSize) {
            say("%s: at most %u characters\n", what, kNumberSize);
            return kUsage;
        }
        if (int r = requests.write(what, address, std::vector<uint8_t>(newValue.begin(), newValue.end()))) return r;
    }
    std::vector<uint8_t> d;
    if (int r = requests.read(what, address, kNumberSize, d)) return r;
    std::string text;
    for (uint8_t b : d)
        if (b != 0) text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
    if (s.json)
        say("{\"%s\": %s, \"hex\": \"%s\"}\n", what, jsonString(text).c_str(), answer_decoder::hex(d).c_str());
    else
        say("%s: %s (%s)\n", what, text.c_str(), answer_decoder::hex(d).c_str());
    return kOk;
}

int commandRead(MachineDataSession& s, long long address, long long length) {
    std::vector<uint8_t> d;
    if (int r = Requests(s).read("read", static_cast<uint32_t>(address), static_cast<uint8_t>(length), d)) return r;
    if (s.json)
        say("{\"address\": %lld, \"bytes\": \"%s\"}\n", address, answer_decoder::hex(d).c_str());
    else
        say("%lld: %s\n", address, answer_decoder::hex(d).c_str());
    return kOk;
}

int commandWrite(MachineDataSession& s, long long address, const std::vector<std::string>& words) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!answer_decoder::parseHex(words, bytes, error) || bytes.size() > 255) {
        say("write: %s\n", error.empty() ? "at most 255 bytes" : error.c_str());
        return kUsage;
    }
    if (int r = Requests(s).write("write", static_cast<uint32_t>(address), bytes)) return r;
    say(s.json ? "{\"written\": %u}\n" : "write: %u bytes written\n", static_cast<unsigned>(bytes.size()));
    return kOk;
}

int commandTest(MachineDataSession& s, long long value) {
    Requests requests(s);
    Answer a = s.link->exchange(HostLink::package(0x0D, 0, {kCommandAddr, 2, kTestMode, static_cast<uint8_t>(value)}));
    if (a.state() != 1) {
        say("test-command: test mode refused (%s)\n", answer_decoder::stateName(a.state()).c_str());
        return kRefused;
    }
    // The first answer request after the mode switch runs the command; the next ones report it.
    if (int r = requests.poll("test-command", 0x0C, a)) return r;
    say(s.json ? "{\"command\": %lld, \"done\": true}\n" : "test-command: command %lld done\n", value);
    return kOk;
}

}  // namespace

void addMachineDataCommands(CLI::App& app, MachineDataSession& s, std::vector<std::function<int()>>& actions) {
    auto params = app.add_subcommand("params", "Load description files; list their parameters, or read them (--read)");
    auto files = std::make_shared<std::vector<std::string>>();
    auto read = std::make_shared<bool>(false);
    params->add_option("files", *files, "Parameter description files")->required();
    params->add_flag("--read", *read, "Read every parameter from the machine");
    params->callback([&s, &actions, files, read] {
        actions.push_back([&s, files, read] { return commandParams(s, *files, *read); });
    });

    auto set = app.add_subcommand("set", "Write parameters by name or number: NAME_OR_NUMBER=VALUE...");
    auto assignments = std::make_shared<std::vector<std::string>>();
    set->add_option("assignments", *assignments, "NAME=VALUE or NUMBER=VALUE")->required();
    set->callback(
        [&s, &actions, assignments] { actions.push_back([&s, assignments] { return commandSet(s, *assignments); }); });

    app.add_subcommand("errors", "Read the error memory: error number and time (h:mm)")->callback([&s, &actions] {
        actions.push_back([&s] { return commandErrors(s, false); });
    });
    app.add_subcommand("clear-errors", "Clear the machine's error memory")->callback([&s, &actions] {
        actions.push_back([&s] { return commandErrors(s, true); });
    });
    app.add_subcommand("hours", "Operating-hours counters (h:mm:ss)")->callback([&s, &actions] {
        actions.push_back([&s] { return commandHours(s); });
    });

    for (const auto& number : {std::make_pair("serial", kSerialAddr), std::make_pair("material", kMaterialAddr)}) {
        const char* name = number.first;
        const uint32_t address = number.second;
        auto sub = app.add_subcommand(name, std::string("Read the ") + name + " number, or write it (--write VALUE)");
        auto value = std::make_shared<std::string>();
        sub->add_option("--write", *value, "New value, up to 13 characters");
        sub->callback([&s, &actions, value, name, address] {
            actions.push_back([&s, value, name, address] { return commandNumber(s, name, address, *value); });
        });
    }

    auto raw = app.add_subcommand("read", "Read a raw block (0x1D/0x1E): ADDR LEN");
    auto readAddress = std::make_shared<long long>(0);
    auto readLength = std::make_shared<long long>(0);
    raw->add_option("address", *readAddress, "Legacy address (decimal or 0x hex)")
        ->required()
        ->check(CLI::Range(0, 0xFFFF));
    raw->add_option("length", *readLength, "Bytes to read")->required()->check(CLI::Range(0, 255));
    raw->callback([&s, &actions, readAddress, readLength] {
        actions.push_back([&s, readAddress, readLength] { return commandRead(s, *readAddress, *readLength); });
    });

    auto write = app.add_subcommand("write", "Write a raw block (0x0B/0x0C): ADDR HEX...");
    auto writeAddress = std::make_shared<long long>(0);
    auto writeBytes = std::make_shared<std::vector<std::string>>();
    write->add_option("address", *writeAddress, "Legacy address")->required()->check(CLI::Range(0, 0xFFFF));
    write->add_option("bytes", *writeBytes, "Data bytes in hex")->required();
    write->callback([&s, &actions, writeAddress, writeBytes] {
        actions.push_back([&s, writeAddress, writeBytes] { return commandWrite(s, *writeAddress, *writeBytes); });
    });

    auto test = app.add_subcommand("test-command", "Switch to test mode and run a model command: VALUE");
    auto testValue = std::make_shared<long long>(0);
    test->add_option("value", *testValue, "Command code")->required()->check(CLI::Range(0, 255));
    test->callback(
        [&s, &actions, testValue] { actions.push_back([&s, testValue] { return commandTest(s, *testValue); }); });
}
