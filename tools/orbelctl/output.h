#pragma once
#include <cstdio>

// Where orbelctl writes its own lines. In quiet mode the process's standard output (where the
// converter writes its trace) goes to the null device, and orbelctl keeps a private copy of the
// original stream for itself.
namespace output {

void init(bool quiet);
FILE* out();

}  // namespace output
