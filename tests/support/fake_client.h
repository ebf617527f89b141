#pragma once
// A client that starts nothing: it records every request made of it and answers with a chosen
// start result, so tests of the machine link can check what was asked and complete requests by
// calling the recorded callbacks themselves.
#include <cstdint>
#include <string>
#include <vector>

#include "commdiag/iclient.h"

namespace orbeltest {

// How the fake client names the pointer types it records, by type.
template <typename T>
constexpr const char* kRecordedTypeName = nullptr;
// clang-format off
template <> constexpr const char* kRecordedTypeName<float*> = "float*";
template <> constexpr const char* kRecordedTypeName<int32_t*> = "int32_t*";
template <> constexpr const char* kRecordedTypeName<uint32_t*> = "uint32_t*";
template <> constexpr const char* kRecordedTypeName<int16_t*> = "int16_t*";
template <> constexpr const char* kRecordedTypeName<uint16_t*> = "uint16_t*";
template <> constexpr const char* kRecordedTypeName<int8_t*> = "int8_t*";
template <> constexpr const char* kRecordedTypeName<unsigned char*> = "unsigned char*";
template <> constexpr const char* kRecordedTypeName<const unsigned char*> = "const unsigned char*";
template <> constexpr const char* kRecordedTypeName<CommDiag::MachineTypeRecord*> = "MachineTypeRecord*";
template <> constexpr const char* kRecordedTypeName<CommDiag::ErrorBufferEntry*> = "ErrorBufferEntry*";
template <> constexpr const char* kRecordedTypeName<CommDiag::Object5403Record*> = "Object5403Record*";
template <> constexpr const char* kRecordedTypeName<CommDiag::Object5410Record*> = "Object5410Record*";
template <> constexpr const char* kRecordedTypeName<CommDiag::BlockControlRecord*> = "BlockControlRecord*";
// clang-format on

class FakeClient : public CommDiag::IClient {
public:
    using ConnectionCallback = CommDiag::ConnectionCallback;
    using ElementCallback = CommDiag::ElementCallback;
    using DomainCallback = CommDiag::DomainCallback;
    using ReadNrElementCallback = CommDiag::ReadNrElementCallback;
    using FirmwareUpdateCallback = CommDiag::FirmwareUpdateCallback;
    using BlockTransferCallback = CommDiag::BlockTransferCallback;
    using MachineTypeRecord = CommDiag::MachineTypeRecord;
    using ErrorBufferEntry = CommDiag::ErrorBufferEntry;
    using Object5403Record = CommDiag::Object5403Record;
    using Object5410Record = CommDiag::Object5410Record;
    using BlockControlRecord = CommDiag::BlockControlRecord;
    using Version = CommDiag::Version;

    // A block transfer's numbers share one type, so they are recorded together.
    struct BlockArgs {
        uint32_t blockId = 0;
        uint32_t packetSize = 0;
        long long localAddress = -1;  // -1: none given
    };
    struct Call : BlockArgs {
        std::string op;
        int subIndex = -1;
        int valueType = 0;
        void* data = nullptr;
        std::string dataType;
        ConnectionCallback connection = nullptr;
        ElementCallback element = nullptr;
        DomainCallback domain = nullptr;
        ReadNrElementCallback readNr = nullptr;
        std::string path;
        BlockTransferCallback block = nullptr;
        FirmwareUpdateCallback firmware = nullptr;
    };
    int progressState = 0;
    unsigned char progressPercent = 0;

    std::vector<Call> calls;
    int nextResult = 0;
    bool initResult = true;

    const Call& last() const { return calls.back(); }

private:
    // The one recording template: each override passes the arguments it records, and their
    // types say where each goes. A pointer type without a name above fails to compile.
    static void take(Call& call, unsigned char subIndex) { call.subIndex = subIndex; }
    static void take(Call& call, int valueType) { call.valueType = valueType; }
    static void take(Call& call, ConnectionCallback callback) { call.connection = callback; }
    static void take(Call& call, ElementCallback callback) { call.element = callback; }
    static void take(Call& call, DomainCallback callback) { call.domain = callback; }
    static void take(Call& call, ReadNrElementCallback callback) { call.readNr = callback; }
    static void take(Call& call, BlockTransferCallback callback) { call.block = callback; }
    static void take(Call& call, FirmwareUpdateCallback callback) { call.firmware = callback; }
    static void take(Call& call, const char* path) { call.path = path; }
    static void take(Call& call, const BlockArgs& block) { static_cast<BlockArgs&>(call) = block; }
    template <typename T>
    static void take(Call& call, T* data) {
        static_assert(kRecordedTypeName<T*> != nullptr, "name the recorded pointer type");
        call.data = const_cast<void*>(static_cast<const void*>(data));
        call.dataType = kRecordedTypeName<T*>;
    }

    template <typename... Args>
    int track(const char* op, Args... args) {
        Call call;
        call.op = op;
        (take(call, args), ...);
        calls.push_back(call);
        return nextResult;
    }

public:
    // clang-format off
// The element operations that come in one overload per value type.
#define ORBEL_FAKE_ELEMENT(op, type) int op(unsigned char subIndex, type* value, ElementCallback callback) override { return track(#op, subIndex, value, callback); }
#define ORBEL_FAKE_ALL_TYPES(op) ORBEL_FAKE_ELEMENT(op, float) ORBEL_FAKE_ELEMENT(op, int32_t) ORBEL_FAKE_ELEMENT(op, int16_t) ORBEL_FAKE_ELEMENT(op, int8_t) ORBEL_FAKE_ELEMENT(op, uint32_t) ORBEL_FAKE_ELEMENT(op, uint16_t) ORBEL_FAKE_ELEMENT(op, uint8_t)
    bool Init() override { track("Init"); return initResult; }
    void SetLogLevel(int) override { track("SetLogLevel"); }
    int StartConnection(unsigned char, unsigned char, int, ConnectionCallback callback) override { return track("StartConnection", callback); }
    int CloseConnection(ConnectionCallback callback) override { return track("CloseConnection", callback); }
    unsigned char GetNodeId() override { track("GetNodeId"); return 10; }
    int GetNodeState(unsigned char nodeId, bool) override { return track("GetNodeState", nodeId); }
    int ReadMachineType(MachineTypeRecord* record, DomainCallback callback) override { return track("ReadMachineType", record, callback); }
    int ReadModuleMode(uint32_t* value, ElementCallback callback) override { return track("ReadModuleMode", value, callback); }
    int ReadMachineMode(uint32_t* value, ElementCallback callback) override { return track("ReadMachineMode", value, callback); }
    int WriteModuleMode(uint32_t* value, ElementCallback callback) override { return track("WriteModuleMode", value, callback); }
    int WriteMachineMode(uint32_t* value, ElementCallback callback) override { return track("WriteMachineMode", value, callback); }
    int ReadRevisionNumber(unsigned char* record3, DomainCallback callback) override { return track("ReadRevisionNumber", record3, callback); }
    int ReadNrOfInputs(int valueType, unsigned char* count, ReadNrElementCallback callback) override { return track("ReadNrOfInputs", valueType, count, callback); }
    ORBEL_FAKE_ALL_TYPES(ReadInput)
    int ReadNrOfMeasurements(int valueType, unsigned char* count, ReadNrElementCallback callback) override { return track("ReadNrOfMeasurements", valueType, count, callback); }
    ORBEL_FAKE_ALL_TYPES(ReadMeasurement)
    int ReadNrOfOutputs(int valueType, unsigned char* count, ReadNrElementCallback callback) override { return track("ReadNrOfOutputs", valueType, count, callback); }
    ORBEL_FAKE_ALL_TYPES(ReadOutput)
    ORBEL_FAKE_ALL_TYPES(WriteOutput)
    int ReadNrOfMachineParameters(int valueType, unsigned char* count, ReadNrElementCallback callback) override { return track("ReadNrOfMachineParameters", valueType, count, callback); }
    ORBEL_FAKE_ALL_TYPES(ReadMachineParameter)
    ORBEL_FAKE_ALL_TYPES(WriteMachineParameter)
    int ReadNrOfOpHoursCounters(int valueType, unsigned char* count, ReadNrElementCallback callback) override { return track("ReadNrOfOpHoursCounters", valueType, count, callback); }
    ORBEL_FAKE_ALL_TYPES(ReadOpHoursCounter)
    ORBEL_FAKE_ALL_TYPES(WriteOpHoursCounter)
    int ReadNrOfErrorBufferEntries(unsigned char* count, ReadNrElementCallback callback) override { return track("ReadNrOfErrorBufferEntries", count, callback); }
    int ReadObject5301(uint32_t* value, ElementCallback callback) override { return track("ReadObject5301", value, callback); }
    int ReadErrorBufferEntry(unsigned char entry, ErrorBufferEntry* record, DomainCallback callback) override { return track("ReadErrorBufferEntry", entry, record, callback); }
    int WriteErrorBufferEntry(unsigned char entry, ErrorBufferEntry* record, DomainCallback callback) override { return track("WriteErrorBufferEntry", entry, record, callback); }
    int ReadObject5400(unsigned char* record11, DomainCallback callback) override { return track("ReadObject5400", record11, callback); }
    int WriteObject5400(unsigned char* record11, DomainCallback callback) override { return track("WriteObject5400", record11, callback); }
    int ReadSNNumber(unsigned char* record13, DomainCallback callback) override { return track("ReadSNNumber", record13, callback); }
    int WriteSNNumber(unsigned char* record13, DomainCallback callback) override { return track("WriteSNNumber", record13, callback); }
    int ReadNrOfObject5403(unsigned char* count, ReadNrElementCallback callback) override { return track("ReadNrOfObject5403", count, callback); }
    int ReadObject5403(unsigned char subIndex, Object5403Record* record, DomainCallback callback) override { return track("ReadObject5403", subIndex, record, callback); }
    int WriteObject5403(unsigned char subIndex, Object5403Record* record, DomainCallback callback) override { return track("WriteObject5403", subIndex, record, callback); }
    int ReadObject5402(unsigned char* record3, DomainCallback callback) override { return track("ReadObject5402", record3, callback); }
    int WriteObject5402(unsigned char* record3, DomainCallback callback) override { return track("WriteObject5402", record3, callback); }
    int ReadSwVersion(unsigned char* record3, DomainCallback callback) override { return track("ReadSwVersion", record3, callback); }
    int WriteSwVersion(unsigned char* record3, DomainCallback callback) override { return track("WriteSwVersion", record3, callback); }
    int ReadMaterialNumber(unsigned char* record13, DomainCallback callback) override { return track("ReadMaterialNumber", record13, callback); }
    int WriteMaterialNumber(unsigned char* record13, DomainCallback callback) override { return track("WriteMaterialNumber", record13, callback); }
    int ReadObject5410(Object5410Record* record, DomainCallback callback) override { return track("ReadObject5410", record, callback); }
    int WriteObject5410(Object5410Record* record, DomainCallback callback) override { return track("WriteObject5410", record, callback); }
    int StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize, BlockTransferCallback callback, uint32_t localAddress) override { return track("StartBlockTransfer", path, BlockArgs{blockId, packetSize, localAddress}, callback); }
    int StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize, BlockTransferCallback callback) override { return track("StartBlockTransfer", path, BlockArgs{blockId, packetSize}, callback); }
    int GetBlockTransferProgress(unsigned char* percent) override { track("GetBlockTransferProgress"); *percent = progressPercent; return progressState; }
    int StartFirmwareUpdate(const char* path, FirmwareUpdateCallback callback) override { return track("StartFirmwareUpdate", path, callback); }
    int GetFirmwareUpdateProgress(unsigned char* percent) override { track("GetFirmwareUpdateProgress"); *percent = progressPercent; return progressState; }
    Version GetVersion() override { track("GetVersion"); return Version{0x0301, 1}; }
    int WriteBlockControl(BlockControlRecord* record, DomainCallback callback) override { return track("WriteBlockControl", record, callback); }
    int WriteBlockData(const unsigned char* data, uint32_t, DomainCallback callback) override { return track("WriteBlockData", data, callback); }
    int WriteProgramData(const unsigned char* data, uint32_t, DomainCallback callback) override { return track("WriteProgramData", data, callback); }
    int WriteFirmwareUpdateControl(unsigned char subIndex, uint8_t* value, ElementCallback callback) override { return track("WriteFirmwareUpdateControl", subIndex, value, callback); }
    int ReadFlashStatus(unsigned char subIndex, uint32_t* value, ElementCallback callback) override { return track("ReadFlashStatus", subIndex, value, callback); }
    int WriteProgramControl(unsigned char subIndex, uint8_t* value, ElementCallback callback) override { return track("WriteProgramControl", subIndex, value, callback); }
    uint32_t GetRemainingTransferBytes(unsigned char) override { track("GetRemainingTransferBytes"); return 0; }
#undef ORBEL_FAKE_ALL_TYPES
#undef ORBEL_FAKE_ELEMENT
    // clang-format on
};

}  // namespace orbeltest
