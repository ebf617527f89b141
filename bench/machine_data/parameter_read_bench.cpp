// 200 one-byte parameters read through the exports (one 0x07 request, 0x08 until done) from
// machine-sim pacing its serial line as 38400 bit/s does. Each parameter is one expedited SDO
// round trip, two 16-byte frames on the line: 8.33 ms, so the line allows 120 parameters per
// second. Reported: parameters per second and the share of that limit reached.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "host_session.h"
#include "machine_sim_process.h"
#include "orbel_dll/orbel_dll.h"
#include "platform/clock.h"
#include "temp_dir.h"

namespace {

using orbeltest::exchange;

constexpr int kParameters = 200;
constexpr double kLineBitsPerSecond = 38400.0;
constexpr double kRoundTripSeconds = 2 * 16 * 10 / kLineBitsPerSecond;  // 8N1: 10 bits a byte

uint8_t state(const std::vector<uint8_t>& answer) { return answer.size() > 3 ? answer[3] : 0xEE; }

std::vector<uint8_t> poll(std::vector<uint8_t> package) {
    for (;;) {
        auto answer = exchange(package).answer;
        if (state(answer) != 2) return answer;
        platform::sleepMs(1);
    }
}

void BM_ReadTwoHundredOneByteParameters(benchmark::State& st) {
    orbeltest::MachineSimProcess sim;
    orbeltest::TempDir dir;
    std::string error;
    if (!sim.start({"--model", "crane", "--quiet", "--line-timing", "--baud", "38400"}, error)) {
        st.SkipWithError(error.c_str());
        return;
    }
    setenv("SERICAN_COM1", sim.ptyPath().c_str(), 1);
    setenv("ORBEL_CAN_DRIVER", (orbeltest::MachineSimProcess::binDir() + "/libserican.so").c_str(), 1);
    char port[] = "\\\\.\\COM1";
    ORBEL_DllInit(port);
    std::string file;
    for (int i = 0; i < kParameters; ++i)
        file += std::to_string(i) + ";P" + std::to_string(i) + ";1;;;;;;;;;;12288;" + std::to_string(1 + i % 16) + "\n";
    std::string path = dir.file("params.csv", file);
    ORBEL_ConvAddParameterDescription(path.data(), 0);
    if (state(poll({0xAA, 0x03, 0xE6, 0x00, 0x00})) != 1 || state(poll({0xAA, 0x03, 0xFA, 0x00, 0x00})) != 1) {
        st.SkipWithError("no connection to machine-sim");
        ORBEL_DllDeInit();
        return;
    }
    double seconds = 0;
    for (auto _ : st) {
        const uint32_t start = platform::tickCountMs();
        if (state(exchange({0xAA, 0x05, 0x07, 0x00, 16, kParameters, 0x00}).answer) != 1 ||
            state(poll({0xAA, 0x03, 0x08, 0x00, 0x00})) != 1) {
            st.SkipWithError("read failed");
            break;
        }
        const double s = (platform::tickCountMs() - start) / 1000.0;
        seconds += s;
        st.SetIterationTime(s);
    }
    ORBEL_DllDeInit();
    const double perSecond = seconds > 0 ? kParameters * static_cast<double>(st.iterations()) / seconds : 0;
    st.counters["parameters_per_s"] = perSecond;
    st.counters["share_of_line_limit"] = perSecond * kRoundTripSeconds;
}
BENCHMARK(BM_ReadTwoHundredOneByteParameters)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
