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

void addCommands(CLI::App& app, Commands& commands, Actions& actions, std::shared_ptr<std::vector<std::string>> bytes,
                 const CommandExtension& more) {
    auto* send = app.add_subcommand("send", "Send one raw legacy package and print the answer, raw and decoded");
    send->add_option("bytes", *bytes, "Package bytes in hex, e.g. AA 03 01 00 51")->required();
    send->callback(
        [&commands, &actions, bytes] { actions.push_back([&commands, bytes] { return commands.send(*bytes); }); });

    app.add_subcommand("status", "Module status (0x01) and boot status (0x04), decoded")
        ->callback([&commands, &actions] { actions.push_back([&commands] { return commands.status(); }); });
    app.add_subcommand("connect", "Connect to the machine (0xE6, repeated while busy)")
        ->callback([&commands, &actions] { actions.push_back([&commands] { return commands.connect(); }); });
    app.add_subcommand("identify", "Identify the machine (0xFA until done, then 0xFB): model, number, version")
        ->callback([&commands, &actions] { actions.push_back([&commands] { return commands.identify(); }); });
    if (more) more(app, actions);
    app.require_subcommand(0, 0);
}

int runActions(const Actions& actions) {
    for (const auto& action : actions)
        if (const int result = action()) return result;
    return kOk;
}

int runScript(std::istream& script, const std::string& name, Commands& commands, std::FILE* messages,
              const CommandExtension& more) {
    int lineNumber = 0;
    for (std::string line; std::getline(script, line);) {
        ++lineNumber;
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line.erase(line.find_last_not_of(" \t\r") + 1);
        auto words = splitWords(line);
        if (words.empty()) continue;
        CLI::App app("orbelctl script line");
        Actions actions;
        addCommands(app, commands, actions, std::make_shared<std::vector<std::string>>(), more);
        std::reverse(words.begin(), words.end());  // CLI11 takes the arguments last-first
        try {
            app.parse(words);
        } catch (const CLI::ParseError& e) {
            std::fprintf(messages, "%s:%d: %s\n", name.c_str(), lineNumber, e.what());
            std::fflush(messages);
            return kUsage;
        }
        if (actions.empty()) continue;
        std::fprintf(messages, "> %s\n", line.c_str());
        std::fflush(messages);
        const int result = runActions(actions);
        if (result != kOk) {
            std::fprintf(messages, "%s:%d: stopped (exit status %d)\n", name.c_str(), lineNumber, result);
            std::fflush(messages);
            return result;
        }
    }
    return kOk;
}
