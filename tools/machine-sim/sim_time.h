#pragma once
#include <chrono>
#include <optional>

namespace msim {

// The core never reads a clock: callers pass "now" in and ask for the next deadline, so
// tests run the node on a fake time line and the program on the monotonic clock.
using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;
using Millis = std::chrono::milliseconds;
using Micros = std::chrono::microseconds;

inline std::optional<Time> earliest(std::optional<Time> a, std::optional<Time> b) {
    if (!a) return b;
    if (!b) return a;
    return *a < *b ? a : b;
}

}  // namespace msim
