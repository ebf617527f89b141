#include "lss.h"

#include "alarm.h"
#include "byte_order.h"
#include "can_port.h"
#include "node_data.h"
#include "node_state.h"

#include <cstring>

namespace canopen {

const char* const kLssBitTimingTexts[kLssBitTimingCount] = {"1M",   "800K", "500K", "250K", "125K",
                                                            "100K", "50K",  "20K",  "10K"};

namespace {

constexpr uint16_t kLssAnswerCobId = 0x7E4;
constexpr uint8_t kAllSelectiveFields = 0x0F;
constexpr uint8_t kAllIdentifyFields = 0x3F;

enum LssCommand : uint8_t {
    kSwitchModeGlobal = 0x04,
    kConfigureNodeId = 0x11,
    kConfigureBitTiming = 0x13,
    kActivateBitTiming = 0x15,
    kStoreConfiguration = 0x17,
    kSwitchSelectiveVendor = 0x40,
    kSwitchSelectiveSerial = 0x43,
    kSwitchSelectiveAnswer = 0x44,
    kIdentifyVendor = 0x46,
    kIdentifySerialHigh = 0x4B,
    kIdentifyNonConfigured = 0x4C,
    kIdentifyAnswer = 0x4F,
    kIdentifyNonConfiguredAnswer = 0x50,
    kInquireVendor = 0x5A,
    kInquireSerial = 0x5D,
    kInquireNodeId = 0x5E,
};

void answer(NodeData* node, const uint8_t (&bytes)[8]) {
    if (!node->flags.lss) return;
    CanMessage m{};
    m.cobId = kLssAnswerCobId;
    m.len = 8;
    std::memcpy(m.data, bytes, 8);
    sendCanFrame(node->port, &m);
}

// Command byte and one byte after it (an error code, or the node id).
void answerCode(NodeData* node, uint8_t command, uint8_t errorCode) {
    answer(node, {command, errorCode, 0, 0, 0, 0, 0, 0});
}

void answerValue(NodeData* node, uint8_t command, uint32_t value) {
    uint8_t bytes[8]{command};
    put32(bytes + 1, value);
    answer(node, bytes);
}

const uint32_t* identity(const NodeData* node) { return node->od.values.identity; }

void bitRateSwitchTick(NodeData* node, uint32_t) {
    LssData& lss = node->lss;
    if (lss.switchState == 1) {
        lss.switchState = 2;
        changeCanBaudRate(lss.savedPort, lss.baudRate);
    } else {
        lss.switchState = 0;
        lss.switchAlarm = cancelAlarm(lss.switchAlarm);
        node->port = lss.savedPort;
        lss.savedPort = nullptr;
    }
}

void activateBitTiming(NodeData* node, const uint8_t* data) {
    LssData& lss = node->lss;
    // A second activation while one runs would park the already detached (null) port.
    if (std::strcmp(lss.baudRate, "none") == 0 || lss.switchState != 0) return;
    lss.switchDelay = get16(data + 1);
    // Period 0 would make the alarm one-shot and leave the port detached for good.
    const uint32_t delay = lss.switchDelay ? lss.switchDelay : 1;
    lss.switchState = 1;
    lss.savedPort = node->port;
    node->port = nullptr;  // silent on the bus until the switch is done
    lss.switchAlarm = armAlarm(node, 0, bitRateSwitchTick, delay, delay);
    if (lss.switchAlarm == NO_ALARM) {  // no alarm, no switch: stay on the bus as before
        node->port = lss.savedPort;
        lss.savedPort = nullptr;
        lss.switchState = 0;
    }
}

void switchModeGlobal(NodeData* node, uint8_t mode) {
    LssData& lss = node->lss;
    if (mode == lss.mode || mode > kLssConfigurationMode) return;
    if (mode == kLssOperationMode && node->nodeId == kNodeIdUnconfigured &&
        node->pendingNodeId != kNodeIdUnconfigured) {
        setNodeId(node, node->pendingNodeId);
        setNodeState(node, Initialisation);
    }
    lss.mode = mode;
}

void switchModeSelective(NodeData* node, uint8_t command, const uint8_t* data) {
    LssData& lss = node->lss;
    if (lss.mode == kLssConfigurationMode) return;
    const int field = command - kSwitchSelectiveVendor;
    if (get32(data + 1) == identity(node)[field]) {
        lss.selectiveMatch |= static_cast<uint8_t>(1u << field);
    } else {
        lss.selectiveMatch = 0;
    }
    if (lss.selectiveMatch == kAllSelectiveFields) {
        lss.selectiveMatch = 0;
        node->pendingNodeId = node->nodeId;
        lss.mode = kLssConfigurationMode;
        answerCode(node, kSwitchSelectiveAnswer, 0);
    }
}

void identifyRemoteSlave(NodeData* node, uint8_t command, const uint8_t* data) {
    LssData& lss = node->lss;
    const uint32_t value = get32(data + 1);
    const uint32_t* id = identity(node);
    bool match = false;
    switch (command) {
        case 0x46: match = value == id[0]; break;
        case 0x47: match = value == id[1]; break;
        case 0x48: match = id[2] >= value; break;  // revision, low bound
        case 0x49: match = id[2] <= value; break;  // revision, high bound
        case 0x4A: match = id[3] >= value; break;  // serial number, low bound
        case 0x4B: match = id[3] <= value; break;  // serial number, high bound
        default: break;
    }
    if (match) {
        lss.identifyMatch |= static_cast<uint8_t>(1u << (command - kIdentifyVendor));
    } else {
        lss.identifyMatch = 0;
    }
    if (lss.identifyMatch == kAllIdentifyFields) {
        lss.identifyMatch = 0;
        answerCode(node, kIdentifyAnswer, 0);
    }
}

}  // namespace

void handleLssRequest(NodeData* node, const CanMessage* message) {
    if (message->len != 8) return;  // every LSS request is a full frame
    const uint8_t* data = message->data;
    const uint8_t command = data[0];
    LssData& lss = node->lss;
    const bool configuring = lss.mode == kLssConfigurationMode;

    if (command >= kSwitchSelectiveVendor && command <= kSwitchSelectiveSerial) {
        switchModeSelective(node, command, data);
    } else if (command >= kIdentifyVendor && command <= kIdentifySerialHigh) {
        identifyRemoteSlave(node, command, data);
    } else if (command >= kInquireVendor && command <= kInquireSerial) {
        if (configuring) answerValue(node, command, identity(node)[command - kInquireVendor]);
    } else {
        switch (command) {
            case kSwitchModeGlobal: switchModeGlobal(node, data[1]); break;
            case kConfigureNodeId:
                if (!configuring) break;
                if (data[1] <= 0x7F || data[1] == kNodeIdUnconfigured) {
                    node->pendingNodeId = data[1];
                    answerCode(node, kConfigureNodeId, 0);
                } else {
                    answerCode(node, kConfigureNodeId, 1);
                }
                break;
            case kConfigureBitTiming:
                if (!configuring) break;
                if (data[2] < kLssBitTimingCount) {
                    lss.baudRate = kLssBitTimingTexts[data[2]];
                    answerCode(node, kConfigureBitTiming, 0);
                } else {
                    answerCode(node, kConfigureBitTiming, 0xFF);
                }
                break;
            case kActivateBitTiming:
                if (configuring) activateBitTiming(node, data);
                break;
            case kStoreConfiguration:
                if (!configuring) break;
                if (lss.storeConfiguration) {
                    lss.storeConfiguration(node);
                    answerCode(node, kStoreConfiguration, 0);
                } else {
                    answerCode(node, kStoreConfiguration, 1);
                }
                break;
            case kIdentifyNonConfigured:
                if (node->nodeId == kNodeIdUnconfigured) answerCode(node, kIdentifyNonConfiguredAnswer, 0);
                break;
            case kInquireNodeId:
                if (configuring) answerCode(node, kInquireNodeId, node->nodeId);
                break;
            default: break;
        }
    }
}

void handleLssAnswer(NodeData* node, const CanMessage* message) {
    // This node is no LSS master; it only keeps the last answer heard, for inspection.
    std::memcpy(node->lss.lastAnswer, message->data, 8);
    ++node->lss.answerCount;
}

}  // namespace canopen
