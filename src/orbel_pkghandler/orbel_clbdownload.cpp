// The write-block classes of the block download handler: charger parameters in two packages,
// and the old protocol's fast block download (0xD5), which block downloads no longer take.
#include "orbel_pkghandler/orbel_clbdownload.h"

#include <cstring>

#include "common/orbel_trace.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_pkghandler/orbel_clbhandlers.h"

namespace {

constexpr uint32_t kDataPos = 7;
constexpr uint32_t kChargerCapacity = 128;
constexpr uint8_t kFastDownloadLength = 68;

// The first package of a charger write, kept for the second; host thread only.
struct ChargerBuffer {
    uint8_t bytes[kChargerCapacity] = {};
    uint32_t fill = 0;
};
ChargerBuffer charger;

void setState(ORBEL_ConvBuffer* out, uint8_t state) { ORBEL_PkgHandler::setStateByte(out, state); }

}  // namespace

void ORBEL_ResetChargerBuffer() { charger.fill = 0; }

void ORBEL_WriteChargerParameters(ORBEL_Conv* conv, ORBEL_ConvBuffer* out, const char* name, const uint8_t* package,
                                  uint32_t address, uint8_t length) {
    ORBEL_Trace("%s(): charger write request detected\n", name);
    const uint32_t start = conv->getChargerParamAddrStart();
    if (address == start) {
        ORBEL_Trace("%s(): first package detected! 0x%02x len: %d\n", name, address, length);
        if (length > kChargerCapacity) {
            ORBEL_Trace("%s(): block size is invalid!\n", name);
            setState(out, PROTO_STATE_FAILED);
        } else {
            std::memcpy(charger.bytes, package + kDataPos, length);
            charger.fill = length;
            setState(out, PROTO_STATE_DONE);
        }
        conv->setIdle();
        return;
    }
    ORBEL_Trace("%s(): second package detected! 0x%02x len: %d\n", name, address, length);
    // Both packages must fit the buffer: nothing is sent of a write that does not.
    if (charger.fill + length > kChargerCapacity) {
        ORBEL_Trace("%s(): block size is invalid!\n", name);
        charger.fill = 0;
        setState(out, PROTO_STATE_FAILED);
        conv->setIdle();
        return;
    }
    std::memcpy(charger.bytes + charger.fill, package + kDataPos, length);
    const uint32_t size = charger.fill + length;
    charger.fill = 0;
    // The handler marks the converter busy before the transfer starts; a refusal gives the
    // state back.
    if (conv->getBlockDownloadHandler().SendCurveDataAsBlock(start, size, charger.bytes)) {
        setState(out, PROTO_STATE_DONE);
        return;
    }
    setState(out, PROTO_STATE_FAILED);
    conv->setIdle();
}

int32_t ORBEL_ClbWriteBlockDownloadFast(const uint8_t* package, int32_t, ORBEL_ConvBuffer* out) {
    const char* const name = "ORBEL_ClbWriteBlockDownloadFast";
    ORBEL_Trace("%s(): ++\n", name);
    ORBEL_Conv* conv = ORBEL_PkgHandler::getConverter();
    if (!conv->isConnected()) {
        setState(out, PROTO_STATE_FAILED);
        ORBEL_Trace("%s(): --\n", name);
        return 0;
    }
    const uint32_t address = package[3] | (package[4] << 8);
    if (conv->startRequest(package[2], address, kFastDownloadLength, package[PROTO_CMD_STATE_POS])) {
        setState(out, PROTO_STATE_DONE);
        ORBEL_Trace("%s(): requested addr 0x%04x requested length %d\n", name, address, kFastDownloadLength);
        if (conv->getBlockDownloadAddrStart() <= address && address <= conv->getBlockDownloadAddrEnd()) {
            ORBEL_Trace("%s(): block download will be handled by ORBEL_ConvStartBlockDownloadFile() ...\n", name);
            setState(out, PROTO_STATE_FAILED);
            conv->setIdle();
        } else {
            ORBEL_Trace("%s(): unkown address 0x%04x requested\n", name, address);
            setState(out, PROTO_STATE_FAILED);
        }
    }
    ORBEL_Trace("%s(): --\n", name);
    return 0;
}
