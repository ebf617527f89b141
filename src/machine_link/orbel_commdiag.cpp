#include "machine_link/orbel_commdiag.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "commdiag/commdiag_factory.h"
#include "commdiag/iclient.h"
#include "common/orbel_trace.h"
#include "machine/value_type.h"
#include "machine_link/orbel_callbacks.h"
#include "machine_link/orbel_reconnect.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_conv/orbel_machine.h"
#include "parameters/object_map.h"
#include "platform/module_path.h"

namespace {

// The converter is node 1, the machine node 10; the adapter runs the bus at 500 kbit/s.
constexpr unsigned char kLocalNodeId = 1;
constexpr unsigned char kMachineNodeId = 10;
constexpr unsigned char kTcuNodeId = 2;
constexpr unsigned char kSmNodeId = 1;
constexpr int kConnectionTimeoutMs = 10000;
const char* const kBaudRate = "500K";

constexpr int32_t kRefused = 1;

// Requests copy their argument here and the callbacks read the answer from here. One client
// request runs at a time (the client refuses a second), which is what makes sharing it sound.
struct TransferArea {
    uint8_t u8;
    uint16_t u16;
    uint32_t u32;
    int8_t i8;
    int16_t i16;
    int32_t i32;
    float f32;
    unsigned char swVersion[3];
    unsigned char serialNumber[13];
    unsigned char materialNumber[13];
    CommDiag::MachineTypeRecord machineType;
    CommDiag::ErrorBufferEntry errorBufferEntry;
    uint32_t machineMode;
    uint32_t moduleMode;
};
TransferArea transfer;

std::atomic<ORBEL_CommDiag*> instancePointer{nullptr};
std::atomic<CommDiag::IClient*> testClient{nullptr};
// Creation and destruction of the client (host threads only).
std::mutex lifecycleMutex;

struct Statics {
    CommDiag::CommDiagFactory factory;
    std::string driverPath = ORBEL_CommDiag::driverPath();
};

Statics& statics() {
    static Statics s;
    return s;
}

CommDiag::IClient* activeClient() { return ORBEL_CommDiag::currentClient(); }

bool validType(int32_t valueType, int32_t highest) { return valueType >= VALUE_TYPE_U8 && valueType <= highest; }

int32_t invalidType(const char* name, int32_t valueType) {
    ORBEL_Trace("%s(): invalid type %d\n", name, static_cast<int>(valueType));
    return kRefused;
}

// Calls one typed operation of the client (a member-function-pointer family) with the transfer
// variable of the type.
template <typename Op>
int32_t typedCall(int32_t valueType, unsigned char subIndex, CommDiag::ElementCallback callback, Op op) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    switch (valueType) {
        case VALUE_TYPE_U8: return op(c, subIndex, &transfer.u8, callback);
        case VALUE_TYPE_U16: return op(c, subIndex, &transfer.u16, callback);
        case VALUE_TYPE_U32: return op(c, subIndex, &transfer.u32, callback);
        case VALUE_TYPE_I8: return op(c, subIndex, &transfer.i8, callback);
        case VALUE_TYPE_I16: return op(c, subIndex, &transfer.i16, callback);
        case VALUE_TYPE_I32: return op(c, subIndex, &transfer.i32, callback);
        default: return op(c, subIndex, &transfer.f32, callback);
    }
}

// Stores a value to be written into the transfer variable of its type, cut to its width.
void storeTransferValue(const char* name, int32_t valueType, uint32_t value) {
    switch (valueType) {
        case VALUE_TYPE_U8:
            transfer.u8 = static_cast<uint8_t>(value);
            ORBEL_Trace("%s(): value: %d\n", name, transfer.u8);
            break;
        case VALUE_TYPE_U16:
            transfer.u16 = static_cast<uint16_t>(value);
            ORBEL_Trace("%s(): value: %d\n", name, transfer.u16);
            break;
        case VALUE_TYPE_U32:
            transfer.u32 = value;
            ORBEL_Trace("%s(): value: %d\n", name, static_cast<int>(transfer.u32));
            break;
        case VALUE_TYPE_I8:
            transfer.i8 = static_cast<int8_t>(value);
            ORBEL_Trace("%s(): value: %d\n", name, transfer.i8);
            break;
        case VALUE_TYPE_I16:
            transfer.i16 = static_cast<int16_t>(value);
            ORBEL_Trace("%s(): value: %d\n", name, transfer.i16);
            break;
        default:
            transfer.i32 = static_cast<int32_t>(value);
            ORBEL_Trace("%s(): value: %d\n", name, static_cast<int>(transfer.i32));
            break;
    }
}

#define ORBEL_TYPED_OP(method)                                                               \
    [](CommDiag::IClient* c, unsigned char sub, auto* value, CommDiag::ElementCallback cb) { \
        return c->method(sub, value, cb);                                                    \
    }

}  // namespace

std::string ORBEL_CommDiag::driverPath() {
#if defined(_WIN32)
    return "C:\\Dravenik\\QUILLON\\can_dll\\serican.dll";
#else
    if (const char* configured = std::getenv("ORBEL_CAN_DRIVER")) {
        if (*configured != '\0') return configured;
    }
    static const int anchor = 0;
    return platform::directoryOf(platform::modulePathOf(&anchor)) + "/libserican.so";
#endif
}

ORBEL_CommDiag* ORBEL_CommDiag::instance() {
    const char* const name = "ORBEL_CommDiag::instance";
    if (CommDiag::IClient* test = testClient.load()) {
        static ORBEL_CommDiag testLink;
        testLink.client.store(test);
        return &testLink;
    }
    if (ORBEL_CommDiag* existing = instancePointer.load()) return existing;
    std::lock_guard<std::mutex> lock(lifecycleMutex);
    if (ORBEL_CommDiag* existing = instancePointer.load()) return existing;
    Statics& s = statics();
    char busName[10];
    std::snprintf(busName, sizeof busName, "%d", static_cast<int>(ORBEL_GetComPortNumber()));

    static ORBEL_CommDiag link;
    link.factory = &s.factory;
    CommDiag::IClient* created = s.factory.CreateSMClient(std::string(busName), std::string(kBaudRate), s.driverPath,
                                                          kLocalNodeId, kMachineNodeId);
    link.client.store(created, std::memory_order_release);
    instancePointer.store(&link);
    if (created != nullptr && created->Init()) {
        const CommDiag::Version version = created->GetVersion();
        ORBEL_Trace("%s(): CommDiag revision %d.%02d.%d loaded\n", name, version.major, version.minorPatch >> 8,
                    version.minorPatch & 0xFF);
    } else {
        ORBEL_Trace("%s(): unable to initialize the CommDiag client!\n", name);
    }
    return &link;
}

void ORBEL_CommDiag::DestroyInstance() {
    // A reconnection still waiting would use the client that goes now.
    ORBEL_CancelReconnect();
    if (testClient.load() != nullptr) return;  // a test's client belongs to the test
    std::lock_guard<std::mutex> lock(lifecycleMutex);
    // Without an instance there is no client to destroy; creating one here would only open the
    // port to close it again.
    ORBEL_CommDiag* link = instancePointer.load();
    if (link == nullptr) return;
    // Stack threads see no client from here on, so their follow-up requests are refused.
    link->client.store(nullptr, std::memory_order_release);
    link->factory->DestroyClient();
    instancePointer.store(nullptr);
}

CommDiag::IClient* ORBEL_CommDiag::currentClient() {
    if (CommDiag::IClient* test = testClient.load()) return test;
    ORBEL_CommDiag* link = instancePointer.load();
    return link != nullptr ? link->getClient() : nullptr;
}

void ORBEL_CommDiag::setClientForTesting(CommDiag::IClient* client) { testClient.store(client); }

int32_t ORBEL_CommDiag::StartConnection() {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->StartConnection(kTcuNodeId, kSmNodeId, kConnectionTimeoutMs, StartConnection_callback);
}

int32_t ORBEL_CommDiag::CloseConnection() {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->CloseConnection(CloseConnection_callback);
}

int32_t ORBEL_CommDiag::StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize,
                                           const uint32_t* localAddress) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    if (localAddress != nullptr)
        return c->StartBlockTransfer(path, blockId, packetSize, BlockDownload_callback, *localAddress);
    return c->StartBlockTransfer(path, blockId, packetSize, BlockDownload_callback);
}

int32_t ORBEL_CommDiag::GetBlockTransferProgress(uint8_t* percent) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->GetBlockTransferProgress(percent);
}

int32_t ORBEL_CommDiag::StartFirmwareUpdate(const char* path) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->StartFirmwareUpdate(path, FirmwareDownload_callback);
}

int32_t ORBEL_CommDiag::GetFirmwareUpdateProgress(uint8_t* percent) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->GetFirmwareUpdateProgress(percent);
}

int32_t ORBEL_CommDiag::ReadMachineType() {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->ReadMachineType(&transfer.machineType, ReadMachineType_callback);
}

int32_t ORBEL_CommDiag::ReadSwVersion() {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->ReadSwVersion(transfer.swVersion, SwVersion_callback);
}

int32_t ORBEL_CommDiag::ReadSNNumber() {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->ReadSNNumber(transfer.serialNumber, SerialNumberMachine_callback);
}

int32_t ORBEL_CommDiag::WriteSNNumber(const uint8_t* serialNumber) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    std::memcpy(transfer.serialNumber, serialNumber, sizeof transfer.serialNumber);
    return c->WriteSNNumber(transfer.serialNumber, WriteSerialNumberMachine_callback);
}

int32_t ORBEL_CommDiag::ReadMaterialNumber() {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->ReadMaterialNumber(transfer.materialNumber, MaterialNumberMachine_callback);
}

int32_t ORBEL_CommDiag::WriteMaterialNumber(const uint8_t* materialNumber) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    std::memcpy(transfer.materialNumber, materialNumber, sizeof transfer.materialNumber);
    return c->WriteMaterialNumber(transfer.materialNumber, WriteMaterialNumberMachine_callback);
}

int32_t ORBEL_CommDiag::ReadMachineMode() {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    if (ORBEL_Conv::getInstance()->isModuleModeObjectUsed())
        return c->ReadModuleMode(&transfer.moduleMode, ReadMachineMode_callback);
    return c->ReadMachineMode(&transfer.machineMode, ReadMachineMode_callback);
}

// The callback is handed the pointer given here: it must outlive the request.
int32_t ORBEL_CommDiag::WriteMachineMode(uint32_t smValue) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    transfer.machineMode = smValue;
    return c->WriteMachineMode(&transfer.machineMode, WriteMachineMode_callback);
}

int32_t ORBEL_CommDiag::WriteModuleMode(uint32_t moduleModeValue) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    transfer.moduleMode = moduleModeValue;
    return c->WriteModuleMode(&transfer.moduleMode, WriteMachineMode_callback);
}

int32_t ORBEL_CommDiag::ReadInput(int32_t valueType, uint8_t subIndex) {
    if (!validType(valueType, VALUE_TYPE_I32)) return invalidType("ORBEL_CommDiag::ReadInput", valueType);
    return typedCall(valueType, subIndex, ReadInput_callback, ORBEL_TYPED_OP(ReadInput));
}

int32_t ORBEL_CommDiag::ReadMeasurement(int32_t valueType, uint8_t subIndex) {
    const char* const name = "ORBEL_CommDiag::ReadMeasurement";
    ORBEL_Trace("%s(): start reading measurement type: %d subIndex: %02x\n", name, static_cast<int>(valueType),
                subIndex);
    if (!validType(valueType, VALUE_TYPE_FLOAT)) return invalidType(name, valueType);
    return typedCall(valueType, subIndex, ReadMeasurement_callback, ORBEL_TYPED_OP(ReadMeasurement));
}

int32_t ORBEL_CommDiag::ReadMachineParameter(int32_t valueType, uint8_t subIndex) {
    if (!validType(valueType, VALUE_TYPE_I32)) return invalidType("ORBEL_CommDiag::ReadMachineParameter", valueType);
    return typedCall(valueType, subIndex, ReadMachineParameter_callback, ORBEL_TYPED_OP(ReadMachineParameter));
}

int32_t ORBEL_CommDiag::WriteMachineParameter(int32_t valueType, uint8_t subIndex, uint32_t value) {
    const char* const name = "ORBEL_CommDiag::WriteMachineParameter";
    if (!validType(valueType, VALUE_TYPE_I32)) return invalidType(name, valueType);
    storeTransferValue(name, valueType, value);
    return typedCall(valueType, subIndex, WriteMachineParameter_callback, ORBEL_TYPED_OP(WriteMachineParameter));
}

int32_t ORBEL_CommDiag::ReadOpHoursCounter(int32_t valueType, uint8_t subIndex) {
    if (!validType(valueType, VALUE_TYPE_I32)) return invalidType("ORBEL_CommDiag::ReadOpHoursCounter", valueType);
    return typedCall(valueType, subIndex, ReadMachineParameter_callback, ORBEL_TYPED_OP(ReadOpHoursCounter));
}

int32_t ORBEL_CommDiag::WriteOpHoursCounter(int32_t valueType, uint8_t subIndex, uint32_t value) {
    const char* const name = "ORBEL_CommDiag::WriteOpHoursCounter";
    // Counters are unsigned: only the three unsigned types are written.
    if (!validType(valueType, VALUE_TYPE_U32)) return invalidType(name, valueType);
    storeTransferValue(name, valueType, value);
    return typedCall(valueType, subIndex, WriteMachineParameter_callback, ORBEL_TYPED_OP(WriteOpHoursCounter));
}

int32_t ORBEL_CommDiag::WriteOutput(uint8_t outputNumber, uint8_t value) {
    ORBEL_Trace("%s(): start writing output (u08) %02x value 0x%02x\n", "ORBEL_CommDiag::WriteOutput", outputNumber,
                value);
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    transfer.u8 = value;
    return c->WriteOutput(outputNumber, &transfer.u8, WriteOutput_callback);
}

int32_t ORBEL_CommDiag::CallStackFnBasedOnObjId(int32_t valueType, int32_t objectIndex, uint8_t subIndex) {
    const char* const name = "ORBEL_CommDiag::CallStackFnBasedOnObjId";
    int32_t result = kRefused;
    if (objectIndex == 0x5100 || objectIndex == 0x5101 || objectIndex == 0x5103)
        result = ReadInput(valueType, subIndex);
    else if (objectIndex >= 0x5200 && objectIndex <= 0x5206)
        result = ReadMeasurement(valueType, subIndex);
    else
        ORBEL_Trace("%s(): unsopported object ID 0x%04x\n", name, static_cast<unsigned>(objectIndex));
    if (result == 0)
        ORBEL_Trace("%s(): request is running 0x%04x 0x%02x\n", name, static_cast<unsigned>(objectIndex), subIndex);
    else
        ORBEL_Trace("%s(): unable to start request %d (0x%04x 0x%02x type: 0x%02x)\n", name, static_cast<int>(result),
                    static_cast<unsigned>(objectIndex), subIndex, static_cast<unsigned>(valueType));
    return result;
}

int32_t ORBEL_CommDiag::CanObjIdToType(int32_t objectIndex) {
    return objectIndex < 0 ? 0 : ::CanObjIdToType(static_cast<uint32_t>(objectIndex));
}

int32_t ORBEL_CommDiag::ReadErrorBufferEntry(uint8_t entryNumber) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    return c->ReadErrorBufferEntry(entryNumber, &transfer.errorBufferEntry, ErrorBufferEntry_callback);
}

int32_t ORBEL_CommDiag::WriteErrorBufferEntry(uint8_t entryNumber, const CommDiag::ErrorBufferEntry* entry) {
    CommDiag::IClient* c = activeClient();
    if (c == nullptr) return CommDiag::RESULT_NOT_READY;
    CommDiag::ErrorBufferEntry& record = transfer.errorBufferEntry;
    if (entry != nullptr) {
        // The whole record, the flag byte's five upper bits included: the converter's entries
        // are what it means to write (a cleared entry is zero in every field).
        record = *entry;
    } else {
        record.dataA = record.timeMinutes = record.dataC = record.dataD = 0;
        record.id = 0;
        record.counter = 0;
        record.info.state = 0;
        record.info.flag = 0;
        ORBEL_Trace("%s(): invalid usage of WriteErrorBufferEntry()!\n", "ORBEL_CommDiag::WriteErrorBufferEntry");
    }
    return c->WriteErrorBufferEntry(entryNumber, &record, WriteErrorBufferEntry_callback);
}

const uint8_t* ORBEL_CommDiag::transferSwVersion() { return transfer.swVersion; }
const uint8_t* ORBEL_CommDiag::transferSerialNumber() { return transfer.serialNumber; }
MachineTypeRecord ORBEL_CommDiag::transferMachineType() {
    return {static_cast<int32_t>(transfer.machineType.machineType),
            static_cast<int32_t>(transfer.machineType.machineNumber),
            static_cast<int32_t>(transfer.machineType.machineVariant)};
}
