#pragma once
#include <cstdint>

// The local copy of the machine's error buffer. This build only resets it; reading and
// clearing the machine's buffer are not in it yet.
class ORBEL_ErrorMemoryHandler {
public:
    void reset();
    uint8_t getWriteIndex() const { return writeIndex; }

private:
    uint8_t writeIndex = 0;
};
