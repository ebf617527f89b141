#include "sdo_bus.h"

#include "canopen/alarm.h"
#include "canopen/alarm_testing.h"
#include "canopen/byte_order.h"
#include "canopen/can_driver.h"
#include "canopen/sdo.h"

#include <atomic>
#include <cstdio>

namespace sdo_test {

using namespace canopen;

namespace {

Bus* g_current = nullptr;

uint8_t ORBEL_STDCALL sendEntry(CanHandle handle, const CanMessage* message) {
    if (!g_current) return 1;
    g_current->onSend(static_cast<CanPort*>(handle), *message);
    return 0;
}

}  // namespace

std::vector<uint8_t> Completions::nodeIds;

CanMessage frame(uint16_t cobId, std::initializer_list<uint8_t> bytes) {
    CanMessage m{};
    m.cobId = cobId;
    m.len = static_cast<uint8_t>(bytes.size());
    size_t i = 0;
    for (uint8_t b : bytes) m.data[i++] = b;
    return m;
}

CanMessage abortOn(uint16_t cobId, uint16_t index, uint8_t sub, uint32_t code) {
    CanMessage m = frame(cobId, {0x80, 0, 0, sub, 0, 0, 0, 0});
    canopen::put16(m.data + 1, index);
    canopen::put32(m.data + 4, code);
    return m;
}

std::string describe(const CanMessage& message) {
    char text[64];
    int n = std::snprintf(text, sizeof text, "%03X:", message.cobId);
    for (int i = 0; i < message.len && i < 8; ++i)
        n += std::snprintf(text + n, sizeof text - n, " %02X", message.data[i]);
    return text;
}

bool sameFrame(const CanMessage& a, const CanMessage& b) {
    if (a.cobId != b.cobId || a.rtr != b.rtr || a.len != b.len) return false;
    for (int i = 0; i < a.len && i < 8; ++i)
        if (a.data[i] != b.data[i]) return false;
    return true;
}

Bus::Bus() : clock_(1000) {
    clock_.afterWakeup = [this] { pump(); };
    initAlarmService();
    canopen::testing::resetAlarmTable();
    g_current = this;
    canDriverTable().canSend.store(sendEntry);
}

Bus::~Bus() {
    {
        StackLockGuard lock;
        for (NodeData* node : nodes_) {
            freeSdoLine(node);
            node->port = nullptr;
        }
    }
    canDriverTable().canSend.store(nullptr);
    g_current = nullptr;
    canopen::testing::resetAlarmTable();
    releaseAlarmService();
}

Bus* Bus::current() { return g_current; }

void Bus::attach(NodeData* node, uint8_t nodeId) {
    ports_.push_back(std::make_unique<CanPort>());
    CanPort* port = ports_.back().get();
    port->handle = port;
    port->node = node;
    nodes_.push_back(node);
    StackLockGuard lock;
    node->port = port;
    setNodeId(node, nodeId);
    setNodeState(node, Initialisation);
    queue_.clear();
    sent.clear();
}

void Bus::inject(const CanMessage& message) { queue_.push_back({nullptr, message}); }

void Bus::onSend(CanPort* from, const CanMessage& message) {
    const size_t position = sent.size();
    sent.push_back(message);
    const Fate fate = filter ? filter(message, position) : Fate::Deliver;
    switch (fate) {
        case Fate::Drop: return;
        case Fate::HoldBack:
            if (holding_) queue_.push_back(held_);
            held_ = {from, message};
            holding_ = true;
            return;
        case Fate::Duplicate: queue_.push_back({from, message}); break;
        case Fate::Deliver: break;
    }
    queue_.push_back({from, message});
    if (holding_) {
        queue_.push_back(held_);
        holding_ = false;
    }
}

size_t Bus::pump(size_t limit) {
    size_t delivered = 0;
    while (delivered < limit) {
        if (queue_.empty()) {
            if (!holding_) break;
            queue_.push_back(held_);
            holding_ = false;
        }
        const Queued next = queue_.front();
        queue_.pop_front();
        ++delivered;
        for (const auto& port : ports_) {
            if (port.get() == next.from) continue;
            StackLockGuard lock;
            dispatchCanFrame(port->node, &next.message);
        }
        // Peers hear the nodes only, not themselves or injected frames.
        if (next.from)
            for (const auto& listener : listeners_) listener(next.message);
    }
    return delivered;
}

void Bus::advance(uint32_t ms) { clock_.advance(ms); }

void TwoNodes::SetUp() {
    Completions::nodeIds.clear();
    bus.attach(client.get(), kClientId);
    bus.attach(server.get(), kServerId);
}

void TwoNodes::setServerDomain(std::vector<uint8_t>& storage) {
    StackLockGuard lock;
    const ObjectLookup lookup = findObject(server.get(), 0x2000);
    lookup.entry->subs[1].value = storage.data();
    lookup.entry->subs[1].size = static_cast<uint32_t>(storage.size());
}

void ScriptedPeer::SetUp() {
    Completions::nodeIds.clear();
    bus.attach(node.get(), kLocalId);
}

std::vector<CanMessage> ScriptedPeer::takeSent() {
    std::vector<CanMessage> out(bus.sent.begin() + static_cast<std::ptrdiff_t>(checked_), bus.sent.end());
    checked_ = bus.sent.size();
    return out;
}

void ScriptedPeer::expectSent(std::initializer_list<CanMessage> out) {
    const std::vector<CanMessage> got = takeSent();
    std::string want, have;
    for (const CanMessage& m : out) want += describe(m) + "\n";
    for (const CanMessage& m : got) have += describe(m) + "\n";
    EXPECT_EQ(want, have);
}

void ScriptedPeer::exchange(const CanMessage& in, std::initializer_list<CanMessage> out) {
    bus.injectAndPump(in);
    expectSent(out);
}

}  // namespace sdo_test
