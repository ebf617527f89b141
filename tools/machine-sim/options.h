#pragma once
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "sim_config.h"

namespace msim {

// Command-line options of machine-sim. `model` and `modelsDir` are resolved to an EDS path
// by resolveEds once parsing is done.
struct CommandLine {
    SimConfig config;
    std::string model;
    std::string modelsDir;
    std::vector<std::string> aborts;
    std::vector<std::string> flashed;
    std::string rebootInTransfer;
    std::vector<std::string> errorEntries;
    std::string errorsFile;
    bool noErrors = false;
    std::string dropDirection = "both";
    unsigned nodeId = 10;
    unsigned blockSize = 127;
    long long eraseMs = 1000, rebootMs = 500, sdoTimeoutMs = 5000, delayMs = 0, runForMs = 0;
    std::optional<long long> silentAfterMs;
    long long silentForMs = 0;
    long long faultsAfterMs = 0;
    int verbose = 0;
    bool quiet = false;
};

void addOptions(CLI::App& app, CommandLine& cl);
// Checks and converts what CLI11 cannot; false with a message on a bad value.
bool finishOptions(CommandLine& cl, const std::string& exeDir, std::string& error);

// "0x5401:1=0x08000024" or "0x2000=0x06020000"; "*N" after the code: the first N accesses only.
std::optional<AbortRule> parseAbortRule(const std::string& text);
// "0x5401:1=070301": an object and its bytes in hex.
std::optional<FlashedValue> parseFlashedValue(const std::string& text);
// "0x1F50" or "0x1F50:1".
std::optional<RebootRule> parseObjectRef(const std::string& text);
// Finds a shipped model by name ("crane"), machine number ("5") or file name.
std::optional<std::string> findModel(const std::string& model, const std::string& modelsDir, const std::string& exeDir);

}  // namespace msim
