#include "platform/last_error.h"

#include <cerrno>

namespace platform {

int lastErrorCode() { return errno; }

}  // namespace platform
