// soak_bench [CYCLES]: CYCLES (default 1000) converter sessions (init, connect, identify, status,
// de-init through the exports against machine-sim), then as many opens and closes of serican, in
// one process. Prints threads, descriptors and resident memory before the first cycle, after
// the first and after the last. Passes (exit 0) when threads and descriptors are back where they
// were and resident memory grew by less than 1 MiB from the first cycle's end to the last's: the
// first cycle makes what lives until the library unloads (the converter, the stack's node).
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "soak.h"

namespace {

FILE* report = stderr;

bool soak(const char* what, int cycles, const std::function<std::string()>& cycle) {
    std::fprintf(report, "== %s, %d cycles\n", what, cycles);
    const auto before = orbeltest::processResources();
    orbeltest::printResources(report, "before the first cycle:", before);
    orbeltest::ProcessResources afterFirst{};
    const uint32_t start = platform::tickCountMs();
    for (int i = 0; i < cycles; ++i) {
        const std::string failure = cycle();
        if (!failure.empty()) {
            std::fprintf(report, "cycle %d: %s\n", i, failure.c_str());
            return false;
        }
        if (i == 0) {
            afterFirst = orbeltest::processResources();
            orbeltest::printResources(report, "after the first cycle:", afterFirst);
        }
    }
    const auto after = orbeltest::processResources();
    orbeltest::printResources(report, "after the last cycle:", after);
    const long growth = after.rssKiB - afterFirst.rssKiB;
    const bool ok = after.threads == before.threads && after.fds == before.fds && growth < 1024;
    std::fprintf(report, "%.1f ms per cycle; resident memory %+ld KiB over cycles 2..%d: %s\n",
                 static_cast<double>(platform::tickCountMs() - start) / cycles, growth, cycles, ok ? "pass" : "FAIL");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (cycles < 1) {
        std::fprintf(stderr, "usage: soak_bench [CYCLES]\n");
        return 2;
    }
    // The converter's trace goes to standard output and would drown the figures: they go to a
    // copy of it, the trace to the null device.
    std::fflush(stdout);
    report = fdopen(dup(1), "w");
    if (report == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
    std::string error;
    orbeltest::SoakTwin twin;
    if (!twin.start(error)) {
        std::fprintf(report, "%s\n", error.c_str());
        return 1;
    }
    orbeltest::SessionCycles sessions;
    bool ok = soak("converter sessions", cycles, [&sessions] { return sessions.cycle(); });
    sessions.report(report);
    orbeltest::SericanCycles serican;
    if (!serican.load(error)) {
        std::fprintf(report, "%s\n", error.c_str());
        return 1;
    }
    ok = soak("serican opened and closed", cycles, [&serican] { return serican.cycle(); }) && ok;
    return ok ? 0 : 1;
}
