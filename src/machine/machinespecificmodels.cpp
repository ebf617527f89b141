// The machine models' sensor memory: which legacy addresses are sensor values and which
// machine objects deliver them.
#include <iterator>

#include "machine/machinespecificheron.h"
#include "machine/value_type.h"

namespace {

struct SensorRow {
    uint32_t address;
    int32_t objectIndex;
    uint8_t subIndex;
    int32_t valueType;
    uint8_t length;
    uint8_t bitShift;
};

// Crane and Finch.
const SensorRow kTableA[] = {
    {257, 0x5206, 1, VALUE_TYPE_FLOAT, 2, 0}, {259, 0x5206, 2, VALUE_TYPE_FLOAT, 1, 0},
    {260, 0x5206, 3, VALUE_TYPE_FLOAT, 1, 0}, {261, 0x5206, 4, VALUE_TYPE_FLOAT, 1, 0},
    {269, 0x5200, 2, VALUE_TYPE_U8, 1, 0},    {270, 0x5200, 3, VALUE_TYPE_U8, 1, 0},
    {271, 0x5200, 4, VALUE_TYPE_U8, 1, 0},    {256, 0x5205, 1, VALUE_TYPE_I32, 1, 0},
    {262, 0x5206, 5, VALUE_TYPE_FLOAT, 1, 0}, {264, 0x5204, 1, VALUE_TYPE_I16, 1, 0},
    {265, 0x5204, 2, VALUE_TYPE_I16, 1, 0},   {266, 0x5204, 3, VALUE_TYPE_I16, 1, 0},
    {267, 0x5204, 4, VALUE_TYPE_I16, 1, 0},   {272, 0x5200, 9, VALUE_TYPE_U8, 1, 0},
    {272, 0x5200, 11, VALUE_TYPE_U8, 1, 2},
};

// Swift and Wren: table A with the row for 269 behind the I16 rows.
const SensorRow kTableB[] = {
    {257, 0x5206, 1, VALUE_TYPE_FLOAT, 2, 0}, {259, 0x5206, 2, VALUE_TYPE_FLOAT, 1, 0},
    {260, 0x5206, 3, VALUE_TYPE_FLOAT, 1, 0}, {261, 0x5206, 4, VALUE_TYPE_FLOAT, 1, 0},
    {270, 0x5200, 3, VALUE_TYPE_U8, 1, 0},    {271, 0x5200, 4, VALUE_TYPE_U8, 1, 0},
    {256, 0x5205, 1, VALUE_TYPE_I32, 1, 0},   {262, 0x5206, 5, VALUE_TYPE_FLOAT, 1, 0},
    {264, 0x5204, 1, VALUE_TYPE_I16, 1, 0},   {265, 0x5204, 2, VALUE_TYPE_I16, 1, 0},
    {266, 0x5204, 3, VALUE_TYPE_I16, 1, 0},   {267, 0x5204, 4, VALUE_TYPE_I16, 1, 0},
    {269, 0x5200, 2, VALUE_TYPE_U8, 1, 0},    {272, 0x5200, 9, VALUE_TYPE_U8, 1, 0},
    {272, 0x5200, 11, VALUE_TYPE_U8, 1, 2},
};

// Robin.
const SensorRow kTableC[] = {
    {257, 0x5206, 1, VALUE_TYPE_FLOAT, 2, 0}, {259, 0x5206, 2, VALUE_TYPE_FLOAT, 1, 0},
    {260, 0x5206, 3, VALUE_TYPE_FLOAT, 1, 0}, {261, 0x5206, 4, VALUE_TYPE_FLOAT, 1, 0},
    {270, 0x5200, 2, VALUE_TYPE_U8, 1, 0},    {256, 0x5205, 1, VALUE_TYPE_I32, 1, 0},
    {262, 0x5206, 5, VALUE_TYPE_FLOAT, 1, 0}, {264, 0x5204, 1, VALUE_TYPE_I16, 1, 0},
    {265, 0x5204, 2, VALUE_TYPE_I16, 1, 0},   {266, 0x5204, 3, VALUE_TYPE_I16, 1, 0},
    {267, 0x5204, 4, VALUE_TYPE_I16, 1, 0},   {281, 0x5200, 7, VALUE_TYPE_U8, 1, 0},
    {282, 0x5200, 6, VALUE_TYPE_U8, 1, 0},    {283, 0x5200, 8, VALUE_TYPE_U8, 1, 0},
};

// Kestrel.
const SensorRow kTableK[] = {
    {256, 0x5201, 1, VALUE_TYPE_U16, 2, 0},  {258, 0x5200, 1, VALUE_TYPE_U8, 1, 0},
    {259, 0x5201, 2, VALUE_TYPE_U16, 2, 0},  {261, 0x5200, 2, VALUE_TYPE_U8, 1, 0},
    {262, 0x5201, 3, VALUE_TYPE_U16, 2, 0},  {264, 0x5200, 3, VALUE_TYPE_U8, 1, 0},
    {265, 0x5201, 4, VALUE_TYPE_U16, 2, 0},  {267, 0x5201, 5, VALUE_TYPE_U16, 2, 0},
    {269, 0x5201, 6, VALUE_TYPE_U16, 2, 0},  {271, 0x5201, 7, VALUE_TYPE_U16, 2, 0},
    {273, 0x5201, 8, VALUE_TYPE_U16, 2, 0},  {275, 0x5201, 9, VALUE_TYPE_U16, 2, 0},
    {277, 0x5201, 10, VALUE_TYPE_U16, 2, 0}, {279, 0x5201, 11, VALUE_TYPE_U16, 2, 0},
    {281, 0x5200, 4, VALUE_TYPE_U8, 1, 0},   {282, 0x5200, 5, VALUE_TYPE_U8, 1, 0},
    {283, 0x5200, 6, VALUE_TYPE_U8, 1, 0},   {300, 0x5100, 1, VALUE_TYPE_U8, 1, 0},
    {301, 0x5100, 2, VALUE_TYPE_U8, 1, 0},   {302, 0x5100, 3, VALUE_TYPE_U8, 1, 0},
    {303, 0x5100, 4, VALUE_TYPE_U8, 1, 0},
};

// Appends a request for every row whose first address lies in [address, address + length),
// numbered on from the map's current size.
template <size_t N>
void fillFromTable(const SensorRow (&table)[N], uint32_t address, uint8_t length, FeatureRequestMap& requests) {
    uint32_t number = static_cast<uint32_t>(requests.size());
    for (const SensorRow& row : table) {
        if (row.address < address || row.address >= address + length) continue;
        FeatureRequest request;
        request.stAddress = row.address;
        request.canObjectIndex = row.objectIndex;
        request.canSubIndex = row.subIndex;
        request.valueType = row.valueType;
        request.stLength = row.length;
        request.bitShift = row.bitShift;
        requests[number++] = request;
    }
}

bool inSensorRangeA(uint32_t address) { return address >= 256 && address < 278; }
bool inSensorRangeC(uint32_t address) { return address >= 256 && address < 284; }

}  // namespace

bool MachineSpecificCrane::isSensorReq(uint32_t address) { return inSensorRangeA(address); }
void MachineSpecificCrane::FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) {
    fillFromTable(kTableA, address, length, requests);
}

bool MachineSpecificFinch::isSensorReq(uint32_t address) { return inSensorRangeA(address); }
void MachineSpecificFinch::FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) {
    fillFromTable(kTableA, address, length, requests);
}

bool MachineSpecificSwift::isSensorReq(uint32_t address) { return inSensorRangeA(address); }
void MachineSpecificSwift::FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) {
    fillFromTable(kTableB, address, length, requests);
}

bool MachineSpecificWren::isSensorReq(uint32_t address) { return inSensorRangeA(address); }
void MachineSpecificWren::FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) {
    fillFromTable(kTableB, address, length, requests);
}

bool MachineSpecificRobin::isSensorReq(uint32_t address) { return inSensorRangeC(address); }
void MachineSpecificRobin::FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) {
    fillFromTable(kTableC, address, length, requests);
}

bool MachineSpecificKestrel::isSensorReq(uint32_t address) {
    return inSensorRangeC(address) || (address >= 300 && address <= 303);
}
void MachineSpecificKestrel::FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) {
    fillFromTable(kTableK, address, length, requests);
}
