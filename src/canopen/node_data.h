#pragma once
// The one record of the local CANopen node: its object dictionary, state, services, hooks,
// SDO line and port. The client owns one per process and installs its hooks before the stack
// starts. Every member is guarded by the stack lock.
#include "alarm.h"
#include "node_state.h"
#include "object_dictionary.h"
#include "od_storage.h"
#include "sdo_line.h"

#include <cstdint>

namespace canopen {

struct CanPort;

// 1 while the service is active; the node state machine sets them.
struct CommunicationFlags {
    uint8_t bootUp = 0;
    uint8_t sdo = 0;
    uint8_t emergency = 0;
    uint8_t sync = 0;
    uint8_t heartbeat = 0;
    uint8_t pdo = 0;
    uint8_t lss = 0;
};

// Rows of the communication-object families in the dictionary table.
struct OdRowRanges {
    OdRowRange sdoServer{5, 5};
    OdRowRange sdoClient{6, 132};
    OdRowRange receivePdo{0, 0};
    OdRowRange receivePdoMapping{0, 0};
    OdRowRange transmitPdo{0, 0};
    OdRowRange transmitPdoMapping{0, 0};
};

// Plain function hooks, called with the stack lock held; a null hook does nothing.
struct NodeHooks {
    void (*initialisation)(NodeData* node) = nullptr;
    void (*preOperational)(NodeData* node);  // defaults to resetting all nodes when not an NMT slave
    void (*operational)(NodeData* node) = nullptr;
    void (*stopped)(NodeData* node) = nullptr;
    void (*resetNode)(NodeData* node) = nullptr;           // NMT reset node received
    void (*resetCommunication)(NodeData* node) = nullptr;  // NMT reset communication received
    void (*heartbeatError)(NodeData* node, uint8_t nodeId) = nullptr;
    void (*nodeStateChange)(NodeData* node, uint8_t nodeId, uint8_t newState) = nullptr;
    void (*slaveBootUp)(NodeData* node, uint8_t nodeId) = nullptr;
    void (*lifeGuard)(NodeData* node, uint8_t nodeId) = nullptr;
    void (*sync)(NodeData* node) = nullptr;
    void (*transmitPdo)(NodeData* node) = nullptr;
    void (*emergency)(NodeData* node, uint8_t nodeId, uint16_t errorCode, uint8_t errorRegister) = nullptr;
    // After a write to a sub-index whose access asks for storing; persisting is not done here.
    void (*store)(NodeData* node, uint16_t index, uint8_t sub) = nullptr;

    NodeHooks();
};

struct HeartbeatData {
    AlarmHandle consumerAlarms[kHeartbeatConsumers];
    AlarmHandle producerAlarm = NO_ALARM;
    HeartbeatData() {
        for (auto& alarm : consumerAlarms) alarm = NO_ALARM;
    }
};

struct NodeGuardData {
    AlarmHandle alarm = NO_ALARM;
    uint16_t guardTime = 0;      // ms; from 0x100C, which this dictionary lacks
    uint8_t lifeTimeFactor = 0;  // from 0x100D, likewise
    uint8_t counters[128]{};
    uint8_t toggle = 0;  // bit 7 of the next node-guard answer
};

struct SyncEmergencyPdoData {
    AlarmHandle syncAlarm = NO_ALARM;
    uint8_t emergencyErrorCount = 0;
};

enum LssMode : uint8_t { kLssOperationMode = 0, kLssConfigurationMode = 1 };

struct LssData {
    uint8_t mode = kLssOperationMode;
    uint8_t selectiveMatch = 0;  // bits 0..3: vendor, product, revision, serial matched
    uint8_t identifyMatch = 0;   // bits 0..5 of identify remote slave
    const char* baudRate = "none";
    uint8_t switchState = 0;  // 0 idle, 1 waiting for the first switch delay, 2 for the second
    CanPort* savedPort = nullptr;
    uint16_t switchDelay = 0;
    AlarmHandle switchAlarm = NO_ALARM;
    void (*storeConfiguration)(NodeData* node) = nullptr;
    // Answers of other slaves, heard while this node is not an NMT slave (last one only).
    uint8_t lastAnswer[8]{};
    uint8_t answerCount = 0;
};

struct NodeData {
    NodeData();
    NodeData(const NodeData&) = delete;
    NodeData& operator=(const NodeData&) = delete;

    uint8_t nodeId = 0;
    uint8_t pendingNodeId = 0;
    uint8_t nmtSlave = 1;  // obeys NMT commands and LSS requests as a slave

    ObjectDictionary od;
    OdRowRanges rows;

    uint32_t nodeState = Unknown;
    CommunicationFlags flags;
    NodeHooks hooks;

    HeartbeatData heartbeat;
    uint32_t remoteStates[128];
    NodeGuardData guard;
    SyncEmergencyPdoData syncEmergencyPdo;
    LssData lss;

    SdoLine sdo;
    CanPort* port = nullptr;
};

}  // namespace canopen
