#include "format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace imgbuild {

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string text;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), fmt, again);
        text.assign(buffer.data(), static_cast<std::size_t>(needed));
    }
    va_end(again);
    return text;
}

}  // namespace imgbuild
