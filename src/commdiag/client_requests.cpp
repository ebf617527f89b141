// The five request starters and the operations built on them.
#include "client.h"

#include "completion_handlers.h"
#include "domain_conversion.h"
#include "library_state.h"
#include "log.h"

#include "canopen/sdo.h"

namespace CommDiag {

using detail::libraryState;

namespace {

// Object areas of the typed families: the object is the base plus (valueType - 1).
constexpr uint16_t kOutputs = 0x5000;
constexpr uint16_t kInputs = 0x5100;
constexpr uint16_t kMeasurements = 0x5200;
constexpr uint16_t kMachineParameters = 0x3000;
constexpr uint16_t kOpHoursCounters = 0x4000;

constexpr uint8_t kNoDataType = 0;  // the stack keeps it for the caller; the client needs none

template <typename T>
struct TypeOf;
template <>
struct TypeOf<uint8_t> {
    static constexpr int value = VALUE_TYPE_U8;
};
template <>
struct TypeOf<uint16_t> {
    static constexpr int value = VALUE_TYPE_U16;
};
template <>
struct TypeOf<uint32_t> {
    static constexpr int value = VALUE_TYPE_U32;
};
template <>
struct TypeOf<int8_t> {
    static constexpr int value = VALUE_TYPE_I8;
};
template <>
struct TypeOf<int16_t> {
    static constexpr int value = VALUE_TYPE_I16;
};
template <>
struct TypeOf<int32_t> {
    static constexpr int value = VALUE_TYPE_I32;
};
template <>
struct TypeOf<float> {
    static constexpr int value = VALUE_TYPE_FLOAT;
};

uint16_t objectOfType(uint16_t base, int valueType) { return static_cast<uint16_t>(base + valueType - 1); }

int refuseInvalidType(int valueType) {
    log::line(log::kAlways, "Invalid parameter type", valueType);
    return RESULT_REFUSED;
}

enum class Direction { Upload, Download };

// The end of every starter once the stack has been asked.
int startResult(uint8_t status, Direction direction) {
    if (status != canopen::kSdoStarted) {
        log::line(log::kAlways,
                  direction == Direction::Upload ? "readNetworkDictCallback() failed to start request (status "
                                                 : "writeNetworkDict() failed to start request (status ",
                  unsigned{status}, ")");
        detail::releaseSdo();
        return RESULT_REFUSED;
    }
    log::line(log::kRequestDetail, "Request started");
    return RESULT_OK;
}

}  // namespace

// Checks shared by every starter; on success this caller holds sdoBusy.
int Client::checkRequestStart(bool hasCallback, bool hasStorage) {
    if (!hasCallback || connectionState.load(std::memory_order_acquire) != kConnected) {
        log::line(log::kAlways, hasCallback ? "Not connected" : "No callback defined");
        return RESULT_NOT_READY;
    }
    if (!busAccessible.load(std::memory_order_acquire)) {
        log::line(log::kProgress, "Bus not accessible");
        return RESULT_BUS_NOT_ACCESSIBLE;
    }
    // A request without storage for its value would have the completion write through null.
    if (!hasStorage) {
        log::line(log::kAlways, "No value given");
        return RESULT_INVALID;
    }
    if (!detail::claimSdo()) {
        log::line(log::kAlways, "Previous SDO operation is still running");
        return RESULT_BUSY;
    }
    return RESULT_OK;
}

int Client::startReadNumber(uint16_t index, unsigned char* count, ReadNrElementCallback callback) {
    if (int refusal = checkRequestStart(callback != nullptr, count != nullptr)) return refusal;
    auto& info = libraryState().readNrInfo;
    info.callback = callback;
    info.nodeId = remoteNodeId;
    info.index = index;
    info.subIndex = 0;
    info.valueType = VALUE_TYPE_U8;
    info.data = count;
    uint8_t status;
    {
        StackAccess lock;
        status = canopen::readNetworkDictCallback(node, remoteNodeId, index, 0, kNoDataType, detail::readNumberFinished,
                                                  false);
    }
    return startResult(status, Direction::Upload);
}

int Client::startElementRead(int valueType, uint16_t index, uint8_t subIndex, void* value, ElementCallback callback) {
    if (int refusal = checkRequestStart(callback != nullptr, value != nullptr)) return refusal;
    auto& info = libraryState().elementInfo;
    info.callback = callback;
    info.isRead = 1;
    info.nodeId = remoteNodeId;
    info.index = index;
    info.subIndex = subIndex;
    info.valueType = valueType;
    info.data = value;
    uint8_t status;
    {
        StackAccess lock;
        status = canopen::readNetworkDictCallback(node, remoteNodeId, index, subIndex, kNoDataType,
                                                  detail::elementFinished, false);
    }
    return startResult(status, Direction::Upload);
}

int Client::startElementWrite(int valueType, uint16_t index, uint8_t subIndex, void* value, ElementCallback callback) {
    if (int refusal = checkRequestStart(callback != nullptr, value != nullptr)) return refusal;
    auto& info = libraryState().elementInfo;
    info.callback = callback;
    info.isRead = 0;
    info.nodeId = remoteNodeId;
    info.index = index;
    info.subIndex = subIndex;
    info.valueType = valueType;
    info.data = value;
    uint32_t size = elementSize(valueType);
    if (size == 0) {
        log::line(log::kAlways, "Parameter type", valueType, " has no fixed size");
        log::line(log::kAlways, "Invalid parameter type", valueType);
        detail::releaseSdo();
        return RESULT_REFUSED;
    }
    uint8_t status;
    {
        StackAccess lock;
        status = canopen::writeNetworkDictWithCallback(node, remoteNodeId, index, subIndex, size, kNoDataType, value,
                                                       detail::elementFinished, false);
    }
    return startResult(status, Direction::Download);
}

int Client::startDomainRead(uint16_t index, uint8_t subIndex, void* record, uint32_t size, DomainCallback callback,
                            int domainType) {
    if (int refusal = checkRequestStart(callback != nullptr, record != nullptr || size == 0)) return refusal;
    auto& info = libraryState().domainInfo;
    info.callback = callback;
    info.isRead = 1;
    info.nodeId = remoteNodeId;
    info.index = index;
    info.subIndex = subIndex;
    info.valueType = VALUE_TYPE_DOMAIN;
    info.data = record;
    info.size = size;
    info.domainType = domainType;
    uint8_t status;
    {
        StackAccess lock;
        status = canopen::readNetworkDictCallback(node, remoteNodeId, index, subIndex, kNoDataType,
                                                  detail::domainFinished, false);
    }
    return startResult(status, Direction::Upload);
}

int Client::startDomainWrite(uint16_t index, uint8_t subIndex, const void* record, uint32_t size,
                             DomainCallback callback, int domainType, bool useBlockMode) {
    if (int refusal = checkRequestStart(callback != nullptr, record != nullptr || size == 0)) return refusal;
    auto& info = libraryState().domainInfo;
    info.callback = callback;
    info.isRead = 0;
    info.nodeId = remoteNodeId;
    info.index = index;
    info.subIndex = subIndex;
    info.valueType = VALUE_TYPE_DOMAIN;
    info.data = const_cast<void*>(record);  // handed back to the caller's callback
    info.size = size;
    info.domainType = domainType;

    // The stack copies the bytes at the start, so the packed form lives only this long.
    uint8_t wire[kMaxDomainWireSize];
    const void* bytes = record;
    uint32_t count = size;
    DomainLayout layout;
    if (domainLayout(domainType, &layout)) {
        packDomain(domainType, static_cast<const uint8_t*>(record), wire);
        bytes = wire;
        count = layout.wireSize;
    }
    uint8_t status;
    {
        StackAccess lock;
        status = canopen::writeNetworkDictWithCallback(node, remoteNodeId, index, subIndex, count, kNoDataType, bytes,
                                                       detail::domainFinished, useBlockMode);
    }
    return startResult(status, Direction::Download);
}

template <typename T>
int Client::typedRead(uint16_t base, uint8_t subIndex, T* value, ElementCallback callback) {
    constexpr int type = TypeOf<T>::value;
    return startElementRead(type, objectOfType(base, type), subIndex, value, callback);
}

template <typename T>
int Client::typedWrite(uint16_t base, uint8_t subIndex, T* value, ElementCallback callback) {
    constexpr int type = TypeOf<T>::value;
    return startElementWrite(type, objectOfType(base, type), subIndex, value, callback);
}

int Client::readNumberOfType(uint16_t base, int valueType, unsigned char* count, ReadNrElementCallback callback) {
    if (!isElementType(valueType)) return refuseInvalidType(valueType);
    return startReadNumber(objectOfType(base, valueType), count, callback);
}

// Typed families.
#define COMMDIAG_TYPED_GROUP(Name, Kind, base)                                                              \
    int Client::Name(unsigned char sub, float* v, ElementCallback cb) { return Kind(base, sub, v, cb); }    \
    int Client::Name(unsigned char sub, int32_t* v, ElementCallback cb) { return Kind(base, sub, v, cb); }  \
    int Client::Name(unsigned char sub, int16_t* v, ElementCallback cb) { return Kind(base, sub, v, cb); }  \
    int Client::Name(unsigned char sub, int8_t* v, ElementCallback cb) { return Kind(base, sub, v, cb); }   \
    int Client::Name(unsigned char sub, uint32_t* v, ElementCallback cb) { return Kind(base, sub, v, cb); } \
    int Client::Name(unsigned char sub, uint16_t* v, ElementCallback cb) { return Kind(base, sub, v, cb); } \
    int Client::Name(unsigned char sub, uint8_t* v, ElementCallback cb) { return Kind(base, sub, v, cb); }

int Client::ReadNrOfInputs(int valueType, unsigned char* count, ReadNrElementCallback callback) {
    return readNumberOfType(kInputs, valueType, count, callback);
}
COMMDIAG_TYPED_GROUP(ReadInput, typedRead, kInputs)

int Client::ReadNrOfMeasurements(int valueType, unsigned char* count, ReadNrElementCallback callback) {
    return readNumberOfType(kMeasurements, valueType, count, callback);
}
COMMDIAG_TYPED_GROUP(ReadMeasurement, typedRead, kMeasurements)

int Client::ReadNrOfOutputs(int valueType, unsigned char* count, ReadNrElementCallback callback) {
    return readNumberOfType(kOutputs, valueType, count, callback);
}
COMMDIAG_TYPED_GROUP(ReadOutput, typedRead, kOutputs)
COMMDIAG_TYPED_GROUP(WriteOutput, typedWrite, kOutputs)

int Client::ReadNrOfMachineParameters(int valueType, unsigned char* count, ReadNrElementCallback callback) {
    return readNumberOfType(kMachineParameters, valueType, count, callback);
}
COMMDIAG_TYPED_GROUP(ReadMachineParameter, typedRead, kMachineParameters)
COMMDIAG_TYPED_GROUP(WriteMachineParameter, typedWrite, kMachineParameters)

int Client::ReadNrOfOpHoursCounters(int valueType, unsigned char* count, ReadNrElementCallback callback) {
    return readNumberOfType(kOpHoursCounters, valueType, count, callback);
}
COMMDIAG_TYPED_GROUP(ReadOpHoursCounter, typedRead, kOpHoursCounters)
COMMDIAG_TYPED_GROUP(WriteOpHoursCounter, typedWrite, kOpHoursCounters)

#undef COMMDIAG_TYPED_GROUP

// Fixed objects.
int Client::ReadMachineType(MachineTypeRecord* record, DomainCallback callback) {
    return startDomainRead(0x2000, 1, record, sizeof(MachineTypeRecord), callback, DOMAIN_MACHINE_TYPE);
}
int Client::ReadModuleMode(uint32_t* value, ElementCallback callback) {
    return startElementRead(VALUE_TYPE_U32, 0x2001, 1, value, callback);
}
int Client::ReadMachineMode(uint32_t* value, ElementCallback callback) {
    return startElementRead(VALUE_TYPE_U32, 0x5600, 1, value, callback);
}
int Client::WriteModuleMode(uint32_t* value, ElementCallback callback) {
    return startElementWrite(VALUE_TYPE_U32, 0x2001, 1, value, callback);
}
int Client::WriteMachineMode(uint32_t* value, ElementCallback callback) {
    return startElementWrite(VALUE_TYPE_U32, 0x5600, 1, value, callback);
}
int Client::ReadRevisionNumber(unsigned char* record3, DomainCallback callback) {
    return startDomainRead(0x1018, 3, record3, 3, callback, DOMAIN_REVISION_NUMBER);
}

int Client::ReadNrOfErrorBufferEntries(unsigned char* count, ReadNrElementCallback callback) {
    return startReadNumber(0x5300, count, callback);
}
int Client::ReadObject5301(uint32_t* value, ElementCallback callback) {
    return startElementRead(VALUE_TYPE_U32, 0x5301, 1, value, callback);
}
int Client::ReadErrorBufferEntry(unsigned char entry, ErrorBufferEntry* record, DomainCallback callback) {
    return startDomainRead(0x5300, entry, record, sizeof(ErrorBufferEntry), callback, DOMAIN_ERROR_BUFFER_ENTRY);
}
int Client::WriteErrorBufferEntry(unsigned char entry, ErrorBufferEntry* record, DomainCallback callback) {
    return startDomainWrite(0x5300, entry, record, sizeof(ErrorBufferEntry), callback, DOMAIN_ERROR_BUFFER_ENTRY);
}
int Client::ReadObject5400(unsigned char* record11, DomainCallback callback) {
    return startDomainRead(0x5400, 1, record11, 11, callback, DOMAIN_OBJECT5400);
}
int Client::WriteObject5400(unsigned char* record11, DomainCallback callback) {
    return startDomainWrite(0x5400, 1, record11, 11, callback, DOMAIN_OBJECT5400);
}
int Client::ReadSNNumber(unsigned char* record13, DomainCallback callback) {
    return startDomainRead(0x5404, 1, record13, 13, callback, DOMAIN_SERIAL_NUMBER);
}
int Client::WriteSNNumber(unsigned char* record13, DomainCallback callback) {
    return startDomainWrite(0x5404, 1, record13, 13, callback, DOMAIN_SERIAL_NUMBER);
}
int Client::ReadNrOfObject5403(unsigned char* count, ReadNrElementCallback callback) {
    return startReadNumber(0x5403, count, callback);
}
int Client::ReadObject5403(unsigned char subIndex, Object5403Record* record, DomainCallback callback) {
    return startDomainRead(0x5403, subIndex, record, sizeof(Object5403Record), callback, DOMAIN_OBJECT5403);
}
int Client::WriteObject5403(unsigned char subIndex, Object5403Record* record, DomainCallback callback) {
    return startDomainWrite(0x5403, subIndex, record, sizeof(Object5403Record), callback, DOMAIN_OBJECT5403);
}
int Client::ReadObject5402(unsigned char* record3, DomainCallback callback) {
    return startDomainRead(0x5402, 1, record3, 3, callback, DOMAIN_OBJECT5402);
}
int Client::WriteObject5402(unsigned char* record3, DomainCallback callback) {
    return startDomainWrite(0x5402, 1, record3, 3, callback, DOMAIN_OBJECT5402);
}
int Client::ReadSwVersion(unsigned char* record3, DomainCallback callback) {
    return startDomainRead(0x5401, 1, record3, 3, callback, DOMAIN_SW_VERSION);
}
int Client::WriteSwVersion(unsigned char* record3, DomainCallback callback) {
    return startDomainWrite(0x5401, 1, record3, 3, callback, DOMAIN_SW_VERSION);
}
int Client::ReadMaterialNumber(unsigned char* record13, DomainCallback callback) {
    return startDomainRead(0x5405, 1, record13, 13, callback, DOMAIN_MATERIAL_NUMBER);
}
int Client::WriteMaterialNumber(unsigned char* record13, DomainCallback callback) {
    return startDomainWrite(0x5405, 1, record13, 13, callback, DOMAIN_MATERIAL_NUMBER);
}
int Client::ReadObject5410(Object5410Record* record, DomainCallback callback) {
    return startDomainRead(0x5410, 1, record, sizeof(Object5410Record), callback, DOMAIN_OBJECT5410);
}
int Client::WriteObject5410(Object5410Record* record, DomainCallback callback) {
    return startDomainWrite(0x5410, 1, record, sizeof(Object5410Record), callback, DOMAIN_OBJECT5410);
}

int Client::WriteBlockControl(BlockControlRecord* record, DomainCallback callback) {
    return startDomainWrite(0x5407, 1, record, sizeof(BlockControlRecord), callback, DOMAIN_BLOCK_CONTROL);
}
int Client::WriteBlockData(const unsigned char* data, uint32_t size, DomainCallback callback) {
    return startDomainWrite(0x5408, 1, data, size, callback, DOMAIN_RAW);
}
int Client::WriteProgramData(const unsigned char* data, uint32_t size, DomainCallback callback) {
    return startDomainWrite(0x1F50, 1, data, size, callback, DOMAIN_RAW, true);
}
int Client::WriteFirmwareUpdateControl(unsigned char subIndex, uint8_t* value, ElementCallback callback) {
    return startElementWrite(VALUE_TYPE_U8, 0x5406, subIndex, value, callback);
}
int Client::ReadFlashStatus(unsigned char subIndex, uint32_t* value, ElementCallback callback) {
    return startElementRead(VALUE_TYPE_U32, 0x1F57, subIndex, value, callback);
}
int Client::WriteProgramControl(unsigned char subIndex, uint8_t* value, ElementCallback callback) {
    return startElementWrite(VALUE_TYPE_U8, 0x1F51, subIndex, value, callback);
}

}  // namespace CommDiag
