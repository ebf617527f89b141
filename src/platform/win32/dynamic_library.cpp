#include "platform/dynamic_library.h"

#include <windows.h>

namespace platform {

LibraryHandle loadLibrary(const char* path) { return path ? LoadLibraryA(path) : nullptr; }

void* librarySymbol(LibraryHandle library, const char* name) {
    return library ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name)) : nullptr;
}

bool freeLibrary(LibraryHandle library) { return library && FreeLibrary(static_cast<HMODULE>(library)) != 0; }

std::string lastLibraryError() {
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message + " (error " + std::to_string(code) + ")";
}

}  // namespace platform
