#pragma once
#include "checks.h"

namespace wintesthost {

// Shows that the stack and register checks catch what they are meant to catch: a __cdecl
// callee, a callee with a longer argument list than the prototype, a clobbered EBX. 32-bit only.
void runSelfTest(Checks& checks);

}  // namespace wintesthost
