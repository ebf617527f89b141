#pragma once
#include <atomic>
#include <cstdint>

// What the converter knows about the connected machine. The completion callbacks write it on
// the stack's threads and the host's thread reads it once the converter is no longer busy, so
// the flags are atomics: their release stores publish the data written before them.
class ORBEL_Machine {
public:
    bool isConnected() const { return connected.load(std::memory_order_acquire); }

    // Software version as the machine reports it: patch, minor, major.
    const uint8_t* getSwVersion() const { return swVersion; }

protected:
    std::atomic<bool> connected{false};
    std::atomic<bool> swVersionRead{false};
    uint8_t swVersion[3] = {0, 0, 0};
};
