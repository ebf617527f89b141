#pragma once
#include <cstdint>
#include <string>

// One legacy parameter: the machine object behind a legacy address, its size, its last known
// value and whether the host has changed it.
class ORBEL_Parameter {
public:
    void changeValue(uint32_t newValue);
    void setValue(uint32_t newValue);

    // 1, 2 or 4 bytes; 0 for a size code outside 0..5.
    uint32_t byteCount() const;

    uint32_t canObjectId = 0;
    uint8_t canSubIndex = 0;
    uint32_t address = 0;
    uint32_t value = 0;
    std::string name;
    int32_t sizeCode = 0;
    bool changed = false;
};

// A pending machine read or write of one parameter.
struct ParameterRequest {
    uint32_t address = 0;
    uint32_t canObjectId = 0;
    uint8_t canSubIndex = 0;
    int32_t valueType = 0;
    uint32_t value = 0;
};
