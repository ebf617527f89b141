#pragma once
// Storage of the local object dictionary: the values, the sub-entry tables that point at
// them, the hook slots and the 150-row index table. One per node; it points into itself,
// so it is neither copied nor moved.
#include "object_dictionary.h"

#include <array>
#include <cstdint>

namespace canopen {

constexpr int kSdoClientChannels = 127;  // one per remote node 0..126
constexpr int kArrayElements = 254;      // sub-indices 1..254 of the array objects
constexpr int kHeartbeatConsumers = 1;   // entries of 0x1016

template <typename T>
struct OdArray {
    uint8_t count = kArrayElements;
    T elements[kArrayElements]{};
};

struct SdoClientParameter {
    uint8_t count = 3;
    uint32_t clientToServer = 0;
    uint32_t serverToClient = 0;
    uint8_t serverNodeId = 0;
};

struct OdValues {
    OdValues();  // client channel n talks to node n on the default COB-ids

    uint32_t deviceType = 0;                                // 0x1000
    uint8_t errorRegister = 0;                              // 0x1001
    uint8_t heartbeatConsumerCount = kHeartbeatConsumers;   // 0x1016 sub 0
    uint32_t heartbeatConsumerTime[kHeartbeatConsumers]{};  // 0x1016 sub 1..: node id << 16 | ms
    uint16_t heartbeatProducerTime = 0;                     // 0x1017
    uint8_t identityCount = 4;                              // 0x1018 sub 0
    uint32_t identity[4]{};                                 // vendor id, product code, revision, serial number
    uint8_t sdoServerCount = 2;                             // 0x1200
    uint32_t sdoServerRequestCobId = 0x600;                 // client to server
    uint32_t sdoServerAnswerCobId = 0x580;                  // server to client
    SdoClientParameter sdoClients[kSdoClientChannels];      // 0x1280..0x12FE
    uint8_t domainCount = 1;                                // 0x2000
    uint8_t object2222Count = 1;                            // 0x2222
    uint8_t object2222 = 0;
    OdArray<uint8_t> array3000;
    OdArray<uint16_t> array3001;
    OdArray<uint32_t> array3002;
    OdArray<int8_t> array3003;
    OdArray<int16_t> array3004;
    OdArray<int32_t> array3005;
    OdArray<float> array3006;
    OdArray<uint8_t> array4000;
    OdArray<uint16_t> array4001;
    OdArray<uint32_t> array4002;
    OdArray<int8_t> array4003;
    OdArray<int16_t> array4004;
    OdArray<float> array4005;
    OdArray<uint8_t> array4006;
    uint8_t object5406Count = 2;  // 0x5406
    uint8_t object5406[2]{};
};

class ObjectDictionary {
public:
    ObjectDictionary();
    ObjectDictionary(const ObjectDictionary&) = delete;
    ObjectDictionary& operator=(const ObjectDictionary&) = delete;

    OdValues values;
    const OdIndexEntry* table() const { return rows_.data(); }
    // The row of an index in table order, or -1.
    static int rowOf(uint16_t index);
    OdWriteHook* hooksOfRow(int row);

private:
    static constexpr int kArrayObjects = 14;

    std::array<OdSubEntry, 1> subs1000_{};
    std::array<OdSubEntry, 1> subs1001_{};
    std::array<OdSubEntry, 1 + kHeartbeatConsumers> subs1016_{};
    std::array<OdSubEntry, 1> subs1017_{};
    std::array<OdSubEntry, 5> subs1018_{};
    std::array<OdSubEntry, 3> subs1200_{};
    std::array<std::array<OdSubEntry, 4>, kSdoClientChannels> subsClients_{};
    std::array<OdSubEntry, 2> subs2000_{};
    std::array<OdSubEntry, 2> subs2222_{};
    std::array<std::array<OdSubEntry, 1 + kArrayElements>, kArrayObjects> subsArrays_{};
    std::array<OdSubEntry, 3> subs5406_{};

    std::array<OdWriteHook, 1 + kHeartbeatConsumers> hooks1016_{};
    std::array<OdWriteHook, 1> hooks1017_{};
    std::array<OdWriteHook, 5> hooks1018_{};
    std::array<OdWriteHook, 3> hooks1200_{};
    std::array<OdWriteHook, 2> hooks2000_{};
    std::array<OdWriteHook, 2> hooks2222_{};
    std::array<std::array<OdWriteHook, 1 + kArrayElements>, kArrayObjects> hooksArrays_{};
    std::array<OdWriteHook, 3> hooks5406_{};

    std::array<OdIndexEntry, kOdRowCount> rows_{};
};

}  // namespace canopen
