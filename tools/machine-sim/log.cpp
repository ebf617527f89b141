#include "log.h"

#include <cstdarg>
#include <cstdio>

namespace msim {

Log::Log(Sink sink, int level) : sink_(std::move(sink)), level_(level) {
    if (!sink_) {
        sink_ = [](const std::string& line) {
            std::fprintf(stderr, "machine-sim: %s\n", line.c_str());
            std::fflush(stderr);
        };
    }
}

void Log::emit(const char* fmt, va_list args) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, args);
    sink_(buf);
}

void Log::warn(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    emit(fmt, args);
    va_end(args);
}

void Log::info(const char* fmt, ...) {
    if (level_ < 1) return;
    va_list args;
    va_start(args, fmt);
    emit(fmt, args);
    va_end(args);
}

void Log::debug(const char* fmt, ...) {
    if (level_ < 2) return;
    va_list args;
    va_start(args, fmt);
    emit(fmt, args);
    va_end(args);
}

}  // namespace msim
