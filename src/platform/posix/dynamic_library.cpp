#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace platform {

LibraryHandle loadLibrary(const char* path) {
    // Local binding: a second driver library must not resolve to the first one's names.
    return path ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
}

void* librarySymbol(LibraryHandle library, const char* name) { return library ? dlsym(library, name) : nullptr; }

bool freeLibrary(LibraryHandle library) { return library && dlclose(library) == 0; }

std::string lastLibraryError() {
    const char* message = dlerror();
    return message != nullptr ? message : "unknown reason";
}

}  // namespace platform
