#pragma once
#include <cstdint>

#include "parameters/parameter_requests.h"

// The local copy of the machine's error buffer. This build only resets it; reading and
// clearing the machine's buffer are not in it yet.
class ORBEL_ErrorMemoryHandler {
public:
    explicit ORBEL_ErrorMemoryHandler(IParameterRequests& requests) : requests(requests) {}
    ORBEL_ErrorMemoryHandler(const ORBEL_ErrorMemoryHandler&) = delete;
    ORBEL_ErrorMemoryHandler& operator=(const ORBEL_ErrorMemoryHandler&) = delete;

    void reset();
    uint8_t getWriteIndex() const { return writeIndex; }

private:
    [[maybe_unused]] IParameterRequests& requests;  // the error buffer requests are not in this build yet
    uint8_t writeIndex = 0;
};
