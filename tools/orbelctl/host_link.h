#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "converter_library.h"

// The legacy host's side of the byte stream: one package written, the whole answer read.
struct Answer {
    int32_t writeResult = -1;
    std::vector<uint8_t> bytes;

    bool empty() const { return bytes.size() < 4; }
    uint8_t state() const { return empty() ? 0 : bytes[3]; }
};

class HostLink {
public:
    HostLink(ConverterLibrary& library, unsigned timeoutMs) : library_(library), timeoutMs_(timeoutMs) {}

    Answer exchange(const std::vector<uint8_t>& package);

    // Repeats the package while the answer says "busy" (state 2), as the host polls; gives up
    // after the time limit with `timedOut` set.
    Answer poll(const std::vector<uint8_t>& package, bool& timedOut);

    // A request package: start byte, length, command, state byte, data, checksum.
    static std::vector<uint8_t> package(uint8_t command, uint8_t stateByte = 0, const std::vector<uint8_t>& data = {});

private:
    ConverterLibrary& library_;
    unsigned timeoutMs_;
};
