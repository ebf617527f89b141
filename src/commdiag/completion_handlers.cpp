#include "completion_handlers.h"

#include "abort_code_map.h"
#include "domain_conversion.h"
#include "library_state.h"
#include "log.h"

#include "canopen/abort_codes.h"
#include "canopen/node_data.h"
#include "canopen/sdo.h"

#include <cstring>
#include <sstream>

namespace CommDiag::detail {

namespace {

// Room for any answer a fixed-size request expects (at most 60 bytes), with margin, so
// that a longer answer is seen with its real size instead of being refused by the stack.
constexpr uint32_t kScratchSize = 64;

void resetLine(canopen::NodeData* node, uint8_t nodeId) {
    canopen::resetSdoClientLine(node, nodeId, canopen::kSdoRoleClient);
}

// Fetches a finished upload into `destination`. An answer too long for it is still taken
// as finished, with its real size, so that the caller reports a size mismatch; its bytes
// are dropped with the line.
uint8_t fetchUpload(canopen::NodeData* node, uint8_t nodeId, void* destination, uint32_t capacity, uint32_t* size,
                    uint32_t* abortCode) {
    *size = capacity;
    uint8_t status = canopen::getReadResultNetworkDict(node, nodeId, destination, size, abortCode);
    if (status != canopen::kSdoBufferTooSmall) return status;
    const canopen::SdoLine& line = node->sdo;
    *size = line.count != 0 ? line.count : line.offset;
    resetLine(node, nodeId);
    return canopen::kSdoFinished;
}

// Completions that arrive with no client (it is being destroyed) or no callback free the
// line and the flag and go no further.
bool deliverable(canopen::NodeData* node, uint8_t nodeId, bool hasCallback) {
    if (!hasCallback) log::line(log::kAlways, "No callback defined (this should not happen!)");
    if (hasCallback && libraryState().currentClient.load(std::memory_order_acquire)) return true;
    resetLine(node, nodeId);
    releaseSdo();
    return false;
}

void logSizeMismatch(uint32_t size, uint32_t expected) {
    log::line(log::kAlways, "Size ", size, " differs from expected size ", expected);
}

void logReadFailure(uint8_t status, uint32_t abortCode) {
    log::line(log::kFailureDetail, "getReadResultNetworkDict() failed (retVal ", unsigned{status}, ", abortCode ",
              log::hex(abortCode), ")");
}

// The write branch shared by element and domain writes.
uint8_t fetchDownload(canopen::NodeData* node, uint8_t nodeId, uint32_t* abortCode) {
    uint8_t status = canopen::getWriteResultNetworkDict(node, nodeId, abortCode);
    if (status != canopen::kSdoFinished) {
        log::line(log::kFailureDetail, "getWriteResultNetworkDict() failed (retVal ", unsigned{status}, ", abortCode ",
                  log::hex(*abortCode), ")");
        resetLine(node, nodeId);
    }
    return status;
}

void logElementValue(int valueType, const uint8_t* bytes) {
    if (!log::enabled(log::kRequestDetail)) return;
    std::ostringstream value;
    switch (valueType) {
        case VALUE_TYPE_U8: value << unsigned{bytes[0]}; break;
        case VALUE_TYPE_I8: value << int{static_cast<int8_t>(bytes[0])}; break;
        case VALUE_TYPE_U16: {
            uint16_t v;
            std::memcpy(&v, bytes, 2);
            value << v;
            break;
        }
        case VALUE_TYPE_I16: {
            int16_t v;
            std::memcpy(&v, bytes, 2);
            value << v;
            break;
        }
        case VALUE_TYPE_U32: {
            uint32_t v;
            std::memcpy(&v, bytes, 4);
            value << v;
            break;
        }
        case VALUE_TYPE_I32: {
            int32_t v;
            std::memcpy(&v, bytes, 4);
            value << v;
            break;
        }
        case VALUE_TYPE_FLOAT: {
            float v;
            std::memcpy(&v, bytes, 4);
            value << v;
            break;
        }
        default: break;
    }
    log::line(log::kRequestDetail, "Result: ", value.str());
}

void logDomainBytes(const uint8_t* bytes, uint32_t size) {
    if (!log::enabled(log::kRequestDetail)) return;
    std::ostringstream text;
    for (uint32_t i = 0; i < size; ++i) text << log::hex2(bytes[i]) << ' ';
    log::line(log::kRequestDetail, "Result: ", text.str());
}

}  // namespace

// The pending record is copied before sdoBusy is released: from then on another request may
// overwrite it, while the callback still needs this one's values.

void readNumberFinished(canopen::NodeData* node, uint8_t nodeId) {
    const Client::ReadNrElementCallbackInfo info = libraryState().readNrInfo;
    if (!deliverable(node, nodeId, info.callback != nullptr)) return;
    log::line(log::kRequestDetail, "ReadNrElementsFinished index 0x", log::hex(info.index), " subIndex ",
              unsigned{info.subIndex});

    uint8_t scratch[kScratchSize];
    uint32_t size = 0;
    uint32_t abortCode = 0;
    uint8_t status = fetchUpload(node, nodeId, scratch, sizeof scratch, &size, &abortCode);
    if (status == canopen::kSdoFinished) {
        if (size != 1) {
            logSizeMismatch(size, 1);
            abortCode = canopen::kAbortLengthMismatch;
        } else {
            *info.data = scratch[0];
            log::line(log::kRequestDetail, "Result: ", unsigned{scratch[0]});
        }
    } else {
        logReadFailure(status, abortCode);
        resetLine(node, nodeId);
    }
    int result = mapSdoResult(status, abortCode);
    releaseSdo();
    info.callback(result, VALUE_TYPE_U8, info.data);
}

void elementFinished(canopen::NodeData* node, uint8_t nodeId) {
    const Client::ElementCallbackInfo info = libraryState().elementInfo;
    if (!deliverable(node, nodeId, info.callback != nullptr)) return;
    log::line(log::kRequestDetail, info.isRead ? "Read" : "Write", " ElementFinished index 0x", log::hex(info.index),
              " subIndex ", unsigned{info.subIndex});

    uint8_t status;
    uint32_t abortCode = 0;
    if (info.isRead) {
        const uint32_t expected = elementSize(info.valueType);
        uint8_t scratch[kScratchSize];
        uint32_t size = 0;
        status = fetchUpload(node, nodeId, scratch, sizeof scratch, &size, &abortCode);
        if (status == canopen::kSdoFinished) {
            if (size != expected) {
                logSizeMismatch(size, expected);
                abortCode = canopen::kAbortLengthMismatch;
            } else {
                std::memcpy(info.data, scratch, expected);
                logElementValue(info.valueType, scratch);
            }
        } else {
            logReadFailure(status, abortCode);
            resetLine(node, nodeId);
        }
    } else {
        status = fetchDownload(node, nodeId, &abortCode);
    }
    int result = mapSdoResult(status, abortCode);
    releaseSdo();
    info.callback(result, info.valueType, info.subIndex, info.data);
}

void domainFinished(canopen::NodeData* node, uint8_t nodeId) {
    const Client::DomainCallbackInfo info = libraryState().domainInfo;
    if (!deliverable(node, nodeId, info.callback != nullptr)) return;
    log::line(log::kRequestDetail, info.isRead ? "Read" : "Write", " DomainFinished index 0x", log::hex(info.index),
              " subIndex ", unsigned{info.subIndex});

    uint8_t status;
    uint32_t abortCode = 0;
    if (info.isRead) {
        DomainLayout layout;
        const bool converted = domainLayout(info.domainType, &layout);
        uint8_t scratch[kScratchSize];
        uint8_t* buffer = converted ? scratch : static_cast<uint8_t*>(info.data);
        const uint32_t expected = converted ? layout.wireSize : info.size;
        const uint32_t capacity = converted ? static_cast<uint32_t>(sizeof scratch) : info.size;
        uint32_t size = 0;
        status = fetchUpload(node, nodeId, buffer, capacity, &size, &abortCode);
        if (status == canopen::kSdoFinished) {
            if (size != expected) {
                logSizeMismatch(size, expected);
                abortCode = canopen::kAbortLengthMismatch;
            } else {
                logDomainBytes(buffer, size);
                if (converted) unpackDomain(info.domainType, buffer, static_cast<uint8_t*>(info.data));
            }
        } else {
            logReadFailure(status, abortCode);
            resetLine(node, nodeId);
        }
    } else {
        status = fetchDownload(node, nodeId, &abortCode);
    }
    int result = mapSdoResult(status, abortCode);
    releaseSdo();
    info.callback(result, VALUE_TYPE_DOMAIN, info.subIndex, info.data, info.size);
}

}  // namespace CommDiag::detail
