// Feeds frames to dispatchCanFrame for a fresh node per input, with the clock moving and the
// alarm service firing between frames, and checks the node stays sound.
//
// Input: one byte of set-up (initial state, heartbeat producer and consumer), then records:
//   0x00..0x7F  a frame: cobId (2 bytes, any value), rtr, len (any value), 8 data bytes
//   0x80..0xFF  time passes: (byte & 0x7F) * 16 ms, then the alarm service wakes up
#include "canopen/alarm.h"
#include "canopen/alarm_testing.h"
#include "canopen/can_driver.h"
#include "canopen/can_port.h"
#include "canopen/node_data.h"
#include "canopen/node_state.h"
#include "canopen/object_dictionary.h"
#include "canopen/sdo.h"
#include "platform/clock.h"
#include "platform/event.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Time moves only with the input.
struct InputClock final : platform::Clock {
    uint32_t time = 0;
    uint32_t now() override { return time; }
    bool wait(platform::Event& event, uint32_t) override { return event.wait(0); }
};
InputClock g_clock;

uint32_t g_sent = 0;
uint8_t ORBEL_STDCALL countSend(canopen::CanHandle, const CanMessage* message) {
    if (message->len > 8 || message->cobId >= 0x800) std::abort();  // the stack sent a malformed frame
    ++g_sent;
    return 0;
}
uint8_t ORBEL_STDCALL acceptBaudRate(canopen::CanHandle, const char* baudRate) {
    if (!baudRate) std::abort();
    return 0;
}

bool soundState(uint32_t state) {
    switch (state) {
        case canopen::Pre_operational:
        case canopen::Operational:
        case canopen::Stopped:
        case canopen::Unknown: return true;
        default: return false;
    }
}

canopen::CanPort& fakePort() {
    static canopen::CanPort port;
    return port;
}

void resetNode(canopen::NodeData& n) {
    canopen::freeSdoLine(&n);
    n.nodeId = 0;
    n.pendingNodeId = 0;
    n.od.values = canopen::OdValues{};
    canopen::registerWriteHook(&n, 0x1017, 0, nullptr);  // the only hook the stack installs itself
    n.nodeState = canopen::Unknown;
    n.flags = canopen::CommunicationFlags{};
    n.hooks = canopen::NodeHooks{};
    n.heartbeat = canopen::HeartbeatData{};
    for (auto& state : n.remoteStates) state = canopen::Unknown;
    n.guard = canopen::NodeGuardData{};
    n.syncEmergencyPdo = canopen::SyncEmergencyPdoData{};
    n.lss = canopen::LssData{};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        platform::installClock(&g_clock);
        canopen::initAlarmService();
        canopen::canDriverTable().canSend.store(countSend);
        canopen::canDriverTable().canChangeBaudRate.store(acceptBaudRate);
        return true;
    }();
    (void)once;
    if (size == 0) return 0;

    canopen::StackLockGuard lock;
    canopen::testing::resetAlarmTable();
    // One node for every input, its parts set back to their start: building a fresh one
    // zeroes the SDO line's megabyte, which costs more than the frames.
    static canopen::NodeData* const node = new canopen::NodeData;
    resetNode(*node);
    node->port = &fakePort();
    node->nmtSlave = (data[0] & 0x40) ? 0 : 1;
    canopen::setNodeId(node, 1 + (data[0] & 0x07));
    node->od.values.heartbeatProducerTime = (data[0] & 0x08) ? 100 : 0;
    node->od.values.heartbeatConsumerTime[0] = (data[0] & 0x10) ? (5u << 16 | 300u) : 0;
    if (data[0] & 0x20) canopen::setNodeState(node, canopen::Initialisation);

    size_t at = 1;
    while (at < size) {
        const uint8_t op = data[at++];
        if (op & 0x80) {
            g_clock.time += (op & 0x7Fu) * 16u;
            canopen::testing::runAlarmWakeup();
            continue;
        }
        CanMessage m{};
        const size_t take = size - at < 12 ? size - at : 12;
        std::memcpy(&m, data + at, take);
        at += take;
        canopen::dispatchCanFrame(node, &m);
        if (!soundState(node->nodeState)) std::abort();
        if (node->port != &fakePort() && node->lss.savedPort != &fakePort()) std::abort();
    }
    // The next input starts from an empty table.
    canopen::testing::resetAlarmTable();
    return 0;
}
