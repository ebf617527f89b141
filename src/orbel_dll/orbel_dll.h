#pragma once
// The converter's C interface to the host application.
#include <cstdint>

#include "common/api_export.h"

// Results of the exports.
enum ORBEL_Result : int32_t {
    ORBEL_OK = 0,
    ORBEL_ALREADY_INITIALISED = 1,
    ORBEL_NOT_INITIALISED = 2,
    ORBEL_NO_DATA = 3,
    ORBEL_FAILURE = 4,
};

extern "C" {
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_DllInit(char* portName);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_DllDeInit();
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvWriteData(uint32_t length, uint8_t* data);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvGetByteCount(int32_t* count);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvReadData(uint8_t* byte);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvAddParameterDescription(char* path, int32_t listKey);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvClearParameterList();
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvBuildBlockDownloadBinary(char* directoryPath, char* outputFileName);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvStartBlockDownloadFile(char* path, int32_t address);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvStartFirmwareDownload(char* path);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvGetBlockDownloadProgress(void* progress);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvGetFirmwareDownloadProgress(void* progress);
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL ORBEL_ConvGetSWRevision(uint32_t bufferLength, uint8_t* buffer);
}
