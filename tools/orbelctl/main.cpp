// orbelctl: talks to a machine through the converter library, the way the legacy service
// application does, for service engineers, demos and end-to-end tests.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "answer_decoder.h"
#include "converter_library.h"
#include "download_commands.h"
#include "host_link.h"
#include "output.h"
#include "platform/module_path.h"

namespace {

// Exit statuses.
enum Exit : int {
    kOk = 0,
    kRefused = 1,      // the converter or the machine answered "failed"
    kUsage = 2,        // wrong command line or script
    kNoConverter = 3,  // the library could not be loaded or initialised
    kTimedOut = 4,     // the converter stayed busy past the time limit
    kInterrupted = 5,  // stopped by the user (Ctrl+C)
};

struct Options {
    std::string library;
    std::string driver;
    std::string port = "\\\\.\\COM1";
    std::string device;
    double timeoutSeconds = 30;
    bool quiet = false;
    std::string script;
};

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(output::out(), format, args);
    va_end(args);
    std::fflush(output::out());
}

std::string defaultLibraryPath() {
    const std::string dir = platform::directoryOf(platform::executablePath());
#if defined(_WIN32)
    return dir + "\\orbel_dll.dll";
#else
    return dir + "/liborbel_dll.so";
#endif
}

void setEnv(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

// The COM port number in "\\.\COM<n>", for mapping a device path onto it.
int portNumber(const std::string& port) {
    const auto at = port.rfind("COM");
    return at == std::string::npos ? 0 : std::atoi(port.c_str() + at + 3);
}

class Session {
public:
    explicit Session(const Options& options) : options_(options) {}
    ~Session() {
        if (initialised_) library_.DllDeInit();
    }

    int open() {
        if (!options_.driver.empty()) setEnv("ORBEL_CAN_DRIVER", options_.driver);
        if (!options_.device.empty()) setEnv("SERICAN_COM" + std::to_string(portNumber(options_.port)), options_.device);
        std::string error;
        const std::string path = options_.library.empty() ? defaultLibraryPath() : options_.library;
        if (!library_.load(path, error)) {
            say("orbelctl: %s\n", error.c_str());
            return kNoConverter;
        }
        std::vector<char> port(options_.port.begin(), options_.port.end());
        port.push_back('\0');
        const int32_t result = library_.DllInit(port.data());
        if (result != 0) {
            say("orbelctl: ORBEL_DllInit(%s) returned %d\n", options_.port.c_str(), result);
            return kNoConverter;
        }
        initialised_ = true;
        link_.reset(new HostLink(library_, static_cast<unsigned>(options_.timeoutSeconds * 1000)));
        return kOk;
    }

    HostLink& link() { return *link_; }
    double timeoutSeconds() const { return options_.timeoutSeconds; }
    ConverterLibrary& library() { return library_; }

    // Polls a command until it is no longer busy and reports how it ended.
    int pollCommand(uint8_t command, const char* what, Answer& answer, const char* failureHint = "") {
        bool timedOut = false;
        answer = link_->poll(HostLink::package(command), timedOut);
        if (timedOut) {
            say("%s: no answer from the machine within %.0f s (converter still busy)\n", what, options_.timeoutSeconds);
            return kTimedOut;
        }
        if (answer.empty()) {
            say("%s: the converter gave no answer\n", what);
            return kRefused;
        }
        if (answer.state() != 1) {
            say("%s: %s%s\n", what, answer_decoder::stateName(answer.state()).c_str(), failureHint);
            return kRefused;
        }
        return kOk;
    }

private:
    const Options& options_;
    ConverterLibrary library_;
    std::unique_ptr<HostLink> link_;
    bool initialised_ = false;
};

int commandSend(Session& session, const std::vector<std::string>& words) {
    std::vector<uint8_t> package;
    std::string error;
    if (!answer_decoder::parseHex(words, package, error)) {
        say("send: %s\n", error.c_str());
        return kUsage;
    }
    const Answer answer = session.link().exchange(package);
    say("sent:     %s\n", answer_decoder::hex(package).c_str());
    say("answer:   %s\n", answer.bytes.empty() ? "(none)" : answer_decoder::hex(answer.bytes).c_str());
    say("decoded:  %s (ORBEL_ConvWriteData returned %d)\n", answer_decoder::describe(answer.bytes).c_str(),
        answer.writeResult);
    if (answer.bytes.empty()) return kRefused;
    return answer.state() == 3 ? kRefused : kOk;
}

int commandStatus(Session& session) {
    const Answer status = session.link().exchange(HostLink::package(0x01));
    if (status.bytes.size() < 9) {
        say("status: no answer to 0x01\n");
        return kRefused;
    }
    say("module status: %s (StatusByte1 0x%02X)\n", answer_decoder::modeName(status.bytes[4]).c_str(), status.bytes[4]);
    const Answer boot = session.link().exchange(HostLink::package(0x04));
    if (boot.state() == 1)
        say("boot status:   %s\n", answer_decoder::bootStatusText(boot.bytes).c_str());
    else
        say("boot status:   %s (no machine connected?)\n", answer_decoder::stateName(boot.state()).c_str());
    return kOk;
}

int commandConnect(Session& session) {
    Answer answer;
    const int result = session.pollCommand(0xE6, "connect", answer,
                                           " (no connection to the machine: is the adapter on the port and the machine on?)");
    if (result == kOk) say("connect: machine connected, serial number read\n");
    return result;
}

int commandIdentify(Session& session) {
    Answer answer;
    const int result = session.pollCommand(0xFA, "identify", answer, " (connect first, in the same session)");
    if (result != kOk) return result;
    const Answer id = session.link().exchange(HostLink::package(0xFB));
    if (id.state() != 1 || id.bytes.size() < 10) {
        say("identify: 0xFB answered %s\n", answer_decoder::stateName(id.state()).c_str());
        return kRefused;
    }
    const auto machine = answer_decoder::identify(id.bytes[6], id.bytes[7]);
    if (machine.known)
        say("machine:          %s (machine number %d)\n", machine.model.c_str(), machine.machineNumber);
    else
        say("machine:          unknown (identification bytes 0x%02X 0x%02X)\n", id.bytes[6], id.bytes[7]);
    uint8_t revision[3] = {0, 0, 0};
    if (session.library().ConvGetSWRevision(sizeof revision, revision) == 0)
        say("software version: %u.%02u.%02u\n", revision[0], revision[1], revision[2]);
    else
        say("software version: not available\n");
    return kOk;
}

// Registers the subcommands on `app`; the chosen one is left in `action`.
void addCommands(CLI::App& app, Session& session, std::function<int()>& action,
                 std::shared_ptr<std::vector<std::string>> bytes) {
    auto* send = app.add_subcommand("send", "Send one raw legacy package and print the answer, raw and decoded");
    send->add_option("bytes", *bytes, "Package bytes in hex, e.g. AA 03 01 00 51")->required();
    send->callback([&session, &action, bytes] { action = [&session, bytes] { return commandSend(session, *bytes); }; });

    app.add_subcommand("status", "Module status (0x01) and boot status (0x04), decoded")
        ->callback([&session, &action] { action = [&session] { return commandStatus(session); }; });
    app.add_subcommand("connect", "Connect to the machine (0xE6, repeated while busy)")
        ->callback([&session, &action] { action = [&session] { return commandConnect(session); }; });
    app.add_subcommand("identify", "Identify the machine (0xFA until done, then 0xFB): model, number, version")
        ->callback([&session, &action] { action = [&session] { return commandIdentify(session); }; });

    // Downloads; their arguments live as long as the command line's parser does.
    auto args = std::make_shared<std::vector<std::string>>(2);
    auto download = [&session](std::function<int(DownloadHost&)> run) {
        return [&session, run] {
            DownloadHost host{session.library(), session.link(),
                              [&session] {
                                  // Connected and identified: the machine's model maps the addresses.
                                  Answer answer;
                                  const int connected = session.pollCommand(0xE6, "connect", answer);
                                  return connected ? connected : session.pollCommand(0xFA, "identify", answer);
                              },
                              session.timeoutSeconds()};
            return run(host);
        };
    };
    auto* firmware = app.add_subcommand("firmware", "Flash a firmware image (a .hex file, or a folder of them)");
    firmware->add_option("image", (*args)[0], "Image file, or folder whose .hex images are joined first")->required();
    firmware->callback([&action, args, download] {
        action = download([args](DownloadHost& h) { return commandFirmware(h, (*args)[0]); });
    });
    auto* curve = app.add_subcommand("curve", "Send a file of curve data as block to a legacy address");
    curve->add_option("address", (*args)[0], "Legacy address, e.g. 0x5000")->required();
    curve->add_option("file", (*args)[1], "The block's bytes")->required();
    curve->callback([&action, args, download] {
        action = download([args](DownloadHost& h) { return commandCurve(h, (*args)[0], (*args)[1]); });
    });
    auto* build = app.add_subcommand("build-binary", "Join the .hex images of a folder, in name order, into one file");
    build->add_option("folder", (*args)[0], "Folder of the images")->required();
    build->add_option("name", (*args)[1], "Name of the binary, written into the folder")->required();
    build->callback([&action, args, download] {
        action = download([args](DownloadHost& h) { return commandBuildBinary(h, (*args)[0], (*args)[1]); });
    });
    app.require_subcommand(0, 1);
}

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

int runScript(Session& session, const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        say("orbelctl: cannot read script %s\n", path.c_str());
        return kUsage;
    }
    int lineNumber = 0;
    for (std::string line; std::getline(file, line);) {
        ++lineNumber;
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line.erase(line.find_last_not_of(" \t\r") + 1);
        auto words = splitWords(line);
        if (words.empty()) continue;
        CLI::App app("orbelctl script line");
        std::function<int()> action;
        addCommands(app, session, action, std::make_shared<std::vector<std::string>>());
        std::reverse(words.begin(), words.end());  // CLI11 takes the arguments last-first
        try {
            app.parse(words);
        } catch (const CLI::ParseError& e) {
            say("%s:%d: %s\n", path.c_str(), lineNumber, e.what());
            return kUsage;
        }
        if (!action) continue;
        say("> %s\n", line.c_str());
        const int result = action();
        if (result != kOk) {
            say("%s:%d: stopped (exit status %d)\n", path.c_str(), lineNumber, result);
            return result;
        }
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app("orbelctl: talk to a machine through the ORBEL converter, as the legacy service application does.\n"
                 "Exit status: 0 done, 1 refused or failed, 2 usage, 3 converter not loadable, 4 time-out, 5 interrupted.");
    app.add_option("--library", options.library, "Converter library to load (default: the one beside orbelctl)");
    app.add_option("--driver", options.driver, "CAN driver library for the converter (sets ORBEL_CAN_DRIVER)");
    app.add_option("--port", options.port, "Port name handed to ORBEL_DllInit")->capture_default_str();
    app.add_option("--device", options.device,
                   "Serial device behind the port, e.g. machine-sim's pty (sets SERICAN_COM<n>)");
    app.add_option("--timeout", options.timeoutSeconds, "Seconds to keep polling a busy converter")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_flag("-q,--quiet", options.quiet, "Hide the converter's trace");
    app.add_option("--script", options.script, "Run the subcommands of a file, one per line ('#' comments)");

    Session session(options);
    std::function<int()> action;
    addCommands(app, session, action, std::make_shared<std::vector<std::string>>());
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? kOk : kUsage;
    }
    if (!action && options.script.empty()) {
        std::fputs(app.help().c_str(), stdout);
        return kUsage;
    }

    // Ctrl+C ends a download session cleanly: the command stops polling, the session closes.
    std::signal(SIGINT, [](int signal) {
        if (requestDownloadInterrupt()) return;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    });
    output::init(options.quiet);
    if (const int opened = session.open()) return opened;
    if (!options.script.empty()) return runScript(session, options.script);
    return action();
}
