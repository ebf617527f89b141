// Any byte stream the host writes, cut into writes of any size, with the converter idle or busy.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "orbel_conv/orbel_conv.h"
#include "orbel_dll/orbel_dll.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::freopen("/dev/null", "w", stdout);  // the trace would drown the fuzzer's output
    static char port[] = "\\\\.\\COM1";
    ORBEL_DllInit(port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // First byte: whether the converter is busy, and the size of each write.
    const bool busy = data[0] & 0x80;
    const size_t chunk = (data[0] & 0x7F) + 1;
    if (busy)
        ORBEL_Conv::getInstance()->setBusy();
    else
        ORBEL_Conv::getInstance()->setIdle();
    std::vector<uint8_t> bytes(data + 1, data + size);
    for (size_t pos = 0; pos < bytes.size(); pos += chunk) {
        const size_t n = bytes.size() - pos < chunk ? bytes.size() - pos : chunk;
        ORBEL_ConvWriteData(static_cast<uint32_t>(n), bytes.data() + pos);
        int32_t count = 0;
        ORBEL_ConvGetByteCount(&count);
        uint8_t byte = 0;
        while (ORBEL_ConvReadData(&byte) == ORBEL_OK) {
        }
    }
    return 0;
}
