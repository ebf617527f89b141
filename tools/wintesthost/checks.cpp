#include "checks.h"

#include <cstdarg>
#include <cstdio>

namespace wintesthost {

std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

bool Checks::expect(bool passed, const std::string& what, const std::string& detail) {
    if (passed) {
        ++passed_;
        std::printf("ok   %s\n", what.c_str());
    } else {
        ++failed_;
        std::printf("FAIL %s%s%s\n", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
    std::fflush(stdout);
    return passed;
}

bool Checks::convention(const char* exportName, const CallRecord& record) {
    bool sound = true;
    if (record.stackDelta != 0) {
        sound = expect(false, format("%s removes its own arguments (__stdcall)", exportName),
                       format("stack pointer off by %d bytes after the call", static_cast<int>(record.stackDelta)));
    }
    if (!record.registersKept) {
        sound =
            expect(false, format("%s keeps EBX, ESI and EDI", exportName), "a callee-saved register changed") && sound;
    }
    return sound;
}

bool Checks::result(const char* exportName, const CallRecord& record, int32_t want, const std::string& what) {
    const bool sound = convention(exportName, record);
    const int32_t got = static_cast<int32_t>(record.value);
    return expect(sound && got == want, what,
                  sound ? format("%s returned %d, wanted %d", exportName, static_cast<int>(got), static_cast<int>(want))
                        : "calling convention broken");
}

int Checks::finish() const {
    std::printf("%d passed, %d failed\n", passed_, failed_);
    std::fflush(stdout);
    return failed_ == 0 ? 0 : 1;
}

}  // namespace wintesthost
