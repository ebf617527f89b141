#pragma once

#include <string>

namespace imgbuild {

// printf-style formatting into a string, so the tool's fixed messages keep their
// exact conversions (%6.6X, %x) while going to any stream.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
format(const char* fmt, ...);

}  // namespace imgbuild
