#pragma once
// The host's own declarations of what it loads, written from the interface description and not
// taken from the libraries' headers, so that a difference between the two shows up at run time.
#include <cstdint>

namespace wintesthost {

// orbel_dll.dll: the converter's thirteen exports.
using DllInitFn = int32_t(__stdcall*)(char* portName);
using DllDeInitFn = int32_t(__stdcall*)();
using ConvWriteDataFn = int32_t(__stdcall*)(uint32_t length, uint8_t* data);
using ConvGetByteCountFn = int32_t(__stdcall*)(int32_t* count);
using ConvReadDataFn = int32_t(__stdcall*)(uint8_t* byte);
using ConvAddParameterDescriptionFn = int32_t(__stdcall*)(char* path, int32_t listKey);
using ConvClearParameterListFn = int32_t(__stdcall*)();
using ConvBuildBlockDownloadBinaryFn = int32_t(__stdcall*)(char* directoryPath, char* outputFileName);
using ConvStartBlockDownloadFileFn = int32_t(__stdcall*)(char* path, int32_t address);
using ConvStartFirmwareDownloadFn = int32_t(__stdcall*)(char* path);
using ConvGetProgressFn = int32_t(__stdcall*)(void* progress);
using ConvGetSWRevisionFn = int32_t(__stdcall*)(uint32_t bufferLength, uint8_t* buffer);

// serican.dll: the CAN driver's five entries, as the converter's stack calls them.
struct CanMessage {  // 12 bytes: identifier, rtr, length, eight data bytes
    uint16_t cobId;
    uint8_t rtr;
    uint8_t len;
    uint8_t data[8];
};
static_assert(sizeof(CanMessage) == 12, "CanMessage is 12 bytes on the driver interface");

struct Board {  // the bus name (COM port number in decimal) and the bit-rate text
    const char* busname;
    const char* baudrate;
};

using CanOpenFn = void*(__stdcall*)(Board* board);
using CanCloseFn = int32_t(__stdcall*)(void* handle);
using CanSendFn = uint8_t(__stdcall*)(void* handle, CanMessage* message);
using CanReceiveFn = uint8_t(__stdcall*)(void* handle, CanMessage* message);
using CanChangeBaudRateFn = uint8_t(__stdcall*)(void* handle, char* baudrate);

// Where the converter loads its driver from on a service PC.
constexpr const char* kFixedDriverPath = "C:\\Dravenik\\QUILLON\\can_dll\\serican.dll";

}  // namespace wintesthost
