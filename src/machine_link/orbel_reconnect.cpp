#include "machine_link/orbel_reconnect.h"

#include <mutex>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace {

struct Reconnect {
    std::mutex mutex;  // schedule and cancel come from host and stack threads
    platform::Thread thread;
    platform::Event cancelled{true, false};
    uint32_t delayMs = 0;
    void (*connect)() = nullptr;
};

// Lives for the process: a reconnect thread may still run while the library unloads.
Reconnect& reconnect() {
    static Reconnect* r = new Reconnect;
    return *r;
}

uint32_t reconnectEntry(void*) {
    Reconnect& r = reconnect();
    if (platform::clock().wait(r.cancelled, r.delayMs)) return 0;
    r.connect();
    return 0;
}

// Caller holds the mutex.
void stopThread(Reconnect& r) {
    if (!r.thread.attached()) return;
    r.cancelled.set();
    r.thread.join(platform::Thread::kDefaultJoinMs, "reconnect");
}

}  // namespace

void ORBEL_ScheduleReconnect(uint32_t delayMs, void (*connect)()) {
    Reconnect& r = reconnect();
    std::lock_guard<std::mutex> lock(r.mutex);
    // A reconnection still waiting is replaced; one that runs now is on this very thread or
    // ends soon.
    stopThread(r);
    r.cancelled.reset();
    r.delayMs = delayMs;
    r.connect = connect;
    if (!r.thread.start(reconnectEntry, nullptr)) connect();
}

void ORBEL_CancelReconnect() {
    Reconnect& r = reconnect();
    std::lock_guard<std::mutex> lock(r.mutex);
    stopThread(r);
}

void ORBEL_FinishReconnectForTesting() {
    Reconnect& r = reconnect();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.thread.attached()) r.thread.join(platform::Thread::kDefaultJoinMs * 5, "reconnect");
}
