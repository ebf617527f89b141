#pragma once
#include <cstdint>

namespace platform {

// A Win32-style event: manual-reset events stay signalled until reset; auto-reset
// events release one waiter and reset themselves.
class Event {
public:
    explicit Event(bool manualReset = true, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // Waits at most timeoutMs (kInfinite: unbounded); true if the event was signalled.
    bool wait(uint32_t timeoutMs);

    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace platform
