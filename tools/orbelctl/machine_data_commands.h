#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "converter_library.h"
#include "description_file.h"
#include "host_link.h"

// What the machine-data subcommands share within one session: the converter, the parameters
// of the description files loaded so far, and how to print.
struct MachineDataSession {
    HostLink* link = nullptr;
    ConverterLibrary* library = nullptr;
    double timeoutSeconds = 30;
    bool json = false;
    bool identified = false;  // the converter knows the model, and with it the address map
    std::map<uint32_t, ParameterInfo> parameters;
};

// params, set, errors, clear-errors, hours, serial, material, read, write, test-command. Each
// chosen subcommand appends its work to `actions`, in command-line order.
void addMachineDataCommands(CLI::App& app, MachineDataSession& session, std::vector<std::function<int()>>& actions);
