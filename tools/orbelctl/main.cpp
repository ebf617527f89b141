// orbelctl: talks to a machine through the converter library, the way the legacy service
// application does, for service engineers, demos and end-to-end tests.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
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
#include "machine_data_commands.h"
#include "output.h"
#include "platform/module_path.h"
#include "script.h"

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

using output::say;

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

class Session : public Commands {
public:
    explicit Session(const Options& options) : options_(options) {}
    ~Session() override {
        if (initialised_) library_.DllDeInit();
    }

    int open() {
        if (!options_.driver.empty()) setEnv("ORBEL_CAN_DRIVER", options_.driver);
        if (!options_.device.empty())
            setEnv("SERICAN_COM" + std::to_string(portNumber(options_.port)), options_.device);
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
    // Downloads connect and identify first: the machine's model maps the addresses.
    DownloadHost downloadHost() {
        return DownloadHost{library_, *link_,
                            [this] {
                                Answer answer;
                                const int connected = pollCommand(0xE6, "connect", answer);
                                return connected ? connected : pollCommand(0xFA, "identify", answer);
                            },
                            options_.timeoutSeconds};
    }

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

    int send(const std::vector<std::string>& hexWords) override;
    int status() override;
    int connect() override;
    int identify() override;

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
    const int result = session.pollCommand(
        0xE6, "connect", answer, " (no connection to the machine: is the adapter on the port and the machine on?)");
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

int Session::send(const std::vector<std::string>& hexWords) { return commandSend(*this, hexWords); }
int Session::status() { return commandStatus(*this); }
int Session::connect() { return commandConnect(*this); }
int Session::identify() { return commandIdentify(*this); }

int runScriptFile(Session& session, const std::string& path, const CommandExtension& more) {
    std::ifstream file(path);
    if (!file) {
        say("orbelctl: cannot read script %s\n", path.c_str());
        return kUsage;
    }
    return runScript(file, path, session, output::out(), more);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app(
        "orbelctl: talk to a machine through the ORBEL converter, as the legacy service application does.\n"
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
    app.add_flag("--json", options.json, "Machine data as JSON, for scripts");
    app.add_option("--script", options.script, "Run the subcommands of a file, one per line ('#' comments)");

    Session session(options);
    MachineDataSession data;
    const CommandExtension machineData = [&data, &session](CLI::App& a, Actions& actions) {
        addMachineDataCommands(a, data, actions);
        addDownloadCommands(
            a, [&session] { return session.downloadHost(); }, actions);
    };
    Actions actions;
    addCommands(app, session, actions, std::make_shared<std::vector<std::string>>(), machineData);
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

    // Ctrl+C ends a download session cleanly: the command stops polling, the session closes.
    std::signal(SIGINT, [](int signal) {
        if (requestDownloadInterrupt()) return;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    });
    output::init(options.quiet);
    if (const int opened = session.open()) return opened;
    data.link = &session.link();
    data.library = &session.library();
    data.timeoutSeconds = options.timeoutSeconds;
    data.json = options.json;
    if (!options.script.empty()) return runScriptFile(session, options.script, machineData);
    return runActions(actions);
}
