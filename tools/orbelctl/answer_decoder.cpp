#include "answer_decoder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "common/frame_checksum.h"

namespace answer_decoder {

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        if (i) text += ' ';
        text += two;
    }
    return text;
}

bool parseHex(const std::vector<std::string>& words, std::vector<uint8_t>& bytes, std::string& error) {
    for (const auto& word : words) {
        std::string spaced = word;
        for (char& c : spaced)
            if (c == ',' || c == ':') c = ' ';
        size_t pos = 0;
        while (pos < spaced.size()) {
            const size_t begin = spaced.find_first_not_of(' ', pos);
            if (begin == std::string::npos) break;
            const size_t end = std::min(spaced.find(' ', begin), spaced.size());
            std::string token = spaced.substr(begin, end - begin);
            pos = end;
            if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) token.erase(0, 2);
            bool allHex = !token.empty();
            for (char c : token) allHex = allHex && std::isxdigit(static_cast<unsigned char>(c));
            // One or two digits make a byte; longer runs must pair up ("AA0301").
            if (!allHex || (token.size() > 2 && token.size() % 2)) {
                error = "not hex bytes: " + word;
                return false;
            }
            if (token.size() <= 2) {
                bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
                continue;
            }
            for (size_t i = 0; i < token.size(); i += 2)
                bytes.push_back(static_cast<uint8_t>(std::stoul(token.substr(i, 2), nullptr, 16)));
        }
    }
    if (bytes.empty()) {
        error = "no bytes given";
        return false;
    }
    return true;
}

std::string stateName(uint8_t state) {
    switch (state) {
        case 0: return "answered";
        case 1: return "done";
        case 2: return "busy";
        case 3: return "failed";
        default: return "state " + std::to_string(state);
    }
}

std::string describe(const std::vector<uint8_t>& answer) {
    if (answer.empty()) return "no answer (the converter does not know this command)";
    if (answer.size() < 5) return "short answer: " + hex(answer);
    char line[128];
    const bool checksumOk = orbel::frameChecksum(answer.data(), answer.size() - 1) == answer.back();
    std::snprintf(line, sizeof line, "command 0x%02X, %s, %zu data bytes, checksum %s", answer[2],
                  stateName(answer[3]).c_str(), answer.size() - 5, checksumOk ? "ok" : "WRONG");
    return line;
}

std::string modeName(uint8_t statusByte1) {
    switch (statusByte1) {
        case 0x00: return "no mode reported (a machine in its bootloader has none)";
        case 0x01: return "normal operation";
        case 0x02: return "module mode 3";
        case 0x04: return "module mode 2";
        case 0x08: return "module mode 4";
        case 0x10: return "service (parameter) mode";
        case 0x20: return "manual (test) mode";
        case 0x40: return "special mode";
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "unknown mode 0x%02X", statusByte1);
            return text;
        }
    }
}

std::string bootStatusText(const std::vector<uint8_t>& answer) {
    if (answer.size() < 10) return "short answer";
    std::string text = answer[7] == 0x10 ? "parameter mode" : "not in parameter mode";
    switch (answer[8]) {
        case 0: text += ", no update pending"; break;
        case 1: text += ", test mode"; break;
        case 4: text += ", firmware update requested"; break;
        case 8: text += ", display text update requested"; break;
        default: text += ", boot status " + std::to_string(answer[8]); break;
    }
    return text;
}

Identification identify(uint8_t familyByte, uint8_t modelByte) {
    struct Row {
        uint8_t family, model;
        int number;
        const char* name;
    };
    static const Row rows[] = {{0x0A, 0x00, 0, "bootloader (no application running)"},
                               {0x0A, 0x08, 1, "Wren"},
                               {0x0A, 0x09, 2, "Wren"},
                               {0x0A, 0x0A, 3, "Finch"},
                               {0x0A, 0x0B, 4, "Swift"},
                               {0x0A, 0x0C, 5, "Crane"},
                               {0x0A, 0x0E, 6, "Robin"},
                               {0x0D, 0x01, 9, "Kestrel"}};
    for (const auto& row : rows)
        if (row.family == familyByte && row.model == modelByte) return {true, row.number, row.name};
    return {false, -1, "unknown machine"};
}

}  // namespace answer_decoder
