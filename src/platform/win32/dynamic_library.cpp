#include "platform/dynamic_library.h"

#include <windows.h>

namespace platform {

LibraryHandle loadLibrary(const char* path) { return path ? LoadLibraryA(path) : nullptr; }

void* librarySymbol(LibraryHandle library, const char* name) {
    return library ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name)) : nullptr;
}

bool freeLibrary(LibraryHandle library) { return library && FreeLibrary(static_cast<HMODULE>(library)) != 0; }

}  // namespace platform
