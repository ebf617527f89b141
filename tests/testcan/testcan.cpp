// A CAN driver library for tests: the five driver entries over virtual buses in memory, and
// control entries to inject frames and read back what was sent (see testcan.h).
#include "testcan.h"

#include "common/api_export.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Board;

struct Bus {
    std::vector<Board*> boards;  // open ones
    std::vector<CanMessage> sent;
    int failReceives = 0;
    int receiveCalls = 0;
    int closeResult = 0;
    int baudRateChanges = 0;
    std::string lastBaudRate;
};

struct Board {
    Bus* bus;
    std::deque<CanMessage> queue;
    bool open = true;
    bool waiting = false;  // inside receive with nothing to deliver
};

// One lock for everything: the library serves a handful of boards in a test.
std::mutex g_mutex;
std::condition_variable g_changed;
std::map<std::string, std::unique_ptr<Bus>> g_buses;
// Boards live until the library is unloaded: a receive thread may still hold one after close.
std::vector<std::unique_ptr<Board>> g_boards;

Bus& busNamed(const char* name) {
    auto& bus = g_buses[name ? name : ""];
    if (!bus) bus = std::make_unique<Bus>();
    return *bus;
}

void deliver(Bus& bus, const CanMessage& message, const Board* except) {
    for (Board* board : bus.boards)
        if (board != except) board->queue.push_back(message);
}

template <typename Predicate>
int waitFor(std::unique_lock<std::mutex>& lock, unsigned timeoutMs, Predicate done) {
    return g_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done) ? 1 : 0;
}

}  // namespace

extern "C" {

#ifndef TESTCAN_WITHOUT_OPEN
ORBEL_DLL_EXPORT void* ORBEL_STDCALL canOpen_driver(s_BOARD* board) {
    if (!board || !board->busname || std::strcmp(board->busname, "refuse") == 0) return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    Bus& bus = busNamed(board->busname);
    g_boards.push_back(std::make_unique<Board>(Board{&bus, {}, true, false}));
    bus.boards.push_back(g_boards.back().get());
    g_changed.notify_all();
    return g_boards.back().get();
}
#endif

#ifndef TESTCAN_WITHOUT_CLOSE
ORBEL_DLL_EXPORT int ORBEL_STDCALL canClose_driver(void* handle) {
    auto* board = static_cast<Board*>(handle);
    if (!board) return -1;
    std::lock_guard<std::mutex> lock(g_mutex);
    board->open = false;
    auto& boards = board->bus->boards;
    for (auto it = boards.begin(); it != boards.end(); ++it) {
        if (*it == board) {
            boards.erase(it);
            break;
        }
    }
    g_changed.notify_all();
    return board->bus->closeResult;
}
#endif

#ifndef TESTCAN_WITHOUT_SEND
ORBEL_DLL_EXPORT unsigned char ORBEL_STDCALL canSend_driver(void* handle, const CanMessage* message) {
    auto* board = static_cast<Board*>(handle);
    if (!board || !message) return 1;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!board->open) return 1;
    board->bus->sent.push_back(*message);
    deliver(*board->bus, *message, board);
    g_changed.notify_all();
    return 0;
}
#endif

#ifndef TESTCAN_WITHOUT_RECEIVE
ORBEL_DLL_EXPORT unsigned char ORBEL_STDCALL canReceive_driver(void* handle, CanMessage* message) {
    auto* board = static_cast<Board*>(handle);
    if (!board || !message) return 1;
    std::unique_lock<std::mutex> lock(g_mutex);
    ++board->bus->receiveCalls;
    if (board->bus->failReceives > 0) {
        --board->bus->failReceives;
        return 1;
    }
    board->waiting = true;
    g_changed.notify_all();
    g_changed.wait(lock, [board] { return !board->open || !board->queue.empty() || board->bus->failReceives > 0; });
    board->waiting = false;
    if (!board->open) return 1;
    if (board->queue.empty()) {
        --board->bus->failReceives;
        return 1;
    }
    *message = board->queue.front();
    board->queue.pop_front();
    return 0;
}
#endif

#ifndef TESTCAN_WITHOUT_BAUDRATE
ORBEL_DLL_EXPORT unsigned char ORBEL_STDCALL canChangeBaudRate_driver(void* handle, const char* baudRate) {
    auto* board = static_cast<Board*>(handle);
    if (!board) return 1;
    std::lock_guard<std::mutex> lock(g_mutex);
    ++board->bus->baudRateChanges;
    board->bus->lastBaudRate = baudRate ? baudRate : "";
    return 0;
}
#endif

ORBEL_DLL_EXPORT int testcanInject(const char* bus, const CanMessage* message) {
    if (!message) return 0;
    std::lock_guard<std::mutex> lock(g_mutex);
    Bus& b = busNamed(bus);
    deliver(b, *message, nullptr);
    g_changed.notify_all();
    return static_cast<int>(b.boards.size());
}

ORBEL_DLL_EXPORT int testcanWaitIdle(const char* bus, unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(g_mutex);
    Bus& b = busNamed(bus);
    return waitFor(lock, timeoutMs, [&b] {
        for (const Board* board : b.boards)
            if (!board->queue.empty() || !board->waiting) return false;
        return true;
    });
}

ORBEL_DLL_EXPORT int testcanSentCount(const char* bus) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int>(busNamed(bus).sent.size());
}

ORBEL_DLL_EXPORT int testcanSentFrame(const char* bus, int position, CanMessage* out) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto& sent = busNamed(bus).sent;
    if (!out || position < 0 || position >= static_cast<int>(sent.size())) return 0;
    *out = sent[static_cast<size_t>(position)];
    return 1;
}

ORBEL_DLL_EXPORT int testcanWaitSent(const char* bus, int count, unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(g_mutex);
    Bus& b = busNamed(bus);
    return waitFor(lock, timeoutMs, [&b, count] { return static_cast<int>(b.sent.size()) >= count; });
}

ORBEL_DLL_EXPORT void testcanClearSent(const char* bus) {
    std::lock_guard<std::mutex> lock(g_mutex);
    busNamed(bus).sent.clear();
}

ORBEL_DLL_EXPORT void testcanFailReceives(const char* bus, int count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    busNamed(bus).failReceives = count;
    g_changed.notify_all();
}

ORBEL_DLL_EXPORT int testcanReceiveCalls(const char* bus) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return busNamed(bus).receiveCalls;
}

ORBEL_DLL_EXPORT void testcanSetCloseResult(const char* bus, int result) {
    std::lock_guard<std::mutex> lock(g_mutex);
    busNamed(bus).closeResult = result;
}

ORBEL_DLL_EXPORT int testcanBaudRateChanges(const char* bus, char* last, int size) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Bus& b = busNamed(bus);
    if (last && size > 0) {
        std::strncpy(last, b.lastBaudRate.c_str(), static_cast<size_t>(size - 1));
        last[size - 1] = '\0';
    }
    return b.baudRateChanges;
}

ORBEL_DLL_EXPORT int testcanOpenBoards(const char* bus) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int>(busNamed(bus).boards.size());
}

}  // extern "C"
