#pragma once
#include <cstdio>

// Where orbelctl writes its own lines. In quiet mode the process's standard output (where the
// converter writes its trace) goes to the null device, and orbelctl keeps a private copy of the
// original stream for itself.
namespace output {

void init(bool quiet);
FILE* out();
// printf to out(), flushed at once so that orbelctl's lines keep their place among the trace's.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace output
