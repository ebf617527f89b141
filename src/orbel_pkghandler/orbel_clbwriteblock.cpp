// Write-block commands: the host writes machine data by address (0x0B with a 16-bit address,
// 0x0D and 0x1F with an 8-bit one) and collects the outcome with the answer request (0x0C,
// 0x0E), repeated while busy. A write to the command address switches the machine mode; in test
// mode the next answer request runs the model's command.
#include <cstring>

#include "machine_link/orbel_commdiag.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_pkghandler/handler_support.h"
#include "orbel_pkghandler/orbel_addressclass.h"
#include "orbel_pkghandler/orbel_clbdownload.h"
#include "orbel_pkghandler/orbel_clbhandlers.h"

namespace {

constexpr uint8_t kByteDataCode = 0x0D;  // its data start at 6, the other codes' at 7
constexpr uint32_t kDataPos = 7;
constexpr uint32_t kNumberRecordSize = 13;
constexpr uint8_t SM_TESTMODE = 0x40;
constexpr uint32_t kCommandAddress = 2;

// Serial and material number: a 13-byte record; a longer write would not fit it and is refused.
void writeNumber(ORBEL_Conv* conv, ORBEL_ConvBuffer* out, const char* name, const char* what, const uint8_t* package,
                 uint8_t length, int32_t (*write)(const uint8_t*)) {
    if (length > kNumberRecordSize) {
        ORBEL_Trace("%s(): %s longer than %d bytes (%d) - nothing written\n", name, what,
                    static_cast<int>(kNumberRecordSize), length);
        pkg::setState(out, PROTO_STATE_FAILED);
        return;
    }
    uint8_t record[kNumberRecordSize] = {};
    std::memcpy(record, package + kDataPos, length);
    conv->setBusy();
    if (write(record) == 0) return;  // state 1 stands
    pkg::setState(out, PROTO_STATE_FAILED);
    conv->setError();
}

void writeParameters(ORBEL_Conv* conv, ORBEL_ConvBuffer* out, const char* name, uint8_t code, const uint8_t* package,
                     uint32_t address, uint8_t length) {
    ORBEL_ParameterHandler& parameters = conv->getParameterHandler();
    const uint32_t dataPos = code == kByteDataCode ? 6 : kDataPos;
    bool anyParameter = false;
    for (uint32_t p = 0; p < length;) {
        // Bytes at or past the length are not the host's data (the checksum follows them).
        uint8_t b[4];
        for (uint32_t k = 0; k < 4; ++k) b[k] = p + k < length ? package[dataPos + p + k] : 0;
        parameters.ChangeValueForCurrentReqAddressBased(address + p, b[0], b[1], b[2], b[3]);
        uint32_t size = parameters.GetParamByteCount(address + p);
        if (size == 0) {
            ORBEL_Trace("%s(): parameter size == 0. Size will be faked with 1!\n", name);
            size = 1;
        } else {
            anyParameter = true;
        }
        p += size;
    }
    if (!anyParameter) {
        ORBEL_Trace("%s(): no parameter in the requested range - nothing written\n", name);
        pkg::setState(out, PROTO_STATE_FAILED);
        conv->setError();
        return;
    }
    int32_t result = 0;
    conv->setBusy();
    if (!parameters.StartParameterWriteRequest(&result)) {
        conv->setIdle();
    } else if (result != 0) {
        pkg::setState(out, PROTO_STATE_FAILED);
        conv->setError();
    }
}

}  // namespace

int32_t ORBEL_ClbWriteBlock(const uint8_t* package, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbWriteBlock";
    pkg::HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    const auto request = pkg::takeBlockRequest(conv, package, out);
    if (!request) return 0;
    const auto [code, address, length] = *request;
    pkg::setState(out, PROTO_STATE_DONE);
    ORBEL_Trace("%s(): requested addr 0x%04x requested length %d\n", name, address, length);

    switch (classifyWriteAddress(*conv, address)) {
        case WriteAddressClass::ErrorMemory: {
            if (length <= 1) {
                ORBEL_Trace("%s(): error pointer will be ignored!\n", name);
                break;
            }
            int32_t result = 0;
            conv->setBusy();
            if (conv->getErrorMemoryHandler().ResetErrorMemory(&result)) break;
            ORBEL_Trace("%s(): unable to reset error memory\n", name);
            if (result != 0) {
                // The machine's entries are still there: the clear failed.
                pkg::setState(out, PROTO_STATE_FAILED);
                conv->setError();
            } else {
                conv->setIdle();  // an empty copy: nothing to clear
            }
            break;
        }
        case WriteAddressClass::Parameters: writeParameters(conv, out, name, code, package, address, length); break;
        case WriteAddressClass::ChargerParameters:
            ORBEL_WriteChargerParameters(conv, out, name, package, address, length);
            break;
        case WriteAddressClass::BlockDownload:
            ORBEL_Trace("%s(): block download will be handled by ORBEL_ConvStartBlockDownloadFile() ...\n", name);
            pkg::setState(out, PROTO_STATE_FAILED);
            conv->setIdle();
            break;
        case WriteAddressClass::SerialNumber:
            writeNumber(conv, out, name, "serial number", package, length, ORBEL_CommDiag::WriteSNNumber);
            break;
        case WriteAddressClass::MaterialNumber:
            writeNumber(conv, out, name, "material number", package, length, ORBEL_CommDiag::WriteMaterialNumber);
            break;
        case WriteAddressClass::OpHoursCounter: {
            ORBEL_Trace("%s(): write request to operating hours counter detected! 0x%04x %d\n", name, address, length);
            conv->setBusy();
            const int32_t result = conv->setOpHoursCounterValue(address, package, kDataPos, length);
            if (result == 0) {
                ORBEL_Trace("%s(): write request to operating hours counter started\n", name);
            } else {
                ORBEL_Trace("%s(): unable to start write request to operating hours counter ret: %d\n", name,
                            static_cast<int>(result));
                pkg::setState(out, PROTO_STATE_FAILED);
                conv->setError();
            }
            break;
        }
        case WriteAddressClass::Command: {
            const uint8_t mode = package[6];
            const uint8_t value = package[7];
            ORBEL_Trace("%s(): command requested 0x%02x value 0x%02x 0x%02x\n", name, address, mode, value);
            conv->setBusy();
            if (conv->setMachineMode(mode)) {
                conv->setPendingCommand(mode, value);
            } else {
                ORBEL_Trace("%s(): unable to set machine mode\n", name);
                // No mode switch, so no command may follow it.
                conv->setPendingCommand(0, 0);
                pkg::setState(out, PROTO_STATE_FAILED);
                conv->setError();
            }
            break;
        }
        case WriteAddressClass::Unknown: pkg::refuseUnknownAddress(out, name, address); break;
    }
    return 0;
}

int32_t ORBEL_ClbWriteBlockAnswer(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbWriteBlockAnswer";
    pkg::HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    if (!conv->isConnected()) {
        pkg::setState(out, PROTO_STATE_FAILED);
        return 0;
    }
    if (conv->isBusy()) {
        ORBEL_Trace("%s(): still busy\n", name);
        pkg::setState(out, PROTO_STATE_BUSY);
        return 0;
    }
    if (conv->getCurrentAddress() == kCommandAddress) {
        uint8_t mode = 0;
        uint8_t value = 0;
        conv->getPendingCommand(&mode, &value);
        conv->setPendingCommand(0, 0);
        if (conv->isError()) {
            pkg::setState(out, PROTO_STATE_FAILED);  // the mode switch failed: no command runs
        } else if (mode == SM_TESTMODE) {
            conv->setBusy();
            if (conv->handleCommand(value)) {
                pkg::setState(out, PROTO_STATE_BUSY);
            } else {
                conv->setError();
                pkg::setState(out, PROTO_STATE_FAILED);
            }
        } else {
            pkg::setState(out, PROTO_STATE_DONE);
        }
        return 0;
    }
    pkg::setState(out, conv->isError() ? PROTO_STATE_FAILED : PROTO_STATE_DONE);
    return 0;
}
