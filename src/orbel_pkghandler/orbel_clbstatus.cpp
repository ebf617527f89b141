// Status, mode and boot-status commands: how the host finds, wakes and identifies the module,
// answered in the old module's byte layout.
#include "common/orbel_trace.h"
#include "machine_link/orbel_commdiag.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_pkghandler/handler_support.h"
#include "orbel_pkghandler/orbel_clbhandlers.h"

namespace {

using pkg::appendZeros;
using pkg::HandlerTrace;
using pkg::setState;

void setByte(ORBEL_ConvBuffer* out, uint32_t index, uint8_t value) {
    ORBEL_PkgHandler::setAnswerByte(out, index, value);
}

uint8_t statusByte1(ORBEL_Conv* conv, const char* name) {
    if (conv->isModuleModeObjectUsed()) {
        switch (conv->getModuleMode()) {
            case 1: return 0x01;
            case 2: return 0x04;
            case 3: return 0x02;
            case 4: return 0x08;
            case 5: return 0x10;
            case 6: return 0x20;
            case 7: return 0x40;
            default:
                ORBEL_Trace("%s(): unhandled mode detected! %d\n", name, static_cast<int>(conv->getModuleMode()));
                return 0;
        }
    }
    switch (conv->getMachineMode()) {
        case 0: return 0x01;
        case 1: return 0x20;
        case 2: return 0x10;
        case 3: return 0x40;
        default:
            ORBEL_Trace("%s(): unhandled mode detected! %d\n", name, static_cast<int>(conv->getMachineMode()));
            return 0;
    }
}

// Starts one machine request: busy while it runs, failed and error when it cannot start. The
// converter is marked busy before the start, because the request may complete (and set idle)
// on a stack thread before the start call returns.
void startRequest(ORBEL_Conv* conv, ORBEL_ConvBuffer* out, const char* name, const char* operation, int32_t (*start)(),
                  bool logFailure = true) {
    conv->setBusy();
    const int32_t result = start();
    ORBEL_Trace("%s(): ORBEL_CommDiag::%s() returned with 0x%02x\n", name, operation, static_cast<unsigned>(result));
    if (result == 0) {
        setState(out, PROTO_STATE_BUSY);
        return;
    }
    if (logFailure)
        ORBEL_Trace("%s(): ORBEL_CommDiag::%s() failed 0x%02x\n", name, operation, static_cast<unsigned>(result));
    setState(out, PROTO_STATE_FAILED);
    conv->setError();
}

}  // namespace

int32_t ORBEL_ClbServModulStatus(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbServModulStatus";
    HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    appendZeros(out, 4);
    setState(out, PROTO_STATE_DONE);
    const uint8_t status = statusByte1(conv, name);
    ORBEL_Trace("%s(): current value for StatusByte1: 0x%02x\n", name, status);
    setByte(out, PROTO_CMD_STATE_POS, 0);
    setByte(out, 4, status);
    setByte(out, 5, 0);
    setByte(out, 6, 0);
    setByte(out, 7, 0);
    return 0;
}

int32_t ORBEL_ClbReadBootStatus(const uint8_t* package, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbReadBootStatus";
    HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    if (!conv->isConnected()) {
        setState(out, PROTO_STATE_FAILED);
        return 0;
    }
    setState(out, PROTO_STATE_FAILED);
    if (conv->isBusy()) {
        ORBEL_Trace("%s(): still busy\n", name);
        setState(out, PROTO_STATE_BUSY);
        return 0;
    }
    if (package[PROTO_CMD_STATE_POS] != 1) {
        ORBEL_Trace("%s(): unable to handle request!\n", name);
        return 0;
    }
    const uint8_t low = package[4];
    const uint8_t high = package[5];
    ORBEL_BlockDownloadHandler& downloads = conv->getBlockDownloadHandler();
    if (low != 0 || (high != 0x00 && high != 0x02 && high != 0x04 && high != 0x08)) {
        ORBEL_Trace("%s(): unable to handle request! low: 0x%02x high: 0x%02x\n", name, low, high);
        return 0;
    }
    switch (high) {
        case 0x02:
            ORBEL_Trace("%s(): control update requested!\n", name);
            downloads.setBootStatus(1, 4);
            break;
        case 0x08:
            ORBEL_Trace("%s(): bt update requested!\n", name);
            downloads.setBootStatus(1, 4);
            break;
        case 0x04:
            ORBEL_Trace("%s(): display text update requested\n", name);
            downloads.setBootStatus(1, 8);
            break;
        default:
            ORBEL_Trace("%s(): mode reset requested?!\n", name);
            downloads.setBootStatus(0, 0);
            break;
    }
    setState(out, PROTO_STATE_DONE);
    return 0;
}

int32_t ORBEL_ClbReadBootStatusAnswer(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbReadBootStatusAnswer";
    HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    appendZeros(out, 6);
    if (!conv->isConnected()) {
        setState(out, PROTO_STATE_FAILED);
        return 0;
    }
    if (conv->isBusy()) {
        ORBEL_Trace("%s(): still busy\n", name);
        setState(out, PROTO_STATE_BUSY);
        return 0;
    }
    setState(out, PROTO_STATE_DONE);
    setByte(out, 4, 1);
    setByte(out, 7, conv->getMachineMode() == 2 ? 0x10 : 0x00);
    const ORBEL_BlockDownloadHandler::BootStatus boot = conv->getBlockDownloadHandler().getBootStatus();
    setByte(out, 8, boot.active ? boot.value : (conv->getMachineMode() == 1 ? 1 : 0));
    return 0;
}

int32_t ORBEL_ClbModulConfigRequest(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    HandlerTrace trace("ORBEL_ClbModulConfigRequest");
    setState(out, ORBEL_PkgHandler::getConverter()->isConnected() ? PROTO_STATE_DONE : PROTO_STATE_FAILED);
    return 0;
}

int32_t ORBEL_ClbModulConfigPick(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    HandlerTrace trace("ORBEL_ClbModulConfigPick");
    appendZeros(out, 24);
    if (!ORBEL_PkgHandler::getConverter()->isConnected()) {
        setState(out, PROTO_STATE_FAILED);
        return 0;
    }
    setByte(out, 25, 0x10);
    setByte(out, 26, 0);
    setState(out, PROTO_STATE_DONE);
    return 0;
}

int32_t ORBEL_ClbStandardservicemode(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbStandardservicemode";
    HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    if (!conv->isConnected()) {
        startRequest(conv, out, name, "StartConnection", ORBEL_CommDiag::StartConnection);
        return 0;
    }
    if (!conv->isSerialNumberRead()) {
        startRequest(conv, out, name, "ReadSNNumber", ORBEL_CommDiag::ReadSNNumber);
        return 0;
    }
    setState(out, PROTO_STATE_DONE);
    conv->setIdle();
    return 0;
}

int32_t ORBEL_ClbSinglesteuerungsMode(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbSinglesteuerungsMode";
    HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    if (!conv->isConnected()) {
        setState(out, PROTO_STATE_FAILED);
        return 0;
    }
    // An identification read that failed is reported once; the next request reads again.
    if (conv->takeIdentificationFailure()) {
        ORBEL_Trace("%s(): identification failed\n", name);
        setState(out, PROTO_STATE_FAILED);
        conv->setIdle();
        return 0;
    }
    if (!conv->isSwVersionRead()) {
        startRequest(conv, out, name, "ReadSwVersion", ORBEL_CommDiag::ReadSwVersion);
        return 0;
    }
    if (!conv->isMachineTypeRead()) {
        startRequest(conv, out, name, "ReadMachineType", ORBEL_CommDiag::ReadMachineType, false);
        return 0;
    }
    setState(out, PROTO_STATE_DONE);
    return 0;
}

int32_t ORBEL_ClbSinglesteuerungsModeAnswer(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbSinglesteuerungsModeAnswer";
    HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    appendZeros(out, 21);
    setByte(out, 5, 1);
    if (!conv->isConnected()) {
        setState(out, PROTO_STATE_FAILED);
        return 0;
    }
    const ORBEL_Machine::SwVersion version = conv->getSwVersion();  // patch, minor, major
    const uint8_t minor = version[1] > 5 ? 0x0F : (version[1] & 0x0F);
    setByte(out, 8, static_cast<uint8_t>((version[2] << 4) | minor));

    uint8_t family = 0x0A;
    uint8_t model = 0x00;
    switch (conv->getMachineNumber()) {
        case 0: ORBEL_Trace("%s(): machine seems to be in bootloader mode.\n", name); break;
        case 1: model = 0x08; break;
        case 2: model = 0x09; break;
        case 3: model = 0x0A; break;
        case 4: model = 0x0B; break;
        case 5: model = 0x0C; break;
        case 6: model = 0x0E; break;
        case 9:
            family = 0x0D;
            model = 0x01;
            break;
        default:
            family = 0x00;
            ORBEL_Trace("%s(): unkown machine found!\n", name);
            break;
    }
    setByte(out, 6, family);
    setByte(out, 7, model);
    setState(out, PROTO_STATE_DONE);
    return 0;
}

int32_t ORBEL_ClbResetSingleMode(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    HandlerTrace trace("ORBEL_ClbResetSingleMode");
    setState(out, PROTO_STATE_DONE);
    return 0;
}
