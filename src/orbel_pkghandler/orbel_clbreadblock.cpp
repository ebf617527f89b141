// Read-block commands: the host names an address range (0x07 with an 8-bit address, 0x1D with a
// 16-bit one), the converter fetches the data from the machine, and the answer request (0x08,
// 0x1E), repeated while busy, carries it back in the old module's layout.
#include "machine_link/orbel_commdiag.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_pkghandler/handler_support.h"
#include "orbel_pkghandler/orbel_addressclass.h"
#include "orbel_pkghandler/orbel_clbhandlers.h"

namespace {

constexpr uint8_t kShortReadCode = 0x07;

// Starts a machine read with the converter already busy (its completion may set idle or error
// on a stack thread before the start returns); a start that fails leaves the converter in error.
template <typename Start>
int32_t startBusy(ORBEL_Conv* conv, Start start) {
    conv->setBusy();
    const int32_t result = start();
    if (result != 0) conv->setError();
    return result;
}

// Sensor and counter starts report a package state: 2 running, anything else as it is.
uint8_t startStateRequest(ORBEL_Conv* conv, ORBEL_ConvBuffer* out, uint8_t (ORBEL_Machine::*start)(uint32_t, uint8_t),
                          uint32_t address, uint8_t length) {
    conv->setBusy();
    const uint8_t result = (conv->*start)(address, length);
    if (result == PROTO_STATE_BUSY) {
        pkg::setState(out, PROTO_STATE_DONE);
        return result;
    }
    if (result == PROTO_STATE_FAILED)
        conv->setError();
    else
        conv->setIdle();
    pkg::setState(out, result);
    return result;
}

}  // namespace

int32_t ORBEL_ClbReadBlock(const uint8_t* package, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbReadBlock";
    pkg::HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    const auto request = pkg::takeBlockRequest(conv, package, out);
    if (!request) return 0;
    const auto [code, address, length] = *request;
    // A new read starts afresh: an earlier failure no longer stands for its answer.
    if (conv->isError()) conv->setIdle();
    ORBEL_Trace("%s(): requested addr 0x%04x requested length %d\n", name, address, length);

    switch (classifyReadAddress(*conv, address)) {
        case ReadAddressClass::ErrorMemory: {
            int32_t result = 0;
            conv->setBusy();
            if (conv->getErrorMemoryHandler().StartErrorMemoryReadRequest(&result)) {
                pkg::setState(out, PROTO_STATE_DONE);
            } else {
                ORBEL_Trace("%s(): error memory request failed %d\n", name, static_cast<int>(result));
                conv->setError();
                pkg::setState(out, PROTO_STATE_FAILED);
            }
            break;
        }
        case ReadAddressClass::Parameters: {
            int32_t result = 0;
            conv->setBusy();
            const bool taken = conv->getParameterHandler().StartParameterReadRequest(&result, address, length);
            if (!taken) {
                conv->setIdle();  // nothing to read: the answer is ready now
                pkg::setState(out, PROTO_STATE_DONE);
            } else if (result != 0) {
                ORBEL_Trace("%s(): parameter request failed %d\n", name, static_cast<int>(result));
                conv->setError();
                pkg::setState(out, PROTO_STATE_FAILED);
            } else {
                pkg::setState(out, PROTO_STATE_DONE);
            }
            break;
        }
        case ReadAddressClass::Sensors:
            startStateRequest(conv, out, &ORBEL_Machine::startSensorReq, address, length);
            break;
        case ReadAddressClass::ChargerParameters:
            ORBEL_Trace("%s(): charger parameters requested!\n", name);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::SerialNumber: {
            const int32_t result = startBusy(conv, ORBEL_CommDiag::ReadSNNumber);
            if (result != 0) ORBEL_Trace("%s(): serial number request failed %d\n", name, static_cast<int>(result));
            pkg::setState(out, result == 0 ? PROTO_STATE_DONE : PROTO_STATE_FAILED);
            break;
        }
        case ReadAddressClass::MaterialNumber: {
            const int32_t result = startBusy(conv, ORBEL_CommDiag::ReadMaterialNumber);
            if (result != 0) ORBEL_Trace("%s(): material number request failed %d\n", name, static_cast<int>(result));
            pkg::setState(out, result == 0 ? PROTO_STATE_DONE : PROTO_STATE_FAILED);
            break;
        }
        case ReadAddressClass::OpHoursCounter:
            startStateRequest(conv, out, &ORBEL_Machine::startOpHoursCounterReq, address, length);
            break;
        case ReadAddressClass::Ignored:
            ORBEL_Trace("%s(): Current address 0x%04x will be ignored - returning zero as value\n", name, address);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::Unknown: pkg::refuseUnknownAddress(out, name, address); break;
    }
    return 0;
}

int32_t ORBEL_ClbReadBlockAnswer(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbReadBlockAnswer";
    pkg::HandlerTrace trace(name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    const bool shortLayout = conv->getCurrentCommand() == kShortReadCode;
    const uint8_t length = conv->getCurrentLength();
    const uint32_t address = conv->getCurrentAddress();
    const uint32_t appended = length + (shortLayout ? 4u : 5u);
    pkg::appendZeros(out, appended);
    const uint32_t dataPos = shortLayout ? 7 : 8;
    const uint32_t lengthPos = shortLayout ? 6 : 7;
    const uint32_t areaEnd = 4 + appended;  // answer bytes stay in front of this
    if (!conv->isConnected()) {
        ORBEL_Trace("%s(): no machine connected\n", name);
        pkg::setState(out, PROTO_STATE_FAILED);
        return 0;
    }
    if (conv->isBusy()) {
        ORBEL_Trace("%s(): still busy\n", name);
        pkg::setState(out, PROTO_STATE_BUSY);
        return 0;
    }
    if (conv->isError()) {
        // What the handlers hold is not the machine's answer to this read.
        ORBEL_Trace("%s(): machine request failed\n", name);
        pkg::setState(out, PROTO_STATE_FAILED);
        return 0;
    }
    ORBEL_Trace("%s(): requested addr 0x%04x requested length %d\n", name, address, length);
    ORBEL_PkgHandler::setAnswerByte(out, 4, conv->getCurrentStateByte());
    ORBEL_PkgHandler::setAnswerByte(out, 5, conv->getCurrentAddrLow());
    ORBEL_PkgHandler::setAnswerByte(out, 6, conv->getCurrentAddrHigh());

    switch (classifyReadAddress(*conv, address)) {
        case ReadAddressClass::ErrorMemory:
            ORBEL_Trace("%s(): address is inside error memory\n", name);
            conv->getErrorMemoryHandler().BuildErrorMemoryReadReqAnswer(address, length, out, dataPos);
            ORBEL_PkgHandler::setAnswerByte(out, lengthPos, length);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::Parameters:
            ORBEL_Trace("%s(): address is inside parameter memory\n", name);
            conv->getParameterHandler().BuildParameterReadReqAnswer(address, length, out, dataPos);
            ORBEL_PkgHandler::setAnswerByte(out, lengthPos, length);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::Sensors:
            ORBEL_Trace("%s(): address is inside sensor memory\n", name);
            ORBEL_PkgHandler::setAnswerByte(out, lengthPos, length);
            conv->fillFeatReqBuf(address, length, out, dataPos);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::ChargerParameters:
            ORBEL_PkgHandler::setAnswerByte(out, 7, length);
            ORBEL_Trace("%s(): charger parameters requested!\n", name);
            pkg::putInside(out, length + 6u, 0xFF, areaEnd);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::SerialNumber:
            ORBEL_PkgHandler::setAnswerByte(out, 7, length);
            conv->copySerialNumber(length, out, 8);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::MaterialNumber:
            ORBEL_PkgHandler::setAnswerByte(out, 7, length);
            conv->copyMaterialNumber(length, out, 8);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::OpHoursCounter:
            conv->fillOpHoursCounterReqBuf(address, length, out, dataPos);
            ORBEL_PkgHandler::setAnswerByte(out, lengthPos, length);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::Ignored:
            pkg::putInside(out, 8, 1, areaEnd);
            pkg::setState(out, PROTO_STATE_DONE);
            break;
        case ReadAddressClass::Unknown: pkg::refuseUnknownAddress(out, name, address); break;
    }
    return 0;
}
