#include "common/orbel_trace.h"

#include <cstdarg>
#include <cstdio>

#include "platform/debug_output.h"

void ORBEL_Trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void ORBEL_AssertFailed(const char* condition, const char* sourceUnit) {
    char line[512];
    std::snprintf(line, sizeof line, "Assertion failed: \"%s\" in \"%s\"\n", condition, sourceUnit);
    std::fputs(line, stdout);
    std::fflush(stdout);
    platform::debugOutput(line);
}
