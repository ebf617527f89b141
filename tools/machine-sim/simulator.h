#pragma once
#include <cstdio>

#include "eds_loader.h"
#include "log.h"
#include "sim_config.h"

namespace msim {

// Runs the twin on a pseudo-terminal until SIGINT, SIGTERM or SIGHUP (or --run-for):
// prints the slave's path as the first line on `pathOut`, then serves the host.
// Returns the process exit code.
int runSimulator(const SimConfig& config, ObjectDictionary od, const EdsInfo& info, Log& log, std::FILE* pathOut);

}  // namespace msim
