#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Readable forms of the converter's answers.
namespace answer_decoder {

std::string hex(const std::vector<uint8_t>& bytes);
// Parses "AA 03 01" or "aa0301" or "0xAA,0x03"; false on anything that is not hex bytes.
bool parseHex(const std::vector<std::string>& words, std::vector<uint8_t>& bytes, std::string& error);

std::string stateName(uint8_t state);
// One line about any answer: command, state, checksum verdict.
std::string describe(const std::vector<uint8_t>& answer);

std::string modeName(uint8_t statusByte1);
std::string bootStatusText(const std::vector<uint8_t>& answer);

struct Identification {
    bool known = false;
    int machineNumber = -1;
    std::string model;
};
Identification identify(uint8_t familyByte, uint8_t modelByte);

}  // namespace answer_decoder
