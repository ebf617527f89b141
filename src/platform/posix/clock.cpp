#include "platform/clock.h"

#include <time.h>
#include <cerrno>

namespace platform {

uint32_t tickCountMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void sleepMs(uint32_t ms) {
    timespec want{static_cast<time_t>(ms / 1000u), static_cast<long>((ms % 1000u) * 1000000L)};
    while (nanosleep(&want, &want) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
