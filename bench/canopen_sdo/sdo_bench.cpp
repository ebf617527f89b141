// Frames and bytes per second of SDO transfers between the client of one node and the local
// server of another, joined by a loopback with no latency, and the frames each transfer kind
// spends per 7 payload bytes (segmented: 2 at best; block: 1 and an acknowledgement per block).
#include "canopen/alarm.h"
#include "canopen/can_driver.h"
#include "canopen/can_port.h"
#include "canopen/node_data.h"
#include "canopen/sdo.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

namespace {

using namespace canopen;

constexpr uint8_t kClientId = 1;
constexpr uint8_t kServerId = 10;

// Two nodes whose sent frames go to each other through a queue, handled on this thread.
struct Loopback {
    std::unique_ptr<NodeData> client = std::make_unique<NodeData>();
    std::unique_ptr<NodeData> server = std::make_unique<NodeData>();
    CanPort clientPort;
    CanPort serverPort;
    std::deque<std::pair<CanPort*, CanMessage>> queue;
    uint64_t frames = 0;
    std::vector<uint8_t> domain;

    static Loopback*& current() {
        static Loopback* instance = nullptr;
        return instance;
    }
    static uint8_t ORBEL_STDCALL send(CanHandle handle, const CanMessage* message) {
        Loopback& self = *current();
        ++self.frames;
        self.queue.emplace_back(static_cast<CanPort*>(handle), *message);
        return 0;
    }

    explicit Loopback(size_t objectSize) : domain(objectSize, 0x5A) {
        current() = this;
        initAlarmService();
        canDriverTable().canSend.store(send);
        StackLockGuard lock;
        for (auto [node, port, id] :
             {std::tuple{client.get(), &clientPort, kClientId}, std::tuple{server.get(), &serverPort, kServerId}}) {
            port->handle = port;
            port->node = node;
            node->port = port;
            setNodeId(node, id);
            setNodeState(node, Initialisation);
        }
        const ObjectLookup lookup = findObject(server.get(), 0x2000);
        lookup.entry->subs[1].value = domain.data();
        lookup.entry->subs[1].size = static_cast<uint32_t>(domain.size());
        queue.clear();
        frames = 0;
    }
    ~Loopback() {
        canDriverTable().canSend.store(nullptr);
        current() = nullptr;
    }

    void pump() {
        while (!queue.empty()) {
            const auto [from, message] = queue.front();
            queue.pop_front();
            NodeData* to = from == &clientPort ? server.get() : client.get();
            StackLockGuard lock;
            dispatchCanFrame(to, &message);
        }
    }

    void download(const std::vector<uint8_t>& data, bool block) {
        {
            StackLockGuard lock;
            if (writeNetworkDict(client.get(), kServerId, 0x2000, 1, static_cast<uint32_t>(data.size()), 0, data.data(),
                                 block) != kSdoStarted)
                std::abort();
        }
        pump();
        uint32_t abortCode = 0;
        StackLockGuard lock;
        if (getWriteResultNetworkDict(client.get(), kServerId, &abortCode) != kSdoFinished) std::abort();
    }

    void upload(std::vector<uint8_t>& out, bool block) {
        {
            StackLockGuard lock;
            if (readNetworkDictCallback(client.get(), kServerId, 0x2000, 1, 0, nullptr, block) != kSdoStarted)
                std::abort();
        }
        pump();
        uint32_t size = static_cast<uint32_t>(out.size());
        uint32_t abortCode = 0;
        StackLockGuard lock;
        if (getReadResultNetworkDict(client.get(), kServerId, out.data(), &size, &abortCode) != kSdoFinished)
            std::abort();
    }
};

void report(benchmark::State& state, const Loopback& loop, uint64_t payload) {
    state.SetBytesProcessed(static_cast<int64_t>(payload));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(loop.frames), benchmark::Counter::kIsRate);
    state.counters["frames/7 bytes"] = static_cast<double>(loop.frames) * 7.0 / static_cast<double>(payload);
    // Eight data bytes go on the wire for each frame: block transfers approach 8/7 per payload byte.
    state.counters["wire bytes/byte"] = static_cast<double>(loop.frames) * 8.0 / static_cast<double>(payload);
}

// One expedited download and one expedited upload of four bytes per iteration.
void BM_ExpeditedRoundTrip(benchmark::State& state) {
    Loopback loop(4);
    const std::vector<uint8_t> data{1, 2, 3, 4};
    std::vector<uint8_t> out(4);
    for (auto _ : state) {
        loop.download(data, false);
        loop.upload(out, false);
    }
    report(state, loop, 8 * state.iterations());
}
BENCHMARK(BM_ExpeditedRoundTrip);

void BM_Download(benchmark::State& state) {
    const bool block = state.range(1) != 0;
    Loopback loop(static_cast<size_t>(state.range(0)));
    const std::vector<uint8_t> data(loop.domain.size(), 0xA5);
    for (auto _ : state) loop.download(data, block);
    report(state, loop, data.size() * state.iterations());
}
BENCHMARK(BM_Download)
    ->ArgNames({"bytes", "block"})
    ->Args({1 << 20, 1})
    ->Args({1 << 20, 0})
    ->Args({65536, 1})
    ->Args({65536, 0})
    ->Unit(benchmark::kMillisecond);

void BM_Upload(benchmark::State& state) {
    const bool block = state.range(1) != 0;
    Loopback loop(static_cast<size_t>(state.range(0)));
    std::vector<uint8_t> out(loop.domain.size());
    for (auto _ : state) loop.upload(out, block);
    report(state, loop, out.size() * state.iterations());
}
BENCHMARK(BM_Upload)->ArgNames({"bytes", "block"})->Args({65536, 1})->Args({65536, 0})->Unit(benchmark::kMillisecond);

}  // namespace
