#pragma once
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "converter_library.h"
#include "host_link.h"

// The download subcommands: firmware, curve data and joined binaries, with a progress display.
struct DownloadHost {
    ConverterLibrary& library;
    HostLink& link;
    std::function<int()> connect;  // 0xE6, then 0xFA, until done; an exit status
    double timeoutSeconds;
};

// firmware, curve and build-binary; each chosen one appends its work to `actions`. `host` gives
// the session's converter once it is open.
void addDownloadCommands(CLI::App& app, std::function<DownloadHost()> host, std::vector<std::function<int()>>& actions);

// Flashes an image file, or the binary joined from the ".hex" images of a folder.
int commandFirmware(DownloadHost& host, const std::string& imageOrFolder);
// Sends a file as curve-data block to a legacy address (decimal or 0x hex).
int commandCurve(DownloadHost& host, const std::string& address, const std::string& file);
// Joins the ".hex" images of a folder, in name order, into folder/name.
int commandBuildBinary(DownloadHost& host, const std::string& folder, const std::string& name);

// For a signal handler: a download being followed stops polling and its command ends the
// session (true); false when none is followed.
bool requestDownloadInterrupt();
