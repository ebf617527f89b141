#include "log.h"

#include <atomic>
#include <iomanip>
#include <iostream>
#include <mutex>

namespace CommDiag::log {

namespace {

std::atomic<int> g_level{0};

std::mutex& outputMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void setLevel(int level) { g_level.store(level, std::memory_order_relaxed); }

int level() { return g_level.load(std::memory_order_relaxed); }

void writeLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(outputMutex());
    std::cout << text << std::endl;
}

std::ostream& operator<<(std::ostream& out, Hex value) {
    std::ios_base::fmtflags flags = out.flags();
    char fill = out.fill();
    out << std::hex << std::setfill('0') << std::setw(value.width) << value.value;
    out.flags(flags);
    out.fill(fill);
    return out;
}

}  // namespace CommDiag::log
