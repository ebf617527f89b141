// orbelctl: talks to a machine through the converter library, the way the legacy service
// application does, for service engineers, demos and end-to-end tests.
#include <CLI/CLI.hpp>

#include <algorithm>
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
#include "exit_status.h"
#include "host_link.h"
#include "machine_data_commands.h"
#include "output.h"
#include "platform/module_path.h"

namespace {

struct Options {
    std::string library;
    std::string driver;
    std::string port = "\\\\.\\COM1";
    std::string device;
    double timeoutSeconds = 30;
    bool quiet = false;
    bool json = false;
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

// "COM3" and "\\.\COM3" name the same port; the converter takes the device path form.
std::string devicePathOf(const std::string& port) {
    if (port.size() > 3 && (port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0) &&
        port.find_first_not_of("0123456789", 3) == std::string::npos)
        return "\\\\.\\COM" + port.substr(3);
    return port;
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

using Actions = std::vector<std::function<int()>>;

// Registers the subcommands on `app`; the chosen ones are appended to `actions` in the order
// given, so that one call runs a whole session ("connect identify params FILE").
void addCommands(CLI::App& app, Session& session, MachineDataSession& data, Actions& actions,
                 std::shared_ptr<std::vector<std::string>> bytes) {
    auto* send = app.add_subcommand("send", "Send one raw legacy package and print the answer, raw and decoded");
    send->add_option("bytes", *bytes, "Package bytes in hex, e.g. AA 03 01 00 51")->required();
    send->callback(
        [&session, &actions, bytes] { actions.push_back([&session, bytes] { return commandSend(session, *bytes); }); });

    app.add_subcommand("status", "Module status (0x01) and boot status (0x04), decoded")
        ->callback([&session, &actions] { actions.push_back([&session] { return commandStatus(session); }); });
    app.add_subcommand("connect", "Connect to the machine (0xE6, repeated while busy)")
        ->callback([&session, &actions] { actions.push_back([&session] { return commandConnect(session); }); });
    app.add_subcommand("identify", "Identify the machine (0xFA until done, then 0xFB): model, number, version")
        ->callback([&session, &actions] { actions.push_back([&session] { return commandIdentify(session); }); });
    addMachineDataCommands(app, data, actions);
    app.require_subcommand(0, 0);
}

// Runs the actions in order; the first that does not succeed ends the run with its status.
int runActions(const Actions& actions) {
    for (const auto& action : actions)
        if (const int result = action()) return result;
    return kOk;
}

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

int runScript(Session& session, MachineDataSession& data, const std::string& path) {
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
        Actions actions;
        addCommands(app, session, data, actions, std::make_shared<std::vector<std::string>>());
        std::reverse(words.begin(), words.end());  // CLI11 takes the arguments last-first
        try {
            app.parse(words);
        } catch (const CLI::ParseError& e) {
            say("%s:%d: %s\n", path.c_str(), lineNumber, e.what());
            return kUsage;
        }
        if (actions.empty()) continue;
        say("> %s\n", line.c_str());
        const int result = runActions(actions);
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
                 "Exit status: 0 done, 1 refused or failed, 2 usage, 3 converter not loadable, 4 time-out.");
    app.add_option("--library", options.library, "Converter library to load (default: the one beside orbelctl)");
    app.add_option("--driver", options.driver, "CAN driver library for the converter (sets ORBEL_CAN_DRIVER)");
    app.add_option("--port", options.port, "Port name handed to ORBEL_DllInit")->capture_default_str();
    app.add_option("--device", options.device,
                   "Serial device behind the port, e.g. machine-sim's pty (sets SERICAN_COM<n>)");
    app.add_option("--timeout", options.timeoutSeconds, "Seconds to keep polling a busy converter")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_flag("-q,--quiet", options.quiet, "Hide the converter's trace");
    app.add_flag("--json", options.json, "Machine data as JSON, for scripts");
    app.add_option("--script", options.script, "Run the subcommands of a file, one per line ('#' comments)");

    Session session(options);
    MachineDataSession data;
    Actions actions;
    addCommands(app, session, data, actions, std::make_shared<std::vector<std::string>>());
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? kOk : kUsage;
    }
    if (actions.empty() && options.script.empty()) {
        std::fputs(app.help().c_str(), stdout);
        return kUsage;
    }
    options.port = devicePathOf(options.port);

    output::init(options.quiet);
    if (const int opened = session.open()) return opened;
    data.link = &session.link();
    data.library = &session.library();
    data.timeoutSeconds = options.timeoutSeconds;
    data.json = options.json;
    if (!options.script.empty()) return runScript(session, data, options.script);
    return runActions(actions);
}
