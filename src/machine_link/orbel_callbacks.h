#pragma once
#include <cstdint>

// Completion callbacks of the machine requests. Each stores what its request delivered, starts
// the next request of its sequence where there is one, and sets the converter state last.
void StartConnection_callback(int result);
void CloseConnection_callback(int result);
void ReadMachineMode_callback(int result, int valueType, unsigned char subIndex, void* value);
void WriteMachineMode_callback(int result, int valueType, unsigned char subIndex, void* value);
void ReadMachineType_callback(int result, int valueType, unsigned char subIndex, void* record, unsigned int size);
void SwVersion_callback(int result, int valueType, unsigned char subIndex, void* record, unsigned int size);
void SerialNumberMachine_callback(int result, int valueType, unsigned char subIndex, void* record, unsigned int size);
void MaterialNumberMachine_callback(int result, int valueType, unsigned char subIndex, void* record, unsigned int size);
void WriteSerialNumberMachine_callback(int result, int valueType, unsigned char subIndex, void* record,
                                       unsigned int size);
void WriteMaterialNumberMachine_callback(int result, int valueType, unsigned char subIndex, void* record,
                                         unsigned int size);
void WriteOutput_callback(int result, int valueType, unsigned char subIndex, void* value);
void ReadInput_callback(int result, int valueType, unsigned char subIndex, void* value);
void ReadMeasurement_callback(int result, int valueType, unsigned char subIndex, void* value);
void ReadMachineParameter_callback(int result, int valueType, unsigned char subIndex, void* value);
void WriteMachineParameter_callback(int result, int valueType, unsigned char subIndex, void* value);
void ErrorBufferEntry_callback(int result, int valueType, unsigned char subIndex, void* record, unsigned int size);
void WriteErrorBufferEntry_callback(int result, int valueType, unsigned char subIndex, void* record, unsigned int size);
void BlockDownload_callback(int result, uint32_t uploadIndex);
void FirmwareDownload_callback(int result, int node);
