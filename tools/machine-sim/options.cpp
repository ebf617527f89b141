#include "options.h"

#include <sys/stat.h>

#include <cstdlib>
#include <map>

namespace msim {

namespace {

bool parseUnsigned(const std::string& s, unsigned long long max, unsigned long long& out) {
    if (s.empty() || s[0] == '-' || s[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(s.c_str(), &end, 0);
    return end && *end == '\0' && errno == 0 && out <= max;
}

bool isFile(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::optional<RebootRule> parseObjectRef(const std::string& text) {
    RebootRule r;
    const auto colon = text.find(':');
    unsigned long long v;
    if (!parseUnsigned(text.substr(0, colon), 0xFFFF, v)) return std::nullopt;
    r.index = static_cast<uint16_t>(v);
    if (colon != std::string::npos) {
        if (!parseUnsigned(text.substr(colon + 1), 0xFF, v)) return std::nullopt;
        r.sub = static_cast<uint8_t>(v);
    }
    return r;
}

std::optional<AbortRule> parseAbortRule(const std::string& text) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) return std::nullopt;
    const auto obj = parseObjectRef(text.substr(0, eq));
    const auto star = text.find('*', eq);
    unsigned long long code, times = 0;
    if (!obj ||
        !parseUnsigned(text.substr(eq + 1, star == std::string::npos ? std::string::npos : star - eq - 1),
                       0xFFFFFFFFull, code) ||
        code == 0)
        return std::nullopt;
    if (star != std::string::npos && (!parseUnsigned(text.substr(star + 1), 0xFFFFFFFFull, times) || times == 0))
        return std::nullopt;
    AbortRule rule{obj->index, obj->sub, static_cast<uint32_t>(code)};
    rule.times = static_cast<uint32_t>(times);
    return rule;
}

std::optional<FlashedValue> parseFlashedValue(const std::string& text) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) return std::nullopt;
    const auto obj = parseObjectRef(text.substr(0, eq));
    const std::string hex = text.substr(eq + 1);
    if (!obj || hex.empty() || hex.size() % 2 != 0 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    FlashedValue v{obj->index, obj->sub.value_or(0), {}};
    for (std::size_t i = 0; i < hex.size(); i += 2)
        v.bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return v;
}

std::optional<std::string> findModel(const std::string& model, const std::string& modelsDir,
                                     const std::string& exeDir) {
    static const std::map<std::string, std::string> byNumber = {{"1", "wren"},   {"2", "wren-2"}, {"3", "finch"},
                                                                {"4", "swift"},  {"5", "crane"},  {"6", "robin"},
                                                                {"9", "kestrel"}};
    std::string stem = model;
    if (auto it = byNumber.find(model); it != byNumber.end()) stem = it->second;
    const std::string file = stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".eds") == 0 ? stem : stem + ".eds";
    std::vector<std::string> dirs;
    if (!modelsDir.empty()) dirs.push_back(modelsDir);
    if (!exeDir.empty()) dirs.push_back(exeDir + "/machine-sim-models");
#ifdef MACHINE_SIM_MODELS_DIR
    dirs.push_back(MACHINE_SIM_MODELS_DIR);
#endif
    for (const auto& d : dirs)
        if (isFile(d + "/" + file)) return d + "/" + file;
    return std::nullopt;
}

void addOptions(CLI::App& app, CommandLine& cl) {
    SimConfig& c = cl.config;
    app.description(
        "Simulated serial CAN adapter with the machine's CANopen node behind it, on a pseudo-terminal.\n"
        "Prints the terminal's path as the first line on standard output; SIGINT or SIGTERM stops it.");
    app.get_formatter()->column_width(34);
    auto* model = app.add_option("-m,--model", cl.model,
                                 "shipped machine: wren (1), wren-2 (2), finch (3), swift (4), crane (5), robin (6), "
                                 "kestrel (9), bootloader; default crane")
                      ->type_name("NAME");
    app.add_option("-e,--eds", c.edsPath, "object dictionary from this EDS file instead of a shipped model")
        ->type_name("FILE")
        ->excludes(model);
    app.add_option("--models-dir", cl.modelsDir, "where the shipped EDS files are looked up first")->type_name("DIR");
    app.add_option("-n,--node-id", cl.nodeId, "CANopen node id of the machine (default 10)")
        ->type_name("ID")
        ->check(CLI::Range(1, 127));
    app.add_option("-l,--link", c.linkPath, "make PATH a symbolic link to the terminal (removed at exit)")
        ->type_name("PATH");
    app.add_option("--record", c.recordPath, "write a JSON record of SDO accesses, events and final values at exit")
        ->type_name("FILE");
    app.add_option("--candump", c.candumpPath, "log the bus traffic in candump format to FILE ('-': standard output)")
        ->type_name("FILE");
    app.add_option("--can-interface", c.canInterface, "interface name in the candump log (default can0)")
        ->type_name("NAME");
    app.add_option("--flashed", cl.flashed,
                   "IDX:SUB=HEX: the object's bytes once a firmware image is programmed (what the new image "
                   "reports, e.g. 0x5401:1=070301 for version 3.01.07); repeat for more")
        ->type_name("IDX:SUB=HEX");
    app.add_option("--out-dir", c.node.outDir, "folder for firmware images and assembled blocks (default .)")
        ->type_name("DIR");
    app.add_option("--run-for-ms", cl.runForMs, "stop by itself after this many ms (default: run until signalled)")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("-v,--verbose", cl.verbose, "more log lines on standard error (repeat for more)");
    app.add_flag("-q,--quiet", cl.quiet, "warnings only");

    const std::string timing = "Timing";
    app.add_flag("--line-timing", c.adapter.lineTiming, "pace the serial line as 38400 bit/s does, 16-byte frames")
        ->group(timing);
    app.add_option("--baud", c.adapter.baud, "bit rate of the emulated line (default 38400)")
        ->type_name("BITS")
        ->check(CLI::Range(1200, 100000000))
        ->group(timing);
    app.add_option("--erase-ms", cl.eraseMs, "how long a flash erase keeps 0x1F57 busy (default 1000)")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber)
        ->group(timing);
    app.add_option("--reboot-ms", cl.rebootMs, "how long a restart keeps the machine off the bus (default 500)")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber)
        ->group(timing);
    app.add_option("--sdo-timeout-ms", cl.sdoTimeoutMs,
                   "abort a transfer the client leaves idle this long (default 5000)")
        ->type_name("MS")
        ->check(CLI::PositiveNumber)
        ->group(timing);
    app.add_option("--block-size", cl.blockSize, "segments per block asked for in block downloads (default 127)")
        ->type_name("N")
        ->check(CLI::Range(1, 127))
        ->group(timing);

    const std::string errors = "Error buffer (0x5300)";
    app.add_option("--error", cl.errorEntries,
                   "ID[:MINUTES[:COUNTER]]: an error entry; repeat for more (replaces "
                   "the model's entries)")
        ->type_name("ID[:MIN[:N]]")
        ->group(errors);
    app.add_option("--errors-file", cl.errorsFile, "error entries, one ID[:MINUTES[:COUNTER]] a line")
        ->type_name("FILE")
        ->group(errors);
    app.add_flag("--no-errors", cl.noErrors, "start with an empty error buffer")->group(errors);

    const std::string faults = "Fault injection";
    app.add_option("--drop-every", c.adapter.faults.dropEvery, "drop every Nth frame crossing the adapter")
        ->type_name("N")
        ->group(faults);
    app.add_option("--drop-share", c.adapter.faults.dropShare, "drop this share of frames at random (0 to 1)")
        ->type_name("P")
        ->check(CLI::Range(0.0, 1.0))
        ->group(faults);
    app.add_option("--drop-direction", cl.dropDirection, "which frames may be dropped: both, to-bus, to-host")
        ->type_name("DIR")
        ->check(CLI::IsMember({"both", "to-bus", "to-host"}))
        ->group(faults);
    app.add_option("--seed", c.adapter.faults.seed, "seed of the random faults (default 1)")
        ->type_name("N")
        ->group(faults);
    app.add_option("--delay-answers-ms", cl.delayMs, "hold back every SDO answer of the machine this long")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber)
        ->group(faults);
    app.add_option("--abort", cl.aborts,
                   "IDX[:SUB]=CODE[*N]: answer every access to the object (or the first N) with this abort code")
        ->type_name("IDX[:SUB]=CODE[*N]")
        ->group(faults);
    app.add_flag("--never-operational", c.node.neverOperational, "ignore NMT start: stay pre-operational")
        ->group(faults);
    app.add_option("--reboot-in-transfer", cl.rebootInTransfer,
                   "IDX[:SUB]: restart the machine once, halfway through a transfer of the object")
        ->type_name("IDX[:SUB]")
        ->group(faults);
    app.add_option("--garbage-every", c.adapter.faults.garbageEvery,
                   "put random bytes on the line before every Nth frame")
        ->type_name("N")
        ->group(faults);
    app.add_option("--silent-after-ms", cl.silentAfterMs, "stop passing anything on after this many ms")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber)
        ->group(faults);
    app.add_option("--silent-for-ms", cl.silentForMs, "... for this many ms (default: for good)")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber)
        ->group(faults);
    app.add_option("--faults-after-ms", cl.faultsAfterMs,
                   "lose, garble and delay frames only after this many ms (default: from the start)")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber)
        ->group(faults);
}

bool finishOptions(CommandLine& cl, const std::string& exeDir, std::string& error) {
    SimConfig& c = cl.config;
    c.node.nodeId = static_cast<uint8_t>(cl.nodeId);
    c.node.eraseTime = Millis(cl.eraseMs);
    c.node.rebootTime = Millis(cl.rebootMs);
    c.node.sdo.timeout = Millis(cl.sdoTimeoutMs);
    c.node.sdo.blockSize = static_cast<uint8_t>(cl.blockSize);
    c.adapter.faults.delayAnswers = Millis(cl.delayMs);
    c.runFor = Millis(cl.runForMs);
    if (cl.silentAfterMs) c.adapter.faults.silentAfter = Millis(*cl.silentAfterMs);
    c.adapter.faults.silentFor = Millis(cl.silentForMs);
    c.adapter.faults.faultsAfter = Millis(cl.faultsAfterMs);
    c.adapter.faults.dropDirection = cl.dropDirection == "to-bus"    ? FaultConfig::Direction::ToBus
                                     : cl.dropDirection == "to-host" ? FaultConfig::Direction::ToHost
                                                                     : FaultConfig::Direction::Both;
    c.verbosity = cl.quiet ? 0 : 1 + cl.verbose;
    for (const auto& a : cl.aborts) {
        auto rule = parseAbortRule(a);
        if (!rule) {
            error = "--abort " + a +
                    ": expected IDX[:SUB]=CODE[*N], for example 0x5401:1=0x08000024 or 0x5408=0x08000020*3";
            return false;
        }
        c.node.aborts.push_back(*rule);
    }
    for (const auto& text : cl.flashed) {
        auto value = parseFlashedValue(text);
        if (!value) {
            error = "--flashed " + text + ": expected IDX:SUB=HEX, for example 0x5401:1=070301";
            return false;
        }
        c.node.flashed.push_back(*value);
    }
    if (cl.noErrors || !cl.errorsFile.empty() || !cl.errorEntries.empty()) {
        std::vector<ErrorEntrySpec> entries;
        if (!cl.errorsFile.empty() && !readErrorEntries(cl.errorsFile, entries, error)) return false;
        for (const auto& text : cl.errorEntries) {
            const auto entry = parseErrorEntry(text);
            if (!entry) {
                error = "--error " + text + ": expected ID[:MINUTES[:COUNTER]], for example 0x1234:125";
                return false;
            }
            entries.push_back(*entry);
        }
        c.node.errorEntries = std::move(entries);
    }
    if (!cl.rebootInTransfer.empty()) {
        auto ref = parseObjectRef(cl.rebootInTransfer);
        if (!ref) {
            error = "--reboot-in-transfer " + cl.rebootInTransfer + ": expected IDX[:SUB], for example 0x1F50:1";
            return false;
        }
        c.node.rebootInTransfer = *ref;
    }
    if (c.edsPath.empty()) {
        const std::string m = cl.model.empty() ? "crane" : cl.model;
        auto path = findModel(m, cl.modelsDir, exeDir);
        if (!path) {
            error = "no shipped model \"" + m + "\" found (try --models-dir or --eds)";
            return false;
        }
        c.edsPath = *path;
    }
    return true;
}

}  // namespace msim
