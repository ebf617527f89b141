#pragma once
#include <cstdint>
#include <map>
#include <string>

// What orbelctl shows of a parameter description file: the parameters by legacy address, read
// by the converter's own line rules (later definitions of an address win).
struct ParameterInfo {
    int number = 0;
    std::string name;
    uint32_t address = 0;
    uint32_t object = 0;
    uint32_t sub = 0;
    uint32_t size = 0;  // 1, 2 or 4 bytes

    bool isSigned() const { return (object >= 0x3003 && object <= 0x3005) || (object >= 0x4003 && object <= 0x4005); }
};

// False when the file cannot be read; lines the converter skips are skipped here too.
bool readDescriptionFile(const std::string& path, std::map<uint32_t, ParameterInfo>& parameters);
