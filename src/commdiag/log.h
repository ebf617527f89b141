#pragma once
// The library's log: one message per line on standard output, flushed, gated by the
// library-wide level that SetLogLevel sets.
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

namespace CommDiag::log {

// Levels at which the kinds of messages appear.
enum Level : int {
    kAlways = 0,
    kProgress = 1,       // connection progress, node states, bus access, stack hooks
    kFailureDetail = 3,  // details of failed SDO results
    kRequestDetail = 5,  // request start and completion, decoded results, bring-up
    kConstruction = 10,
};

void setLevel(int level);
int level();
inline bool enabled(int messageLevel) { return level() >= messageLevel; }

// Writes one whole line, so that lines of different threads never mix.
void writeLine(const std::string& text);

template <typename... Parts>
void line(int messageLevel, const Parts&... parts) {
    if (!enabled(messageLevel)) return;
    std::ostringstream text;
    (text << ... << parts);
    writeLine(text.str());
}

// Formatting helpers: hexadecimal without prefix, and with a fixed number of digits.
struct Hex {
    uint32_t value;
    int width;
};
inline Hex hex(uint32_t value) { return {value, 0}; }
inline Hex hex2(uint32_t value) { return {value, 2}; }
std::ostream& operator<<(std::ostream& out, Hex value);

}  // namespace CommDiag::log
