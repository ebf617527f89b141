// Downloads through the converter's exports against machine-sim pacing its serial line as
// 38400 bit/s does: the firmware image's throughput against the line's limit for block
// transfers (7 data bytes per 16-byte frame: 1680 B/s), and curve-data blocks against theirs
// (segmented transfers: a 7-byte segment out, its answer back: 840 B/s). The times come from the
// twin's record: the image transfer's end against the end of the request before it.
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host_session.h"
#include "machine_sim_process.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_dll/orbel_dll.h"
#include "platform/clock.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr double kBlockLimit = 38400.0 / 10 / 16 * 7;  // 1680 B/s
constexpr double kSegmentedLimit = kBlockLimit / 2;    // 840 B/s

struct Session {
    fs::path dir;
    orbeltest::MachineSimProcess sim;
    bool ok = false;

    Session() {
        std::string pattern = (fs::temp_directory_path() / "download-bench-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        std::string error;
        ok = sim.start({"--model", "crane", "--quiet", "--line-timing", "--erase-ms", "200", "--reboot-ms", "200",
                        "--out-dir", dir.string(), "--record", (dir / "record.json").string()},
                       error);
        setenv("SERICAN_COM1", sim.ptyPath().c_str(), 1);
        setenv("ORBEL_CAN_DRIVER", (orbeltest::MachineSimProcess::binDir() + "/libserican.so").c_str(), 1);
        char port[] = "\\\\.\\COM1";
        ORBEL_DllInit(port);
        ok = ok && poll(0xE6) == 1 && poll(0xFA) == 1;
    }
    ~Session() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    int poll(uint8_t command) {
        for (int i = 0; i < 3000; ++i) {
            auto e = orbeltest::exchange({0xAA, 0x03, command, 0x00, 0x00});
            if (e.answer.size() < 4) return -1;
            if (e.answer[3] != 2) return e.answer[3];
            platform::sleepMs(20);
        }
        return -1;
    }
    void waitEnd(int32_t (*progress)(void*)) {
        uint8_t percent = 0;
        while (progress(&percent) == ORBEL_OK) platform::sleepMs(100);
        poll(0xFA);
    }
    Json stop() {
        ORBEL_DllDeInit();
        sim.stop();
        std::ifstream in(dir / "record.json");
        std::stringstream text;
        text << in.rdbuf();
        return Json::parse(text.str(), nullptr, false);
    }
};

// Seconds the transfers of `index` took: each one's end against the end of the record before it.
double transferSeconds(const Json& record, int index, std::size_t& bytes) {
    double total = 0;
    double previous = 0;
    bytes = 0;
    for (const Json& sdo : record["sdo"]) {
        const double ms = sdo["ms"].get<double>();
        if (sdo["index"] == index && sdo["op"] == "write" && sdo["abort"].is_null()) {
            total += ms - previous;
            bytes += sdo["size"].get<std::size_t>();
        }
        previous = ms;
    }
    return total / 1000.0;
}

void writeFile(const fs::path& path, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 37 + (i >> 9)));
}

void BM_FirmwareAtLineRate(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        Session s;
        if (!s.ok) return state.SkipWithError("machine-sim or the connection failed");
        writeFile(s.dir / "fw.hex", size);
        std::string path = (s.dir / "fw.hex").string();
        if (ORBEL_ConvStartFirmwareDownload(path.data()) != ORBEL_OK) return state.SkipWithError("not started");
        s.waitEnd(ORBEL_ConvGetFirmwareDownloadProgress);
        const Json record = s.stop();
        std::size_t bytes = 0;
        const double seconds = transferSeconds(record, 0x1F50, bytes);
        if (bytes != size || seconds <= 0) return state.SkipWithError("the image did not arrive");
        state.SetIterationTime(seconds);
        state.counters["B/s"] = bytes / seconds;
        state.counters["of line limit"] = bytes / seconds / kBlockLimit;
    }
}
BENCHMARK(BM_FirmwareAtLineRate)->Arg(256 << 10)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// One firmware download; with `load`, a second thread of the host sends status packages back to
// back meanwhile. The image's bytes per second, and the packages sent and answered.
struct LoadRun {
    double bytesPerSecond = 0;
    uint64_t sent = 0, answered = 0;
    const char* error = nullptr;
};
LoadRun firmwareRun(std::size_t size, bool load) {
    LoadRun run;
    Session s;
    if (!s.ok) {
        run.error = "machine-sim or the connection failed";
        return run;
    }
    writeFile(s.dir / "fw.hex", size);
    std::string path = (s.dir / "fw.hex").string();
    if (ORBEL_ConvStartFirmwareDownload(path.data()) != ORBEL_OK) {
        run.error = "not started";
        return run;
    }
    std::atomic<bool> running{true};
    std::thread host;
    if (load)
        host = std::thread([&] {
            while (running.load()) {
                ++run.sent;
                const auto e = orbeltest::exchange({0xAA, 0x03, 0x01, 0x00, 0x00});
                if (e.answer.size() >= 4 && e.answer[2] == 0x01) ++run.answered;
            }
        });
    uint8_t percent = 0;
    while (ORBEL_ConvGetFirmwareDownloadProgress(&percent) == ORBEL_OK) platform::sleepMs(100);
    running.store(false);
    if (host.joinable()) host.join();
    s.poll(0xFA);
    const Json record = s.stop();
    std::size_t bytes = 0;
    const double seconds = transferSeconds(record, 0x1F50, bytes);
    if (bytes != size || seconds <= 0)
        run.error = "the image did not arrive";
    else
        run.bytesPerSecond = bytes / seconds;
    return run;
}

// The same 64 KiB image without and with the host's status packages: the target is every
// package answered and the loaded throughput within 10 % of the quiet one ("loaded/quiet" at
// least 0.9).
void BM_FirmwareUnderStatusLoad(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        const LoadRun quiet = firmwareRun(size, false);
        if (quiet.error) return state.SkipWithError(quiet.error);
        const LoadRun loaded = firmwareRun(size, true);
        if (loaded.error) return state.SkipWithError(loaded.error);
        state.SetIterationTime(size / loaded.bytesPerSecond);
        state.counters["quiet B/s"] = quiet.bytesPerSecond;
        state.counters["loaded B/s"] = loaded.bytesPerSecond;
        state.counters["loaded/quiet"] = loaded.bytesPerSecond / quiet.bytesPerSecond;
        state.counters["packages"] = static_cast<double>(loaded.sent);
        state.counters["unanswered"] = static_cast<double>(loaded.sent - loaded.answered);
    }
}
BENCHMARK(BM_FirmwareUnderStatusLoad)->Arg(64 << 10)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_CurveDataAtLineRate(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        Session s;
        if (!s.ok) return state.SkipWithError("machine-sim or the connection failed");
        writeFile(s.dir / "curve.bin", size);
        std::string path = (s.dir / "curve.bin").string();
        const uint32_t start = platform::tickCountMs();
        if (ORBEL_ConvStartBlockDownloadFile(path.data(), 0x300) != ORBEL_OK) return state.SkipWithError("not started");
        s.waitEnd(ORBEL_ConvGetBlockDownloadProgress);
        const double whole = (platform::tickCountMs() - start) / 1000.0;
        const Json record = s.stop();
        std::size_t bytes = 0;
        const double packets = transferSeconds(record, 0x5408, bytes);
        if (bytes != size || packets <= 0) return state.SkipWithError("the block did not arrive");
        state.SetIterationTime(whole);
        state.counters["packet B/s"] = bytes / packets;
        state.counters["packets of limit"] = bytes / packets / kSegmentedLimit;
        state.counters["block B/s"] = bytes / whole;  // with the control records between packets
    }
}
BENCHMARK(BM_CurveDataAtLineRate)->Arg(16 << 10)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
