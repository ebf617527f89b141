#include "platform/debug_output.h"

#include <windows.h>

namespace platform {

void debugOutput(const char* text) { OutputDebugStringA(text); }

}  // namespace platform
