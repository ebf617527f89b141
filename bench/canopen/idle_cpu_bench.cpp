// CPU time of the whole process over 10 s with the node operational and producing a
// heartbeat every 500 ms: the alarm and receive threads must sleep between events. The
// target is under 1 % (counter cpu_percent).
#include "canopen/alarm.h"
#include "canopen/can_driver.h"
#include "canopen/can_port.h"
#include "canopen/node_data.h"
#include "canopen/node_state.h"
#include "canopen/object_dictionary.h"
#include "testcan/testcan.h"

#include <benchmark/benchmark.h>

#include <time.h>
#include <chrono>
#include <memory>
#include <thread>

namespace {

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void IdleOperationalNode(benchmark::State& state) {
    const char* bus = "idle-bench";
    canopen::initAlarmService();
    platform::LibraryHandle module = canopen::loadCanDriver(TESTCAN_PATH);
    if (!module) {
        state.SkipWithError("test CAN driver not found");
        return;
    }
    auto sentCount = reinterpret_cast<TestcanSentCount>(platform::librarySymbol(module, "testcanSentCount"));
    auto node = std::make_unique<canopen::NodeData>();
    s_BOARD board{bus, "500K"};
    canopen::openCanPort(&board, node.get());
    {
        canopen::StackLockGuard lock;
        canopen::setNodeId(node.get(), 1);
        uint16_t producerTime = 500;
        uint32_t size = sizeof producerTime;
        canopen::writeLocalObject(node.get(), 0x1017, 0, &producerTime, &size, true);
        canopen::setNodeState(node.get(), canopen::Initialisation);
        canopen::setNodeState(node.get(), canopen::Operational);
    }
    canopen::startAlarmThread(nullptr);

    const int framesBefore = sentCount(bus);
    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    for (auto _ : state) std::this_thread::sleep_for(std::chrono::seconds(10));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = processCpuSeconds() - cpuBefore;

    state.counters["cpu_ms"] = cpu * 1e3;
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
    state.counters["heartbeats"] = sentCount(bus) - framesBefore;

    canopen::stopAlarmThread(nullptr);
    canopen::closeCanPort(node.get());
    canopen::unloadCanDriver(module);
    canopen::releaseAlarmService();
}

BENCHMARK(IdleOperationalNode)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
