#pragma once
#include <cstdint>
#include <string>

#include "common/api_export.h"
#include "platform/dynamic_library.h"

// The converter's thirteen exports, resolved by name from a library loaded by path, exactly as
// the legacy host finds them. The library stays loaded until the process ends: the converter
// keeps process-wide objects for the host's lifetime, and orbelctl's lifetime is one session.
class ConverterLibrary {
public:
    using InitFn = int32_t(ORBEL_STDCALL*)(char*);
    using VoidFn = int32_t(ORBEL_STDCALL*)();
    using WriteDataFn = int32_t(ORBEL_STDCALL*)(uint32_t, uint8_t*);
    using GetByteCountFn = int32_t(ORBEL_STDCALL*)(int32_t*);
    using ReadDataFn = int32_t(ORBEL_STDCALL*)(uint8_t*);
    using AddParameterDescriptionFn = int32_t(ORBEL_STDCALL*)(char*, int32_t);
    using BuildBinaryFn = int32_t(ORBEL_STDCALL*)(char*, char*);
    using StartBlockDownloadFn = int32_t(ORBEL_STDCALL*)(char*, int32_t);
    using StartFirmwareDownloadFn = int32_t(ORBEL_STDCALL*)(char*);
    using ProgressFn = int32_t(ORBEL_STDCALL*)(void*);
    using SwRevisionFn = int32_t(ORBEL_STDCALL*)(uint32_t, uint8_t*);

    ConverterLibrary() = default;
    ConverterLibrary(const ConverterLibrary&) = delete;
    ConverterLibrary& operator=(const ConverterLibrary&) = delete;

    // Loads the library and resolves every export; on failure `error` says what is missing.
    bool load(const std::string& path, std::string& error);

    InitFn DllInit = nullptr;
    VoidFn DllDeInit = nullptr;
    WriteDataFn ConvWriteData = nullptr;
    GetByteCountFn ConvGetByteCount = nullptr;
    ReadDataFn ConvReadData = nullptr;
    AddParameterDescriptionFn ConvAddParameterDescription = nullptr;
    VoidFn ConvClearParameterList = nullptr;
    BuildBinaryFn ConvBuildBlockDownloadBinary = nullptr;
    StartBlockDownloadFn ConvStartBlockDownloadFile = nullptr;
    StartFirmwareDownloadFn ConvStartFirmwareDownload = nullptr;
    ProgressFn ConvGetBlockDownloadProgress = nullptr;
    ProgressFn ConvGetFirmwareDownloadProgress = nullptr;
    SwRevisionFn ConvGetSWRevision = nullptr;

private:
    platform::LibraryHandle handle_ = nullptr;
};
