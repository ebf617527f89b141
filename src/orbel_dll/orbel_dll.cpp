#include "orbel_dll/orbel_dll.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/orbel_trace.h"
#include "machine_link/orbel_commdiag.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_pkghandler/orbel_pkghandler.h"

namespace {

// Written by the host's thread; an atomic so that a host calling from several threads stays sound.
std::atomic<int32_t> initialised{0};

// Strings from the host may carry an at sign and anything after it: cut them there, in place.
void cutAtAtSign(char* text) {
    if (text == nullptr) return;
    if (char* at = std::strchr(text, '@')) *at = '\0';
}

int32_t leave(const char* name, int32_t result) {
    ORBEL_Trace("%s(): -- (ret: 0x%02x)\n", name, static_cast<unsigned>(result));
    return result;
}

// The two progress exports: 4 while no download runs or when the running one failed; the
// percentage (one byte) otherwise.
int32_t downloadProgress(void* progress, const char* name, const char* inactive, const char* failed,
                         bool (ORBEL_BlockDownloadHandler::*get)(uint8_t*)) {
    if (progress == nullptr) return ORBEL_FAILURE;
    ORBEL_BlockDownloadHandler& handler = ORBEL_Conv::getInstance()->getBlockDownloadHandler();
    if (!handler.isRunning()) {
        ORBEL_Trace(inactive, name);
        return ORBEL_FAILURE;
    }
    if (!(handler.*get)(static_cast<uint8_t*>(progress))) {
        ORBEL_Trace(failed, name);
        return ORBEL_FAILURE;
    }
    // The download may have ended meanwhile, its transfer already back at the start.
    if (!handler.isRunning()) {
        ORBEL_Trace(inactive, name);
        return ORBEL_FAILURE;
    }
    return ORBEL_OK;
}

}  // namespace

extern "C" {

int32_t ORBEL_STDCALL ORBEL_DllInit(char* portName) {
    const char* const name = "ORBEL_DllInit";
    ORBEL_Trace("%s(): ++\n", name);
    int32_t expected = 0;
    if (!initialised.compare_exchange_strong(expected, 1)) return leave(name, ORBEL_ALREADY_INITIALISED);

    ORBEL_Trace("%s(): load orbel_dll version: %d.02%d.%d\n", name, 0, 3, 0);
    cutAtAtSign(portName);
    int port = 0;
    if (portName != nullptr && std::sscanf(portName, "\\\\.\\COM%d", &port) == 1) ORBEL_SetComPortNumber(port);
    ORBEL_Trace("%s(): found com port %d\n", name, ORBEL_GetComPortNumber());
    return leave(name, ORBEL_OK);
}

int32_t ORBEL_STDCALL ORBEL_DllDeInit() {
    const char* const name = "ORBEL_DllDeInit";
    ORBEL_Trace("%s(): ++\n", name);
    int32_t expected = 1;
    if (!initialised.compare_exchange_strong(expected, 0)) return leave(name, ORBEL_NOT_INITIALISED);
    ORBEL_CommDiag::DestroyInstance();
    // The connection belonged to the destroyed client: the next 0xE6 must connect the new one.
    // A request or download under way went with the client, which reports nothing more: leave
    // busy; nothing of a download runs any more.
    if (ORBEL_Conv* converter = ORBEL_Conv::getInstanceIfCreated()) {
        converter->forgetConnection();
        // The next session may face another machine (or this one with new firmware): its 0xFA
        // reads version and type afresh instead of answering with this machine's.
        converter->forgetSoftware();
        converter->forgetRequest();
        converter->getBlockDownloadHandler().abandon();
        if (converter->isBusy()) converter->setIdle();
    }
    return leave(name, ORBEL_OK);
}

int32_t ORBEL_STDCALL ORBEL_ConvWriteData(uint32_t length, uint8_t* data) {
    const char* const name = "ORBEL_ConvWriteData";
    ORBEL_Trace("%s(): ++\n", name);
    if (!initialised.load()) return leave(name, ORBEL_NOT_INITIALISED);
    if (data == nullptr && length > 0) return leave(name, ORBEL_FAILURE);

    // The byte stream is the one path that creates the client, so that it is bound to the port
    // of this session's ORBEL_DllInit (other exports may come before the init).
    ORBEL_CommDiag::instance();
    ORBEL_Conv* converter = ORBEL_Conv::getInstance();
    converter->getInBuffer()->writeBytes(length, data);
    for (uint32_t i = 0; i < length; ++i) ORBEL_Trace("%s(): 0x%02x\n", name, data[i]);

    int32_t result = ORBEL_FAILURE;
    if (converter->getInBuffer()->getByteCount() > 2)
        result = ORBEL_PkgHandler::handlePackage(converter, converter->getInBuffer(), converter->getOutBuffer());
    return leave(name, result);
}

int32_t ORBEL_STDCALL ORBEL_ConvGetByteCount(int32_t* count) {
    if (!initialised.load()) return ORBEL_NOT_INITIALISED;
    if (count == nullptr) return ORBEL_FAILURE;
    *count = static_cast<int32_t>(ORBEL_Conv::getInstance()->getOutBuffer()->getByteCount());
    ORBEL_Trace("%s(): 0x%04x\n", "ORBEL_ConvGetByteCount", static_cast<unsigned>(*count));
    return ORBEL_OK;
}

int32_t ORBEL_STDCALL ORBEL_ConvReadData(uint8_t* byte) {
    if (!initialised.load()) return ORBEL_NOT_INITIALISED;
    if (byte == nullptr) return ORBEL_FAILURE;
    if (!ORBEL_Conv::getInstance()->getOutBuffer()->popByte(byte)) return ORBEL_NO_DATA;
    ORBEL_Trace("%s(): 0x%02x\n", "ORBEL_ConvReadData", *byte);
    return ORBEL_OK;
}

int32_t ORBEL_STDCALL ORBEL_ConvAddParameterDescription(char* path, int32_t listKey) {
    if (path == nullptr) return ORBEL_FAILURE;
    cutAtAtSign(path);
    const bool loaded =
        ORBEL_Conv::getInstance()->getParameterHandler().AddParameterDescription(path, static_cast<uint8_t>(listKey));
    return loaded ? ORBEL_OK : ORBEL_FAILURE;
}

int32_t ORBEL_STDCALL ORBEL_ConvClearParameterList() {
    ORBEL_Conv::getInstance()->getParameterHandler().ClearParameterList();
    return ORBEL_OK;
}

int32_t ORBEL_STDCALL ORBEL_ConvBuildBlockDownloadBinary(char* directoryPath, char* outputFileName) {
    if (directoryPath == nullptr || outputFileName == nullptr) return ORBEL_FAILURE;
    cutAtAtSign(directoryPath);
    cutAtAtSign(outputFileName);
    ORBEL_Conv* converter = ORBEL_Conv::getInstance();
    return converter->getBlockDownloadHandler().BuildBlockDownloadBinary(directoryPath, outputFileName) ? ORBEL_OK
                                                                                                        : ORBEL_FAILURE;
}

int32_t ORBEL_STDCALL ORBEL_ConvStartBlockDownloadFile(char* path, int32_t address) {
    const char* const name = "callORBEL_ConvStartBlockDownloadFile";
    if (path == nullptr) return ORBEL_FAILURE;
    cutAtAtSign(path);
    ORBEL_Conv* converter = ORBEL_Conv::getInstance();
    if (!converter->getBlockDownloadHandler().StartBlockDownload(path, static_cast<uint32_t>(address))) {
        ORBEL_Trace("%s(): failed to add file to block download handler\n", name);
        return ORBEL_FAILURE;
    }
    return ORBEL_OK;
}

int32_t ORBEL_STDCALL ORBEL_ConvStartFirmwareDownload(char* path) {
    const char* const name = "callORBEL_ConvStartFirmwareDownload";
    if (path == nullptr) return ORBEL_FAILURE;
    cutAtAtSign(path);
    ORBEL_Conv* converter = ORBEL_Conv::getInstance();
    if (!converter->getBlockDownloadHandler().StartFirmwareDownload(path)) {
        ORBEL_Trace("%s(): failed to add firmware file to block download handler\n", name);
        return ORBEL_FAILURE;
    }
    return ORBEL_OK;
}

int32_t ORBEL_STDCALL ORBEL_ConvGetBlockDownloadProgress(void* progress) {
    return downloadProgress(progress, "callORBEL_ConvGetBlockDownloadProgress", "%s(): no block download active\n",
                            "%s(): unable to get block download progress\n",
                            &ORBEL_BlockDownloadHandler::GetBlockDownloadProgress);
}

int32_t ORBEL_STDCALL ORBEL_ConvGetFirmwareDownloadProgress(void* progress) {
    return downloadProgress(progress, "callORBEL_ConvGetFirmwareDownloadProgress",
                            "%s(): no firmware download active\n", "%s(): unable to get firmware download progress\n",
                            &ORBEL_BlockDownloadHandler::GetFirmwareDownloadProgress);
}

int32_t ORBEL_STDCALL ORBEL_ConvGetSWRevision(uint32_t bufferLength, uint8_t* buffer) {
    const char* const name = "callORBEL_ConvGetSWRevision";
    ORBEL_Conv* converter = ORBEL_Conv::getInstance();
    if (!converter->isConnected()) {
        ORBEL_Trace("%s(): no machine connected\n", name);
        return ORBEL_FAILURE;
    }
    if (bufferLength < 3 || buffer == nullptr) {
        ORBEL_Trace("%s(): unable to store software revision - buffer length invalid!\n", name);
        return ORBEL_FAILURE;
    }
    const ORBEL_Machine::SwVersion version = converter->getSwVersion();  // patch, minor, major
    buffer[0] = version[2];
    buffer[1] = version[1];
    buffer[2] = version[0];
    return ORBEL_OK;
}

}  // extern "C"
