#include "output.h"

#include <cstdarg>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define fileno _fileno
static const char* const kNullDevice = "NUL";
#else
#include <unistd.h>
static const char* const kNullDevice = "/dev/null";
#endif

namespace output {

namespace {
FILE* stream = stdout;
}  // namespace

void init(bool quiet) {
    std::fflush(stdout);
    if (!quiet) return;
    const int copy = dup(fileno(stdout));
    FILE* own = copy >= 0 ? fdopen(copy, "w") : nullptr;
    if (own == nullptr) return;  // keep the trace rather than lose our own output
    if (FILE* sink = std::fopen(kNullDevice, "w")) {
        dup2(fileno(sink), fileno(stdout));
        std::fclose(sink);
    }
    stream = own;
}

FILE* out() { return stream; }

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

}  // namespace output
