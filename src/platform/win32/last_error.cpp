#include "platform/last_error.h"

#include <windows.h>

namespace platform {

int lastErrorCode() { return static_cast<int>(GetLastError()); }

}  // namespace platform
