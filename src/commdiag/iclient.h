#pragma once
// The client interface: one CANopen diagnostic client for one machine node. Operations are
// declared in the order of the exported interface layout. Every request returns at once: 0
// when it was started and its callback will come, otherwise a Result and no callback. The
// caller's value or record must stay valid until the callback has run.
#include "types.h"

#include <cstdint>

namespace CommDiag {

class COMMDIAG_API IClient {
public:
    // 0
    virtual ~IClient();
    // 1: loads the driver, opens the CAN interface, starts the stack's timer.
    virtual bool Init() = 0;
    // 2: library-wide; outlives the client.
    virtual void SetLogLevel(int level) = 0;
    // 3, 4
    virtual int StartConnection(unsigned char tcuNodeId, unsigned char smNodeId, int timeoutMs,
                                ConnectionCallback callback) = 0;
    virtual int CloseConnection(ConnectionCallback callback) = 0;
    // 5: the machine's node id.
    virtual unsigned char GetNodeId() = 0;
    // 6: 0..5 and 127 as they are, every other state as 15.
    virtual int GetNodeState(unsigned char nodeId, bool refresh) = 0;
    // 7-12
    virtual int ReadMachineType(MachineTypeRecord* record, DomainCallback callback) = 0;
    virtual int ReadModuleMode(uint32_t* value, ElementCallback callback) = 0;
    virtual int ReadMachineMode(uint32_t* value, ElementCallback callback) = 0;
    virtual int WriteModuleMode(uint32_t* value, ElementCallback callback) = 0;
    virtual int WriteMachineMode(uint32_t* value, ElementCallback callback) = 0;
    virtual int ReadRevisionNumber(unsigned char* record3, DomainCallback callback) = 0;
    // 13-73: typed families. The object is the area's base plus (valueType - 1); each group
    // runs from the float overload (type 7) down to the unsigned 8-bit one (type 1).
    // 13
    virtual int ReadNrOfInputs(int valueType, unsigned char* count, ReadNrElementCallback callback) = 0;
    // 14-20
    virtual int ReadInput(unsigned char subIndex, float* value, ElementCallback callback) = 0;
    virtual int ReadInput(unsigned char subIndex, int32_t* value, ElementCallback callback) = 0;
    virtual int ReadInput(unsigned char subIndex, int16_t* value, ElementCallback callback) = 0;
    virtual int ReadInput(unsigned char subIndex, int8_t* value, ElementCallback callback) = 0;
    virtual int ReadInput(unsigned char subIndex, uint32_t* value, ElementCallback callback) = 0;
    virtual int ReadInput(unsigned char subIndex, uint16_t* value, ElementCallback callback) = 0;
    virtual int ReadInput(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    // 21
    virtual int ReadNrOfMeasurements(int valueType, unsigned char* count, ReadNrElementCallback callback) = 0;
    // 22-28
    virtual int ReadMeasurement(unsigned char subIndex, float* value, ElementCallback callback) = 0;
    virtual int ReadMeasurement(unsigned char subIndex, int32_t* value, ElementCallback callback) = 0;
    virtual int ReadMeasurement(unsigned char subIndex, int16_t* value, ElementCallback callback) = 0;
    virtual int ReadMeasurement(unsigned char subIndex, int8_t* value, ElementCallback callback) = 0;
    virtual int ReadMeasurement(unsigned char subIndex, uint32_t* value, ElementCallback callback) = 0;
    virtual int ReadMeasurement(unsigned char subIndex, uint16_t* value, ElementCallback callback) = 0;
    virtual int ReadMeasurement(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    // 29
    virtual int ReadNrOfOutputs(int valueType, unsigned char* count, ReadNrElementCallback callback) = 0;
    // 30-36
    virtual int ReadOutput(unsigned char subIndex, float* value, ElementCallback callback) = 0;
    virtual int ReadOutput(unsigned char subIndex, int32_t* value, ElementCallback callback) = 0;
    virtual int ReadOutput(unsigned char subIndex, int16_t* value, ElementCallback callback) = 0;
    virtual int ReadOutput(unsigned char subIndex, int8_t* value, ElementCallback callback) = 0;
    virtual int ReadOutput(unsigned char subIndex, uint32_t* value, ElementCallback callback) = 0;
    virtual int ReadOutput(unsigned char subIndex, uint16_t* value, ElementCallback callback) = 0;
    virtual int ReadOutput(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    // 37-43
    virtual int WriteOutput(unsigned char subIndex, float* value, ElementCallback callback) = 0;
    virtual int WriteOutput(unsigned char subIndex, int32_t* value, ElementCallback callback) = 0;
    virtual int WriteOutput(unsigned char subIndex, int16_t* value, ElementCallback callback) = 0;
    virtual int WriteOutput(unsigned char subIndex, int8_t* value, ElementCallback callback) = 0;
    virtual int WriteOutput(unsigned char subIndex, uint32_t* value, ElementCallback callback) = 0;
    virtual int WriteOutput(unsigned char subIndex, uint16_t* value, ElementCallback callback) = 0;
    virtual int WriteOutput(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    // 44
    virtual int ReadNrOfMachineParameters(int valueType, unsigned char* count, ReadNrElementCallback callback) = 0;
    // 45-51
    virtual int ReadMachineParameter(unsigned char subIndex, float* value, ElementCallback callback) = 0;
    virtual int ReadMachineParameter(unsigned char subIndex, int32_t* value, ElementCallback callback) = 0;
    virtual int ReadMachineParameter(unsigned char subIndex, int16_t* value, ElementCallback callback) = 0;
    virtual int ReadMachineParameter(unsigned char subIndex, int8_t* value, ElementCallback callback) = 0;
    virtual int ReadMachineParameter(unsigned char subIndex, uint32_t* value, ElementCallback callback) = 0;
    virtual int ReadMachineParameter(unsigned char subIndex, uint16_t* value, ElementCallback callback) = 0;
    virtual int ReadMachineParameter(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    // 52-58
    virtual int WriteMachineParameter(unsigned char subIndex, float* value, ElementCallback callback) = 0;
    virtual int WriteMachineParameter(unsigned char subIndex, int32_t* value, ElementCallback callback) = 0;
    virtual int WriteMachineParameter(unsigned char subIndex, int16_t* value, ElementCallback callback) = 0;
    virtual int WriteMachineParameter(unsigned char subIndex, int8_t* value, ElementCallback callback) = 0;
    virtual int WriteMachineParameter(unsigned char subIndex, uint32_t* value, ElementCallback callback) = 0;
    virtual int WriteMachineParameter(unsigned char subIndex, uint16_t* value, ElementCallback callback) = 0;
    virtual int WriteMachineParameter(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    // 59
    virtual int ReadNrOfOpHoursCounters(int valueType, unsigned char* count, ReadNrElementCallback callback) = 0;
    // 60-66
    virtual int ReadOpHoursCounter(unsigned char subIndex, float* value, ElementCallback callback) = 0;
    virtual int ReadOpHoursCounter(unsigned char subIndex, int32_t* value, ElementCallback callback) = 0;
    virtual int ReadOpHoursCounter(unsigned char subIndex, int16_t* value, ElementCallback callback) = 0;
    virtual int ReadOpHoursCounter(unsigned char subIndex, int8_t* value, ElementCallback callback) = 0;
    virtual int ReadOpHoursCounter(unsigned char subIndex, uint32_t* value, ElementCallback callback) = 0;
    virtual int ReadOpHoursCounter(unsigned char subIndex, uint16_t* value, ElementCallback callback) = 0;
    virtual int ReadOpHoursCounter(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    // 67-73
    virtual int WriteOpHoursCounter(unsigned char subIndex, float* value, ElementCallback callback) = 0;
    virtual int WriteOpHoursCounter(unsigned char subIndex, int32_t* value, ElementCallback callback) = 0;
    virtual int WriteOpHoursCounter(unsigned char subIndex, int16_t* value, ElementCallback callback) = 0;
    virtual int WriteOpHoursCounter(unsigned char subIndex, int8_t* value, ElementCallback callback) = 0;
    virtual int WriteOpHoursCounter(unsigned char subIndex, uint32_t* value, ElementCallback callback) = 0;
    virtual int WriteOpHoursCounter(unsigned char subIndex, uint16_t* value, ElementCallback callback) = 0;
    virtual int WriteOpHoursCounter(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    // 74-92
    virtual int ReadNrOfErrorBufferEntries(unsigned char* count, ReadNrElementCallback callback) = 0;
    virtual int ReadObject5301(uint32_t* value, ElementCallback callback) = 0;
    virtual int ReadErrorBufferEntry(unsigned char entry, ErrorBufferEntry* record, DomainCallback callback) = 0;
    virtual int WriteErrorBufferEntry(unsigned char entry, ErrorBufferEntry* record, DomainCallback callback) = 0;
    virtual int ReadObject5400(unsigned char* record11, DomainCallback callback) = 0;
    virtual int WriteObject5400(unsigned char* record11, DomainCallback callback) = 0;
    virtual int ReadSNNumber(unsigned char* record13, DomainCallback callback) = 0;
    virtual int WriteSNNumber(unsigned char* record13, DomainCallback callback) = 0;
    virtual int ReadNrOfObject5403(unsigned char* count, ReadNrElementCallback callback) = 0;
    virtual int ReadObject5403(unsigned char subIndex, Object5403Record* record, DomainCallback callback) = 0;
    virtual int WriteObject5403(unsigned char subIndex, Object5403Record* record, DomainCallback callback) = 0;
    virtual int ReadObject5402(unsigned char* record3, DomainCallback callback) = 0;
    virtual int WriteObject5402(unsigned char* record3, DomainCallback callback) = 0;
    // Byte 0 patch, byte 1 minor, byte 2 major.
    virtual int ReadSwVersion(unsigned char* record3, DomainCallback callback) = 0;
    virtual int WriteSwVersion(unsigned char* record3, DomainCallback callback) = 0;
    virtual int ReadMaterialNumber(unsigned char* record13, DomainCallback callback) = 0;
    virtual int WriteMaterialNumber(unsigned char* record13, DomainCallback callback) = 0;
    virtual int ReadObject5410(Object5410Record* record, DomainCallback callback) = 0;
    virtual int WriteObject5410(Object5410Record* record, DomainCallback callback) = 0;
    // 93-97: block upload and firmware update.
    virtual int StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize,
                                   BlockTransferCallback callback, uint32_t localAddress) = 0;
    virtual int StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize,
                                   BlockTransferCallback callback) = 0;
    virtual int GetBlockTransferProgress(unsigned char* percent) = 0;
    virtual int StartFirmwareUpdate(const char* path, FirmwareUpdateCallback callback) = 0;
    virtual int GetFirmwareUpdateProgress(unsigned char* percent) = 0;
    // 98
    virtual Version GetVersion() = 0;
    // 99-105
    virtual int WriteBlockControl(BlockControlRecord* record, DomainCallback callback) = 0;
    virtual int WriteBlockData(const unsigned char* data, uint32_t size, DomainCallback callback) = 0;
    virtual int WriteProgramData(const unsigned char* data, uint32_t size, DomainCallback callback) = 0;
    virtual int WriteFirmwareUpdateControl(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    virtual int ReadFlashStatus(unsigned char subIndex, uint32_t* value, ElementCallback callback) = 0;
    virtual int WriteProgramControl(unsigned char subIndex, uint8_t* value, ElementCallback callback) = 0;
    // Bytes still to send on an SDO line (0 when idle), for progress display.
    virtual uint32_t GetRemainingTransferBytes(unsigned char line) = 0;
};

}  // namespace CommDiag
