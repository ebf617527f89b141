#pragma once
// Small helpers the command handlers share.
#include <cstdint>
#include <optional>
#include <vector>

#include "common/orbel_convbuffer.h"
#include "common/orbel_trace.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_pkghandler/orbel_pkghandler.h"

namespace pkg {

// Logs "++" on entry and "--" on exit with the handler's name.
class HandlerTrace {
public:
    explicit HandlerTrace(const char* name) : name_(name) { ORBEL_Trace("%s(): ++\n", name_); }
    ~HandlerTrace() { ORBEL_Trace("%s(): --\n", name_); }
    HandlerTrace(const HandlerTrace&) = delete;
    HandlerTrace& operator=(const HandlerTrace&) = delete;

private:
    const char* name_;
};

inline void appendZeros(ORBEL_ConvBuffer* out, uint32_t count) {
    const std::vector<uint8_t> zeros(count, 0);
    out->writeBytes(count, zeros.data());
}

inline void setState(ORBEL_ConvBuffer* out, uint8_t state) { ORBEL_PkgHandler::setStateByte(out, state); }

// An address in no class the block commands serve: traced and refused.
inline void refuseUnknownAddress(ORBEL_ConvBuffer* out, const char* name, uint32_t address) {
    ORBEL_Trace("%s(): unkown address 0x%04x requested\n", name, address);
    setState(out, PROTO_STATE_FAILED);
}

// A block request: 16-bit address at 4 and 5 with the length at 6 for the wide codes, else an
// 8-bit address at 4 and the length at 5.
struct BlockRequest {
    uint8_t code;
    uint32_t address;
    uint8_t length;
};
// The start the block commands share: refused while no machine is connected, and none when the
// converter does not take the request.
inline std::optional<BlockRequest> takeBlockRequest(ORBEL_Conv* conv, const uint8_t* package, ORBEL_ConvBuffer* out) {
    if (!conv->isConnected()) {
        setState(out, PROTO_STATE_FAILED);
        return std::nullopt;
    }
    const uint8_t code = package[2];
    const bool wide = ORBEL_PkgHandler::hasWideAddress(code);
    const BlockRequest r{code, wide ? static_cast<uint32_t>(package[4] | (package[5] << 8)) : package[4],
                         package[wide ? 6 : 5]};
    if (!conv->startRequest(r.code, r.address, r.length, package[PROTO_CMD_STATE_POS])) return std::nullopt;
    return r;
}

// Writes an answer byte only inside [0, areaEnd): the answer's appended area.
inline void putInside(ORBEL_ConvBuffer* out, uint32_t index, uint8_t value, uint32_t areaEnd) {
    if (index < areaEnd) out->changeByte(index, value);
}

}  // namespace pkg
