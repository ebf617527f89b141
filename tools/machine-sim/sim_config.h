#pragma once
#include <string>

#include "adapter.h"
#include "machine_node.h"

namespace msim {

// Everything the command line decides.
struct SimConfig {
    std::string edsPath;
    std::string linkPath;
    std::string recordPath;
    std::string candumpPath;  // "-" for standard output
    std::string canInterface = "can0";
    Millis runFor{0};  // 0: until a signal
    int verbosity = 1;
    NodeConfig node;
    AdapterConfig adapter;
};

}  // namespace msim
