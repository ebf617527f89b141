#include "output.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define fileno _fileno
#define isatty _isatty
static const char* const kNullDevice = "NUL";
#else
#include <unistd.h>
static const char* const kNullDevice = "/dev/null";
#endif

namespace output {

namespace {
FILE* stream = stdout;
bool terminal = false;
int lastPlainStep = -1;
}  // namespace

void init(bool quiet) {
    std::fflush(stdout);
    terminal = isatty(fileno(stdout)) != 0;
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

void progress(const char* label, unsigned percent) {
    if (percent > 100) percent = 100;
    if (terminal) {
        const unsigned width = 40;
        const unsigned filled = percent * width / 100;
        std::fprintf(stream, "\r%s [", label);
        for (unsigned i = 0; i < width; ++i) std::fputc(i < filled ? '#' : '.', stream);
        std::fprintf(stream, "] %3u %%", percent);
    } else {
        const int step = static_cast<int>(percent / 10);
        if (step == lastPlainStep) return;
        lastPlainStep = step;
        std::fprintf(stream, "%s: %u %%\n", label, step * 10);
    }
    std::fflush(stream);
}

void progressDone() {
    if (terminal) std::fputc('\n', stream);
    lastPlainStep = -1;
    std::fflush(stream);
}

}  // namespace output
