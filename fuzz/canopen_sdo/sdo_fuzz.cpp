// Frames of any content into the SDO engine, with its one line brought first into any of the
// states a transfer passes through, interleaved with time passing and calls of the client API.
//
// Input: byte 0 picks the starting state, byte 1 tunes it (sizes, block size); then records:
//   0x00..0x9F  a frame: COB-id selector, rtr, length (any value), 8 data bytes
//   0xA0..0xDF  time passes: (byte & 0x3F) * 100 ms, with the alarm service waking as due
//   0xE0..0xFF  a client API call chosen by the low bits, with one argument byte
#include "canopen/alarm.h"
#include "canopen/alarm_testing.h"
#include "canopen/can_driver.h"
#include "canopen/can_port.h"
#include "canopen/node_data.h"
#include "canopen/node_state.h"
#include "canopen/sdo.h"
#include "platform/clock.h"
#include "platform/event.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <vector>

namespace {

using namespace canopen;

constexpr uint8_t kLocalId = 1;
constexpr uint8_t kPeerId = 10;
constexpr uint16_t kToLocal = 0x600 + kLocalId;
constexpr uint16_t kFromPeer = 0x580 + kPeerId;

// Time moves only with the input.
struct InputClock final : platform::Clock {
    uint32_t time = 0;
    uint32_t now() override { return time; }
    bool wait(platform::Event& event, uint32_t) override { return event.wait(0); }
};
InputClock g_clock;

uint8_t ORBEL_STDCALL checkSend(CanHandle, const CanMessage* message) {
    if (message->cobId >= 0x800 || message->len > 8) std::abort();
    // The SDO engine sends only whole data frames.
    const bool sdo = message->cobId >= 0x580 && message->cobId < 0x680;
    if (sdo && (message->len != 8 || message->rtr)) std::abort();
    return 0;
}

CanPort& fakePort() {
    static CanPort port;
    return port;
}

NodeData& node() {
    static NodeData* instance = new NodeData;
    return *instance;
}

uint8_t g_domain[4096];

void onComplete(NodeData* n, uint8_t nodeId) {
    uint8_t out[64];
    uint32_t size = sizeof out;
    uint32_t abortCode = 0;
    if (n->sdo.state == kSdoFinished && n->sdo.count % 2)
        getReadResultNetworkDict(n, nodeId, out, &size, &abortCode);
    else
        getWriteResultNetworkDict(n, nodeId, &abortCode);
}

void deliver(uint16_t cobId, std::initializer_list<uint8_t> bytes) {
    CanMessage m{};
    m.cobId = cobId;
    for (uint8_t b : bytes) m.data[m.len++] = b;
    dispatchCanFrame(&node(), &m);
}

void setDomain(uint32_t size) {
    const ObjectLookup lookup = findObject(&node(), 0x2000);
    lookup.entry->subs[1].value = g_domain;
    lookup.entry->subs[1].size = size;
}

void read(bool block) { readNetworkDictCallback(&node(), kPeerId, 0x2000, 1, 0, onComplete, block); }
void write(uint32_t size, bool block) {
    writeNetworkDictWithCallback(&node(), kPeerId, 0x2000, 1, size, 0, g_domain, onComplete, block);
}

// Brings the line into one of the states a transfer passes through.
void prepare(uint8_t scenario, uint8_t tune) {
    const uint8_t size = tune;
    const uint8_t blockSize = static_cast<uint8_t>(tune % 127 + 1);
    switch (scenario % 21) {
        case 0: break;  // free
        case 1: read(false); break;
        case 2:
            read(false);
            deliver(kFromPeer, {0x41, 0x00, 0x20, 0x01, size, 0, 0, 0});
            break;
        case 3: read(true); break;
        case 4:
            read(true);
            deliver(kFromPeer, {0xC2, 0x00, 0x20, 0x01, size, 0, 0, 0});
            break;
        case 5:
            read(true);
            deliver(kFromPeer, {0xC2, 0x00, 0x20, 0x01, 7, 0, 0, 0});
            deliver(kFromPeer, {0x81, 1, 2, 3, 4, 5, 6, 7});
            break;
        case 6: write(3, false); break;
        case 7:
            write(size + 5u, false);
            deliver(kFromPeer, {0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0});
            break;
        case 8: write(size, true); break;
        case 9:
            write(size * 3u, true);
            deliver(kFromPeer, {0xA0, 0x00, 0x20, 0x01, blockSize, 0, 0, 0});
            break;
        case 10:
            write(5, true);
            deliver(kFromPeer, {0xA0, 0x00, 0x20, 0x01, 127, 0, 0, 0});
            deliver(kFromPeer, {0xA2, 1, 127, 0, 0, 0, 0, 0});
            break;
        case 11:
            read(false);
            deliver(kFromPeer, {0x4F, 0x00, 0x20, 0x01, 1, 0, 0, 0});
            break;
        case 12:
            read(false);
            deliver(kFromPeer, {0x80, 0x00, 0x20, 0x01, 0, 0, 2, 6});
            break;
        case 13:
            read(false);
            deliver(kFromPeer, {0x4F, 0x00, 0x20, 0x01, 1, 0, 0});
            break;
        case 14:
            setDomain(size);
            deliver(kToLocal, {0x21, 0x00, 0x20, 0x01, size, 0, 0, 0});
            break;
        case 15:
            setDomain(size + 5u);
            deliver(kToLocal, {0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0});
            break;
        case 16:
            setDomain(size);
            deliver(kToLocal, {0xC2, 0x00, 0x20, 0x01, size, 0, 0, 0});
            break;
        case 17:
            setDomain(7);
            deliver(kToLocal, {0xC2, 0x00, 0x20, 0x01, 7, 0, 0, 0});
            deliver(kToLocal, {0x81, 1, 2, 3, 4, 5, 6, 7});
            break;
        case 18:
            setDomain(size);
            deliver(kToLocal, {0xA0, 0x00, 0x20, 0x01, blockSize, 0, 0, 0});
            break;
        case 19:
            setDomain(size * 4u);
            deliver(kToLocal, {0xA0, 0x00, 0x20, 0x01, blockSize, 0, 0, 0});
            deliver(kToLocal, {0xA3, 0, 0, 0, 0, 0, 0, 0});
            break;
        case 20:
            setDomain(3);
            deliver(kToLocal, {0xA0, 0x00, 0x20, 0x01, 127, 0, 0, 0});
            deliver(kToLocal, {0xA3, 0, 0, 0, 0, 0, 0, 0});
            deliver(kToLocal, {0xA2, 1, 127, 0, 0, 0, 0, 0});
            break;
    }
}

uint16_t cobIdFor(uint8_t selector) {
    switch (selector & 0x03) {
        case 0: return kToLocal;
        case 1: return kFromPeer;
        case 2: return static_cast<uint16_t>(0x580 + (selector >> 2));   // other client channels
        default: return static_cast<uint16_t>(0x580 + (selector >> 1));  // anything in the SDO range
    }
}

void apiCall(uint8_t op, uint8_t argument) {
    uint8_t out[300];
    uint32_t size = argument;
    uint32_t abortCode = 0;
    switch (op & 0x07) {
        case 0: read(argument & 1); break;
        case 1: write(argument, false); break;
        case 2: write(argument * 9u, true); break;
        case 3: getReadResultNetworkDict(&node(), kPeerId, out, &size, &abortCode); break;
        case 4: getWriteResultNetworkDict(&node(), kPeerId, &abortCode); break;
        case 5: resetSdoClientLine(&node(), argument & 1 ? kPeerId : argument, kSdoRoleClient); break;
        case 6: getSdoRemaining(&node(), argument & 1, &size); break;
        case 7: freeSdoLine(&node()); break;
    }
}

void passTime(uint32_t ms) {
    const uint32_t target = g_clock.time + ms;
    for (int wakeups = 0; wakeups < 1000; ++wakeups) {
        const uint32_t sleep = testing::totalSleepTime();
        const uint32_t due = testing::lastWakeup() + sleep;
        if (sleep == kNoWakeup || static_cast<int32_t>(target - due) < 0) break;
        g_clock.time = due;
        testing::runAlarmWakeup();
    }
    g_clock.time = target;
}

void checkLine() {
    const SdoLine& line = node().sdo;
    const bool known =
        line.state <= kSdoBlockUploadInProgress || line.state == kSdoAbortedByPeer || line.state == kSdoAbortedLocally;
    if (!known || (line.state == kSdoFree) != (line.role == kSdoRoleNone)) std::abort();
    const bool inProgress = line.state >= kSdoDownloadInProgress && line.state <= kSdoBlockUploadInProgress;
    if (line.role == kSdoRoleServer && !inProgress) std::abort();  // a server transfer runs or is gone
    if (line.heapBuffer && line.heapSize == 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The dictionary as built, to start every input from; SDO writes change it.
    static const OdValues pristine = [] {
        platform::installClock(&g_clock);
        initAlarmService();
        canDriverTable().canSend.store(checkSend);
        return node().od.values;
    }();
    if (size < 2) return 0;

    StackLockGuard lock;
    NodeData& n = node();
    freeSdoLine(&n);
    testing::resetAlarmTable();
    n.od.values = pristine;
    n.heartbeat = HeartbeatData{};
    n.nodeState = Unknown;
    n.flags = CommunicationFlags{};
    n.port = &fakePort();
    setNodeId(&n, kLocalId);
    setNodeState(&n, Initialisation);
    setDomain(0);

    prepare(data[0], data[1]);
    checkLine();
    size_t pos = 2;
    while (pos < size) {
        const uint8_t op = data[pos++];
        if (op < 0xA0) {
            if (size - pos < 11) break;
            CanMessage m{};
            m.cobId = cobIdFor(data[pos]);
            m.rtr = data[pos + 1] == 0xFF ? 1 : 0;
            m.len = data[pos + 2] > 12 ? 8 : data[pos + 2];
            for (int i = 0; i < 8; ++i) m.data[i] = data[pos + 3 + i];
            pos += 11;
            dispatchCanFrame(&n, &m);
        } else if (op < 0xE0) {
            passTime((op & 0x3Fu) * 100);
        } else {
            if (pos >= size) break;
            apiCall(op, data[pos++]);
        }
        checkLine();
    }
    return 0;
}
