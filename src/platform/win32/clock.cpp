#include "platform/clock.h"

#include <windows.h>

namespace platform {

uint32_t tickCountMs() { return GetTickCount(); }
void sleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace platform
