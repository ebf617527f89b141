#pragma once
// orbelctl's subcommands, offered on the command line and, one per line, in scripts.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <vector>

// Exit statuses.
enum Exit : int {
    kOk = 0,
    kRefused = 1,      // the converter or the machine answered "failed"
    kUsage = 2,        // wrong command line or script
    kNoConverter = 3,  // the library could not be loaded or initialised
    kTimedOut = 4,     // the converter stayed busy past the time limit
    kInterrupted = 5,  // a download stopped by the user (Ctrl+C)
};

// What the subcommands do; each returns an exit status.
class Commands {
public:
    virtual ~Commands() = default;
    virtual int send(const std::vector<std::string>& hexWords) = 0;
    virtual int status() = 0;
    virtual int connect() = 0;
    virtual int identify() = 0;
};

// The chosen subcommands' work, in the order given.
using Actions = std::vector<std::function<int()>>;
// Registers further subcommands (the machine-data ones) on an app; each appends to the actions.
using CommandExtension = std::function<void(CLI::App&, Actions&)>;

// Registers the subcommands on `app`; parsing appends the chosen ones to `actions` in the order
// given, so that one call runs a whole session ("connect identify params FILE"). `bytes` holds
// the words of "send" and must live as long as `actions`.
void addCommands(CLI::App& app, Commands& commands, Actions& actions, std::shared_ptr<std::vector<std::string>> bytes,
                 const CommandExtension& more = {});

// Runs actions in order; the first that does not succeed ends the run with its status.
int runActions(const Actions& actions);

// Runs the subcommands of a script, each line one or more ('#' starts a comment), until one
// fails. Messages (each line run, where the script went wrong) go to `messages`; `name` is the
// script's name in them.
int runScript(std::istream& script, const std::string& name, Commands& commands, std::FILE* messages,
              const CommandExtension& more = {});
