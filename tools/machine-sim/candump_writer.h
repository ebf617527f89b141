#pragma once
#include <chrono>
#include <cstdio>
#include <string>

#include "can_frame.h"
#include "sim_time.h"

namespace msim {

// Bus traffic in the candump log format ("(1700000000.123456) can0 70A#7F"), which
// can-utils' canplayer/log2asc and python-can's log reader take as they are.
class CandumpWriter {
public:
    // `out` is borrowed and must outlive the writer. Time stamps are wall-clock: `start` on the
    // twin's time line corresponds to `wallStart`.
    CandumpWriter(std::FILE* out, std::string interface, Time start,
                  std::chrono::system_clock::time_point wallStart = std::chrono::system_clock::now());

    void write(const CanFrame& frame, Time when);

private:
    std::FILE* out_;
    std::string interface_;
    Time start_;
    std::chrono::system_clock::time_point wallStart_;
};

}  // namespace msim
