#pragma once
#include <cstdint>
#include <map>

// One read of a sensor or feature request: which machine object delivers the value that the
// legacy answer reports at `stAddress`, and the value once read.
struct FeatureRequest {
    uint32_t stAddress = 0;
    int32_t canObjectIndex = 0;
    uint8_t canSubIndex = 0;
    int32_t valueType = 0;
    uint8_t valueU8 = 0;
    uint16_t valueU16 = 0;
    uint32_t valueU32 = 0;
    int8_t valueI8 = 0;
    int16_t valueI16 = 0;
    int32_t valueI32 = 0;
    float valueFloat = 0.0f;
    uint8_t stLength = 0;
    uint8_t bitShift = 0;
};

// Feature number (consecutive from 0) to request.
using FeatureRequestMap = std::map<uint32_t, FeatureRequest>;
