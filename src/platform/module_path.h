#pragma once
#include <string>

namespace platform {

// Full path of the running program.
std::string executablePath();

// Full path of the library or program that contains the given code or data address; empty
// when it cannot be told. Lets a library find files that lie beside it.
std::string modulePathOf(const void* address);

// The folder part of a path (up to, not including, the last separator); "." when there is none.
std::string directoryOf(const std::string& path);

}  // namespace platform
