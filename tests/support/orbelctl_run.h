#pragma once
// Runs the built orbelctl with the given arguments, as a shell would, and collects what it printed.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "machine_sim_process.h"

namespace orbeltest {

struct OrbelctlOutcome {
    int status = -1;
    std::string output;  // standard output and standard error together
};

inline OrbelctlOutcome runOrbelctl(const std::string& arguments) {
    const std::string command = MachineSimProcess::binDir() + "/orbelctl " + arguments + " 2>&1";
    OrbelctlOutcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

}  // namespace orbeltest
