#pragma once
#include <windows.h>

namespace wintesthost {

// GetProcAddress, seen through the host's prototype of the entry (null when the name is not exported).
template <typename Fn>
Fn procAddress(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace wintesthost
