#pragma once
#include <cstdarg>
#include <functional>
#include <string>

namespace msim {

// Human-readable diagnostics of the twin (standard error in the program). Level 0 shows
// warnings only, 1 adds what happens on the bus in broad strokes, 2 every SDO transfer.
class Log {
public:
    using Sink = std::function<void(const std::string&)>;

    explicit Log(Sink sink = {}, int level = 1);

    void warn(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void info(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void debug(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    int level() const { return level_; }

private:
    void emit(const char* fmt, va_list args);

    Sink sink_;
    int level_;
};

}  // namespace msim
