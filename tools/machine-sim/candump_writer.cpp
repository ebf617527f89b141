#include "candump_writer.h"

namespace msim {

CandumpWriter::CandumpWriter(std::FILE* out, std::string interface, Time start,
                             std::chrono::system_clock::time_point wallStart)
    : out_(out), interface_(std::move(interface)), start_(start), wallStart_(wallStart) {}

void CandumpWriter::write(const CanFrame& frame, Time when) {
    const auto wall = wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(when - start_);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(wall.time_since_epoch()).count();
    std::fprintf(out_, "(%lld.%06lld) %s %s\n", static_cast<long long>(us / 1000000),
                 static_cast<long long>(us % 1000000), interface_.c_str(), toCandumpText(frame).c_str());
    // One line at a time, so that a reader following the file sees whole frames promptly.
    std::fflush(out_);
}

}  // namespace msim
