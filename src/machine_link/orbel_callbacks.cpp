#include "machine_link/orbel_callbacks.h"

#include <cstring>

#include "commdiag/types.h"
#include "common/orbel_trace.h"
#include "machine/value_type.h"
#include "machine_link/orbel_commdiag.h"
#include "machine_link/orbel_reconnect.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_conv/orbel_machine.h"

namespace {

constexpr int kNoObject = 22;
// The block whose completion needs no reconnection.
constexpr uint32_t kFinalBlockId = 4;

// The machine restarts after a download; it gets this long before the connection starts again.
constexpr uint32_t kReconnectDelayMs = 1500;

// Starts a follow-up request with the converter already busy. Its completion may run on a stack
// thread before the start call returns, and sets idle or error there; marking busy afterwards
// would overwrite that and leave the host polling a busy converter for ever.
template <typename Start>
int32_t startFollowUp(ORBEL_Conv* conv, Start start) {
    conv->setBusy();
    return start();
}

void traceResult(const char* name, int result) {
    ORBEL_Trace("%s(): retVal 0x%02x\n", name, static_cast<unsigned>(result));
}

// The common end of a callback: on success the line `done` (if given) and idle; on failure the
// line `failed` (if given; it shows the result) and error. Both formats take the callback's
// name first.
void finishRequest(ORBEL_Conv* conv, const char* name, int result, const char* done, const char* failed) {
    if (result == 0) {
        if (done != nullptr) ORBEL_Trace(done, name);
        conv->setIdle();
        return;
    }
    if (failed != nullptr) ORBEL_Trace(failed, name, result);
    conv->setError();
}

// Reads the machine mode with the converter busy; a start that fails leaves it in error.
void requestMachineMode(ORBEL_Conv* conv, const char* name) {
    if (startFollowUp(conv, ORBEL_CommDiag::ReadMachineMode) == 0) {
        ORBEL_Trace("%s(): machine mode requested\n", name);
    } else {
        ORBEL_Trace("%s(): unable to request machine mode!\n", name);
        conv->setError();
    }
}

void traceBytes13(const char* name, const char* label, const uint8_t* b) {
    ORBEL_Trace(
        "%s(): %s: 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x\n", name,
        label, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12]);
}

}  // namespace

void StartConnection_callback(int result) {
    const char* const name = __func__;
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (result != 0) {
        conv->resetMachineState();
        conv->setError();
        return;
    }
    conv->setConnected();
    requestMachineMode(conv, name);
}

namespace {

// The second half of the close: on the reconnect thread, once the machine had its time.
void connectAfterClose() {
    const char* const name = "CloseConnection_callback";
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (startFollowUp(conv, ORBEL_CommDiag::StartConnection) == 0) {
        ORBEL_Trace("%s(): start connection requested\n", name);
    } else {
        conv->setIdle();
    }
}

// Closes the connection after a download; its callback connects again. Both run on the link's
// reconnect thread: the download's completion comes on a stack thread, and the client's
// connection calls belong to one thread. Busy first, until the connection is back.
void closeConnectionAfterDownload() {
    const char* const name = "closeAfterDownload";
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (ORBEL_CommDiag::CloseConnection() == 0) {
        ORBEL_Trace("%s(): Closing requested\n", name);
    } else {
        ORBEL_Trace("%s(): unable to close connection\n", name);
        conv->setIdle();
    }
}

void closeAfterDownload(ORBEL_Conv* conv) {
    conv->setBusy();
    ORBEL_ScheduleReconnect(0, closeConnectionAfterDownload);
}

}  // namespace

void CloseConnection_callback(int result) {
    const char* const name = __func__;
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (result != 0) {
        ORBEL_Trace("%s(): Connection to machine not closed.\n", name);
        conv->setError();
        return;
    }
    ORBEL_Trace("%s(): Connection to machine closed successfully.\n", name);
    ORBEL_Trace("%s(): Trying to start again.\n", name);
    // The machine restarts after a download; it gets its time before the connection starts
    // again, counted on the link's reconnect thread and not on the caller's, which may be a
    // stack thread holding the stack lock. The converter stays busy meanwhile.
    conv->setBusy();
    ORBEL_ScheduleReconnect(kReconnectDelayMs, connectAfterClose);
}

void BlockDownload_callback(int result, uint32_t uploadIndex) {
    const char* const name = __func__;
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    // The handler is free again before the state says so, so that a host seeing the state
    // change may start the next download at once.
    conv->getBlockDownloadHandler().resetBlockDownload();
    if (result != 0) {
        ORBEL_Trace("%s(): block download finished with errors (retVal: %d uploadIndex: %d)\n", name, result,
                    static_cast<int>(uploadIndex));
        conv->setError();
        return;
    }
    ORBEL_Trace("%s(): block download finished successfully (uploadIndex: %d)\n", name, static_cast<int>(uploadIndex));
    if (uploadIndex == kFinalBlockId) {
        ORBEL_Trace("%s(): block download finalized\n", name);
        conv->setIdle();
        return;
    }
    closeAfterDownload(conv);
}

void FirmwareDownload_callback(int result, int node) {
    const char* const name = __func__;
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    conv->getBlockDownloadHandler().resetBlockDownload();
    if (result != 0) {
        ORBEL_Trace("%s(): FW Update failed. Node: %d\n", name, node);
        // Reported, unlike a success: the host learns it from the next answer's state.
        conv->setError();
        return;
    }
    ORBEL_Trace("%s(): FW Update done successfully. Node: %d\n", name, node);
    // The machine runs new firmware: its version and type are read afresh after reconnecting.
    conv->forgetSoftware();
    closeAfterDownload(conv);
}

void ReadMachineMode_callback(int result, int, unsigned char, void* value) {
    const char* const name = __func__;
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    const bool moduleObject = conv->isModuleModeObjectUsed();
    if (result == kNoObject) {
        if (moduleObject) {
            ORBEL_Trace("%s(): Unable to get machine mode - it might be that the device is inside the bootloader!\n",
                        name);
            conv->setIdle();
            return;
        }
        // No machine mode object: this machine keeps its mode in the module mode object.
        conv->setModuleModeObjectUsed();
        requestMachineMode(conv, name);
        return;
    }
    if (result != 0) {
        ORBEL_Trace("%s(): unable to read machine mode %d\n", name, result);
        conv->setError();
        return;
    }
    uint32_t read = 0;
    std::memcpy(&read, value, sizeof read);
    // The machine keeps its mode in one of two objects; each has its own lines in the trace.
    ORBEL_Trace(
        moduleObject ? "%s(): module mode successfully read 0x%02x\n" : "%s(): machine mode successfully read 0x%02x\n",
        name, read);
    const uint32_t wanted = moduleObject ? conv->targetModuleMode(read) : conv->targetMachineMode(read);
    if (wanted == read) {
        ORBEL_Trace("%s(): no mode change necessary\n", name);
        conv->setIdle();
        return;
    }
    const int32_t started = startFollowUp(conv, [wanted, moduleObject] {
        return moduleObject ? ORBEL_CommDiag::WriteModuleMode(wanted) : ORBEL_CommDiag::WriteMachineMode(wanted);
    });
    if (moduleObject)
        ORBEL_Trace(started == 0 ? "%s(): module mode change requested\n" : "%s(): unable to request module mode!\n",
                    name);
    else
        ORBEL_Trace(started == 0 ? "%s(): machine mode change requested\n" : "%s(): unable to request machine mode!\n",
                    name);
    if (started != 0) conv->setError();
}

void WriteMachineMode_callback(int result, int, unsigned char, void*) {
    const char* const name = __func__;
    traceResult(name, result);
    finishRequest(ORBEL_Conv::getInstance(), name, result, "%s(): machine / module mode successfully set\n",
                  "%s(): unable to write machine / module mode %d\n");
}

void ReadMachineType_callback(int result, int, unsigned char, void*, unsigned int) {
    const char* const name = __func__;
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    MachineTypeRecord record = ORBEL_CommDiag::transferMachineType();
    if (result == 0) {
        ORBEL_Trace("%s(): Machine type: 0x%02x machine number: 0x%02x machine variant: 0x%02x\n", name,
                    static_cast<unsigned>(record.type), static_cast<unsigned>(record.number),
                    static_cast<unsigned>(record.variant));
    } else if (result == kNoObject) {
        ORBEL_Trace("%s(): Unable to read machine type - the device seems to be in bootloader mode\n", name);
        record = MachineTypeRecord{4, 0, 0};
    } else {
        // The transfer area holds no type record of this machine: the identification failed.
        ORBEL_Trace("%s(): 0x%02x\n", name, static_cast<unsigned>(result));
        conv->setIdentificationFailed();
        conv->setError();
        return;
    }
    conv->setMachineType(record);
    conv->setIdle();
}

void SwVersion_callback(int result, int, unsigned char, void*, unsigned int) {
    const char* const name = __func__;
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    const uint8_t* version = ORBEL_CommDiag::transferSwVersion();
    if (result == 0) {
        ORBEL_Trace("%s(): SW Version: %01d.%02d.%02d\n", name, version[2], version[1], version[0]);
        conv->storeSwVersion(version);
    } else if (result == kNoObject) {
        ORBEL_Trace("%s(): Reading of software revision failed - machine seems to be in bootloader mode\n", name);
        const uint8_t none[3] = {0, 0, 0};
        conv->storeSwVersion(none);
    } else {
        // Nothing was read: the transfer area's bytes are not this machine's version.
        ORBEL_Trace("%s(): 0x%02x\n", name, static_cast<unsigned>(result));
        conv->setIdentificationFailed();
        conv->setError();
        return;
    }
    conv->setIdle();
}

void SerialNumberMachine_callback(int result, int, unsigned char, void*, unsigned int) {
    const char* const name = __func__;
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    const uint8_t* serial = ORBEL_CommDiag::transferSerialNumber();
    // A failed read still ends the connection sequence, but with an unknown (zero) serial number
    // rather than whatever an earlier transfer left in the transfer area.
    const uint8_t unknown[13] = {};
    if (result == 0)
        traceBytes13(name, "Serial Nr", serial);
    else
        ORBEL_Trace("%s(): 0x%02x\n", name, static_cast<unsigned>(result));
    conv->storeSerialNumber(result == 0 ? serial : unknown);
    conv->setIdle();
}

void MaterialNumberMachine_callback(int result, int, unsigned char, void* record, unsigned int) {
    const char* const name = __func__;
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (result == 0) {
        traceBytes13(name, "Material number", static_cast<const uint8_t*>(record));
        conv->storeMaterialNumber(static_cast<const uint8_t*>(record));
    } else {
        ORBEL_Trace("%s(): 0x%02x\n", name, static_cast<unsigned>(result));
    }
    conv->setIdle();
}

void WriteSerialNumberMachine_callback(int result, int, unsigned char, void*, unsigned int) {
    traceResult(__func__, result);
    finishRequest(ORBEL_Conv::getInstance(), __func__, result, nullptr, nullptr);
}

void WriteMaterialNumberMachine_callback(int result, int, unsigned char, void*, unsigned int) {
    const char* const name = __func__;
    traceResult(name, result);
    finishRequest(ORBEL_Conv::getInstance(), name, result, nullptr, "%s(): unable to write material number 0x%02x\n");
}

void WriteOutput_callback(int result, int, unsigned char, void*) {
    const char* const name = __func__;
    traceResult(name, result);
    finishRequest(ORBEL_Conv::getInstance(), name, result, nullptr, "%s(): unable to write output 0x%02x\n");
}

namespace {

void featureReadDone(const char* name, int result, int valueType, void* value) {
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (result != 0) {
        finishRequest(conv, name, result, nullptr, "%s(): 0x%02x\n");
        return;
    }
    switch (valueType) {
        case VALUE_TYPE_U8: conv->setValueForCurrentFeatReq(*static_cast<uint8_t*>(value)); break;
        case VALUE_TYPE_U16: conv->setValueForCurrentFeatReq(*static_cast<uint16_t*>(value)); break;
        case VALUE_TYPE_U32: conv->setValueForCurrentFeatReq(*static_cast<uint32_t*>(value)); break;
        case VALUE_TYPE_I8: conv->setValueForCurrentFeatReq(*static_cast<int8_t*>(value)); break;
        case VALUE_TYPE_I16: conv->setValueForCurrentFeatReq(*static_cast<int16_t*>(value)); break;
        case VALUE_TYPE_I32: conv->setValueForCurrentFeatReq(*static_cast<int32_t*>(value)); break;
        case VALUE_TYPE_FLOAT: conv->setValueForCurrentFeatReq(*static_cast<float*>(value)); break;
        default: break;
    }
    if (conv->runNextFeatureReq()) {
        ORBEL_Trace("%s(): sensors request is runnning\n", name);
        return;  // still busy: the next read's callback carries on
    }
    conv->setIdle();
}

}  // namespace

void ReadInput_callback(int result, int valueType, unsigned char, void* value) {
    featureReadDone(__func__, result, valueType, value);
}

void ReadMeasurement_callback(int result, int valueType, unsigned char, void* value) {
    featureReadDone(__func__, result, valueType, value);
}

namespace {

// Continues a parameter read or write sequence: the converter is busy while it runs (the handler
// set it before the first start), so a started follow-up leaves it so, whichever thread its own
// completion runs on.
void continueParameterChain(const char* name, ORBEL_Conv* conv, bool write) {
    ORBEL_ParameterHandler& handler = conv->getParameterHandler();
    int32_t started = 0;
    const bool taken = write ? handler.RunWriteRequest(&started, 0) : handler.RunReadRequest(&started, 0);
    if (!taken) {
        conv->setIdle();
    } else if (started == 0) {
        ORBEL_Trace(write ? "%s(): parameter write request started\n" : "%s(): parameter request started\n", name);
    } else {
        // The values of the rest of the range never arrive: that is a failure, not a result.
        ORBEL_Trace(write ? "%s(): unable to write parameter\n" : "%s(): unable to request parameter\n", name);
        conv->setError();
    }
}

}  // namespace

void ReadMachineParameter_callback(int result, int valueType, unsigned char, void* value) {
    const char* const name = __func__;
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (result != 0) {
        ORBEL_Trace("%s(): 0x%02x\n", name, static_cast<unsigned>(result));
        conv->setError();
        return;
    }
    conv->getParameterHandler().SetParameterValueForCurrentReq(valueType, value);
    continueParameterChain(name, conv, false);
}

void WriteMachineParameter_callback(int result, int, unsigned char, void*) {
    const char* const name = __func__;
    traceResult(name, result);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (result != 0) {
        ORBEL_Trace("%s(): 0x%02x\n", name, static_cast<unsigned>(result));
        conv->setError();
        return;
    }
    conv->getParameterHandler().WriteRequestSucceeded();
    continueParameterChain(name, conv, true);
}

void ErrorBufferEntry_callback(int result, int, unsigned char subIndex, void* record, unsigned int) {
    const char* const name = __func__;
    ORBEL_Trace("%s(): ++ retVal 0x%02x\n", name, static_cast<unsigned>(result));
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (result == CommDiag::RESULT_NO_SUB_INDEX) {
        ORBEL_Trace("%s(): no more error memory entries available\n", name);
        conv->setIdle();
    } else if (result != 0) {
        ORBEL_Trace("%s(): 0x%02x\n", name, static_cast<unsigned>(result));
        conv->setError();
    } else {
        ORBEL_ErrorMemoryHandler& errors = conv->getErrorMemoryHandler();
        errors.AddErrorMemoryEntry(subIndex, *static_cast<const CommDiag::ErrorBufferEntry*>(record));
        if (subIndex == 255) {
            conv->setIdle();  // the last sub-index an entry can have: nothing follows it
        } else {
            const uint8_t next = static_cast<uint8_t>(subIndex + 1);
            const int32_t started = ORBEL_CommDiag::ReadErrorBufferEntry(next);
            if (started == 0) {
                ORBEL_Trace("%s(): error memory request running %d\n", name, next);
            } else {
                ORBEL_Trace("%s(): unable to start error memory request %d\n", name, static_cast<int>(started));
                conv->setError();
            }
        }
    }
    ORBEL_Trace("%s(): --\n", name);
}

void WriteErrorBufferEntry_callback(int result, int, unsigned char, void*, unsigned int) {
    const char* const name = __func__;
    ORBEL_Trace("%s(): ++ retVal 0x%02x\n", name, static_cast<unsigned>(result));
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    if (result != 0) {
        ORBEL_Trace("%s(): 0x%02x\n", name, static_cast<unsigned>(result));
        conv->setError();
    } else {
        int32_t started = 0;
        if (!conv->getErrorMemoryHandler().WriteErrorBufferElements(&started)) {
            // Entries left unwritten are a failed clear, not a cleared memory.
            if (started != 0)
                conv->setError();
            else
                conv->setIdle();
        }
    }
    ORBEL_Trace("%s(): --\n", name);
}
