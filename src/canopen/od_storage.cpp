#include "od_storage.h"

namespace canopen {

namespace {

constexpr int kFirstClientRow = 6;
constexpr int kRow2000 = kFirstClientRow + kSdoClientChannels;  // 133
constexpr int kRow2222 = kRow2000 + 1;
constexpr int kFirstArrayRow = kRow2222 + 1;   // 135: 0x3000..0x3006, then 0x4000..0x4006
constexpr int kRow5406 = kFirstArrayRow + 14;  // 149

OdSubEntry entry(uint8_t access, uint8_t type, uint32_t size, void* value) {
    return OdSubEntry{access, type, size, value};
}

template <typename T>
void fillArray(OdSubEntry* subs, OdArray<T>& array, uint8_t type) {
    subs[0] = entry(kReadOnly, kUnsigned8, 1, &array.count);
    for (int i = 0; i < kArrayElements; ++i) subs[1 + i] = entry(kReadWrite, type, sizeof(T), &array.elements[i]);
}

}  // namespace

OdValues::OdValues() {
    for (int n = 0; n < kSdoClientChannels; ++n) {
        SdoClientParameter& p = sdoClients[n];
        p.clientToServer = 0x600u + static_cast<uint32_t>(n);
        p.serverToClient = 0x580u + static_cast<uint32_t>(n);
        p.serverNodeId = static_cast<uint8_t>(n);
    }
}

ObjectDictionary::ObjectDictionary() {
    OdValues& v = values;
    subs1000_[0] = entry(kReadOnly, kUnsigned32, 4, &v.deviceType);
    subs1001_[0] = entry(kReadOnly, kUnsigned8, 1, &v.errorRegister);
    subs1016_[0] = entry(kReadOnly, kUnsigned8, 1, &v.heartbeatConsumerCount);
    for (int i = 0; i < kHeartbeatConsumers; ++i)
        subs1016_[1 + i] = entry(kReadWrite, kUnsigned32, 4, &v.heartbeatConsumerTime[i]);
    subs1017_[0] = entry(kReadWrite, kUnsigned16, 2, &v.heartbeatProducerTime);
    subs1018_[0] = entry(kReadOnly, kUnsigned8, 1, &v.identityCount);
    for (int i = 0; i < 4; ++i) subs1018_[1 + i] = entry(kReadOnly, kUnsigned32, 4, &v.identity[i]);
    subs1200_[0] = entry(kReadOnly, kUnsigned8, 1, &v.sdoServerCount);
    subs1200_[1] = entry(kReadOnly, kUnsigned32, 4, &v.sdoServerRequestCobId);
    subs1200_[2] = entry(kReadOnly, kUnsigned32, 4, &v.sdoServerAnswerCobId);
    for (int n = 0; n < kSdoClientChannels; ++n) {
        SdoClientParameter& p = v.sdoClients[n];
        auto& subs = subsClients_[n];
        subs[0] = entry(kReadOnly, kUnsigned8, 1, &p.count);
        subs[1] = entry(kReadWrite, kUnsigned32, 4, &p.clientToServer);
        subs[2] = entry(kReadWrite, kUnsigned32, 4, &p.serverToClient);
        subs[3] = entry(kReadWrite, kUnsigned8, 1, &p.serverNodeId);
    }
    subs2000_[0] = entry(kReadOnly, kUnsigned8, 1, &v.domainCount);
    subs2000_[1] = entry(kReadWrite, kDomain, 0, nullptr);
    subs2222_[0] = entry(kReadOnly, kUnsigned8, 1, &v.object2222Count);
    subs2222_[1] = entry(kReadWrite, kUnsigned8, 1, &v.object2222);
    fillArray(subsArrays_[0].data(), v.array3000, kUnsigned8);
    fillArray(subsArrays_[1].data(), v.array3001, kUnsigned16);
    fillArray(subsArrays_[2].data(), v.array3002, kUnsigned32);
    fillArray(subsArrays_[3].data(), v.array3003, kInteger8);
    fillArray(subsArrays_[4].data(), v.array3004, kInteger16);
    fillArray(subsArrays_[5].data(), v.array3005, kInteger32);
    fillArray(subsArrays_[6].data(), v.array3006, kReal32);
    fillArray(subsArrays_[7].data(), v.array4000, kUnsigned8);
    fillArray(subsArrays_[8].data(), v.array4001, kUnsigned16);
    fillArray(subsArrays_[9].data(), v.array4002, kUnsigned32);
    fillArray(subsArrays_[10].data(), v.array4003, kInteger8);
    fillArray(subsArrays_[11].data(), v.array4004, kInteger16);
    fillArray(subsArrays_[12].data(), v.array4005, kReal32);
    fillArray(subsArrays_[13].data(), v.array4006, kUnsigned8);
    subs5406_[0] = entry(kReadOnly, kUnsigned8, 1, &v.object5406Count);
    subs5406_[1] = entry(kReadWrite, kUnsigned8, 1, &v.object5406[0]);
    subs5406_[2] = entry(kReadWrite, kUnsigned8, 1, &v.object5406[1]);

    auto row = [](auto& subs, uint16_t index) {
        return OdIndexEntry{subs.data(), static_cast<uint8_t>(subs.size()), index};
    };
    rows_[0] = row(subs1000_, 0x1000);
    rows_[1] = row(subs1001_, 0x1001);
    rows_[2] = row(subs1016_, 0x1016);
    rows_[3] = row(subs1017_, 0x1017);
    rows_[4] = row(subs1018_, 0x1018);
    rows_[5] = row(subs1200_, 0x1200);
    for (int n = 0; n < kSdoClientChannels; ++n)
        rows_[kFirstClientRow + n] = row(subsClients_[n], static_cast<uint16_t>(0x1280 + n));
    rows_[kRow2000] = row(subs2000_, 0x2000);
    rows_[kRow2222] = row(subs2222_, 0x2222);
    for (int a = 0; a < kArrayObjects; ++a) {
        const uint16_t index = static_cast<uint16_t>((a < 7 ? 0x3000 : 0x4000) + a % 7);
        rows_[kFirstArrayRow + a] = row(subsArrays_[a], index);
    }
    rows_[kRow5406] = row(subs5406_, 0x5406);
}

int ObjectDictionary::rowOf(uint16_t index) {
    switch (index) {
        case 0x1000: return 0;
        case 0x1001: return 1;
        case 0x1016: return 2;
        case 0x1017: return 3;
        case 0x1018: return 4;
        case 0x1200: return 5;
        case 0x2000: return kRow2000;
        case 0x2222: return kRow2222;
        case 0x5406: return kRow5406;
        default: break;
    }
    if (index >= 0x1280 && index < 0x1280 + kSdoClientChannels) return kFirstClientRow + (index - 0x1280);
    if (index >= 0x3000 && index <= 0x3006) return kFirstArrayRow + (index - 0x3000);
    if (index >= 0x4000 && index <= 0x4006) return kFirstArrayRow + 7 + (index - 0x4000);
    return -1;
}

OdWriteHook* ObjectDictionary::hooksOfRow(int row) {
    switch (row) {
        case 2: return hooks1016_.data();
        case 3: return hooks1017_.data();
        case 4: return hooks1018_.data();
        case 5: return hooks1200_.data();
        case kRow2000: return hooks2000_.data();
        case kRow2222: return hooks2222_.data();
        case kRow5406: return hooks5406_.data();
        default: break;
    }
    if (row >= kFirstArrayRow && row < kFirstArrayRow + kArrayObjects) return hooksArrays_[row - kFirstArrayRow].data();
    return nullptr;
}

}  // namespace canopen
