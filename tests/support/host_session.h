#pragma once
// Drives the converter's exports the way the legacy host does: write a package, then read the
// whole answer.
#include <cstdint>
#include <vector>

#include "orbel_dll/orbel_dll.h"
#include "platform/clock.h"

namespace orbeltest {

struct Exchange {
    int32_t result = -1;
    std::vector<uint8_t> answer;
};

// Opens a converter session on COM1, as the host does.
inline int32_t initOnCom1() {
    char port[] = "\\\\.\\COM1";
    return ORBEL_DllInit(port);
}

inline std::vector<uint8_t> readAnswer() {
    std::vector<uint8_t> answer;
    int32_t count = 0;
    if (ORBEL_ConvGetByteCount(&count) != ORBEL_OK) return answer;
    for (int32_t i = 0; i < count; ++i) {
        uint8_t byte = 0;
        if (ORBEL_ConvReadData(&byte) != ORBEL_OK) break;
        answer.push_back(byte);
    }
    return answer;
}

inline Exchange exchange(std::vector<uint8_t> package) {
    Exchange e;
    e.result = ORBEL_ConvWriteData(static_cast<uint32_t>(package.size()), package.data());
    e.answer = readAnswer();
    return e;
}

// Repeats a command every pauseMs while the converter answers busy, as the host does; the last
// answer (still busy when limitMs ran out).
inline std::vector<uint8_t> pollWhileBusy(uint8_t command, uint32_t limitMs = 20000, uint32_t pauseMs = 5) {
    const uint32_t start = platform::tickCountMs();
    for (;;) {
        auto e = exchange({0xAA, 0x03, command, 0x00, 0x00});
        if (e.answer.size() < 4 || e.answer[3] != 2 || platform::tickCountMs() - start > limitMs) return e.answer;
        platform::sleepMs(pauseMs);
    }
}

}  // namespace orbeltest
