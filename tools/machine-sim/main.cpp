// machine-sim: the machine twin. A simulated serial CAN adapter on a pseudo-terminal with
// the machine's CANopen node behind it, for running the converter without a machine.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "eds_loader.h"
#include "log.h"
#include "options.h"
#include "simulator.h"

namespace {

std::string exeDir() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string p(buf, static_cast<std::size_t>(n));
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"machine-sim"};
    msim::CommandLine cl;
    msim::addOptions(app, cl);
    CLI11_PARSE(app, argc, argv);

    std::string error;
    if (!msim::finishOptions(cl, exeDir(), error)) {
        std::fprintf(stderr, "machine-sim: %s\n", error.c_str());
        return 2;
    }
    msim::Log log({}, cl.config.verbosity);
    msim::EdsInfo info;
    msim::ObjectDictionary od;
    try {
        od = msim::loadEds(cl.config.edsPath, cl.config.node.nodeId, &info);
    } catch (const msim::EdsError& e) {
        log.warn("%s", e.what());
        return 1;
    }
    return msim::runSimulator(cl.config, std::move(od), info, log, stdout);
}
