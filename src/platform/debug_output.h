#pragma once

namespace platform {

// A line for a debugger (OutputDebugStringA); on POSIX it goes to standard error.
void debugOutput(const char* text);

}  // namespace platform
