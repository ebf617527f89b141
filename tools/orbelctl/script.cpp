#include "script.h"

#include <algorithm>
#include <sstream>

namespace {

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

}  // namespace

void addCommands(CLI::App& app, Commands& commands, std::function<int()>& action,
                 std::shared_ptr<std::vector<std::string>> bytes) {
    auto* send = app.add_subcommand("send", "Send one raw legacy package and print the answer, raw and decoded");
    send->add_option("bytes", *bytes, "Package bytes in hex, e.g. AA 03 01 00 51")->required();
    send->callback([&commands, &action, bytes] { action = [&commands, bytes] { return commands.send(*bytes); }; });

    app.add_subcommand("status", "Module status (0x01) and boot status (0x04), decoded")
        ->callback([&commands, &action] { action = [&commands] { return commands.status(); }; });
    app.add_subcommand("connect", "Connect to the machine (0xE6, repeated while busy)")
        ->callback([&commands, &action] { action = [&commands] { return commands.connect(); }; });
    app.add_subcommand("identify", "Identify the machine (0xFA until done, then 0xFB): model, number, version")
        ->callback([&commands, &action] { action = [&commands] { return commands.identify(); }; });

    // The downloads' arguments live as long as the chosen action.
    auto args = std::make_shared<std::vector<std::string>>(2);
    auto* firmware = app.add_subcommand("firmware", "Flash a firmware image (a .hex file, or a folder of them)");
    firmware->add_option("image", (*args)[0], "Image file, or folder whose .hex images are joined first")->required();
    firmware->callback([&commands, &action, args] { action = [&commands, args] { return commands.firmware((*args)[0]); }; });
    auto* curve = app.add_subcommand("curve", "Send a file of curve data as block to a legacy address");
    curve->add_option("address", (*args)[0], "Legacy address, e.g. 0x5000")->required();
    curve->add_option("file", (*args)[1], "The block's bytes")->required();
    curve->callback(
        [&commands, &action, args] { action = [&commands, args] { return commands.curve((*args)[0], (*args)[1]); }; });
    auto* build = app.add_subcommand("build-binary", "Join the .hex images of a folder, in name order, into one file");
    build->add_option("folder", (*args)[0], "Folder of the images")->required();
    build->add_option("name", (*args)[1], "Name of the binary, written into the folder")->required();
    build->callback([&commands, &action, args] {
        action = [&commands, args] { return commands.buildBinary((*args)[0], (*args)[1]); };
    });
    app.require_subcommand(0, 1);
}

int runScript(std::istream& script, const std::string& name, Commands& commands, std::FILE* messages) {
    int lineNumber = 0;
    for (std::string line; std::getline(script, line);) {
        ++lineNumber;
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line.erase(line.find_last_not_of(" \t\r") + 1);
        auto words = splitWords(line);
        if (words.empty()) continue;
        CLI::App app("orbelctl script line");
        std::function<int()> action;
        addCommands(app, commands, action, std::make_shared<std::vector<std::string>>());
        std::reverse(words.begin(), words.end());  // CLI11 takes the arguments last-first
        try {
            app.parse(words);
        } catch (const CLI::ParseError& e) {
            std::fprintf(messages, "%s:%d: %s\n", name.c_str(), lineNumber, e.what());
            std::fflush(messages);
            return kUsage;
        }
        if (!action) continue;
        std::fprintf(messages, "> %s\n", line.c_str());
        std::fflush(messages);
        const int result = action();
        if (result != kOk) {
            std::fprintf(messages, "%s:%d: stopped (exit status %d)\n", name.c_str(), lineNumber, result);
            std::fflush(messages);
            return result;
        }
    }
    return kOk;
}
