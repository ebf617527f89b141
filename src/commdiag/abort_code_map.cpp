#include "abort_code_map.h"

#include "canopen/sdo_line.h"
#include "types.h"

namespace CommDiag {

const std::map<uint32_t, int>& abortCodeMap() {
    static const std::map<uint32_t, int> map{
        {0x00000000u, RESULT_OK},
        {0x06010001u, RESULT_BUS_NOT_ACCESSIBLE},
        {0x06010002u, RESULT_BUS_NOT_ACCESSIBLE},
        {0x06020000u, RESULT_NO_OBJECT},
        {0x06040041u, RESULT_NOT_MAPPABLE},
        {0x06070010u, RESULT_SIZE_MISMATCH},
        {0x06090011u, RESULT_NO_SUB_INDEX},
        {0x06090030u, RESULT_INVALID},
        {0x06090031u, RESULT_INVALID},
        {0x06090032u, RESULT_INVALID},
        {0x05030000u, RESULT_INVALID},
        {0x05040000u, RESULT_TIMEOUT},
        {0x05040005u, RESULT_INVALID},
        {0x08000000u, RESULT_FAILED},
        {0x08000021u, RESULT_INVALID},
        {0x06010000u, RESULT_UNSUPPORTED_ACCESS},
        {0x08000024u, RESULT_NO_DATA},
    };
    return map;
}

int mapSdoResult(uint8_t status, uint32_t abortCode) {
    const auto& map = abortCodeMap();
    auto mapped = map.find(abortCode);
    if (mapped != map.end() && mapped->second != RESULT_OK) return mapped->second;
    if (status == canopen::kSdoFinished) return RESULT_OK;
    if (status == canopen::kSdoAbortedLocally) return RESULT_TIMEOUT;
    return RESULT_FAILED;
}

}  // namespace CommDiag
