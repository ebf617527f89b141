#pragma once

namespace platform {

// The code of the calling thread's last failed OS call (GetLastError / errno), for the
// diagnostics that print it.
int lastErrorCode();

}  // namespace platform
