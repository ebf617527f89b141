#pragma once
#include <string>

namespace platform {

// A library loaded at run time by path (LoadLibraryA / dlopen). The handle is opaque and
// owned by whoever loaded it; freeLibrary releases it.
using LibraryHandle = void*;

LibraryHandle loadLibrary(const char* path);
// The address of an exported name, or null.
void* librarySymbol(LibraryHandle library, const char* name);
bool freeLibrary(LibraryHandle library);
// Why the last loadLibrary on this thread failed, in the loader's words.
std::string lastLibraryError();

}  // namespace platform
