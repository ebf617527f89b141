#include "machine_node.h"

#include "canopen/byte_order.h"
#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace CommDiag::test {

CanMessage frame(uint16_t cobId, std::initializer_list<uint8_t> bytes, uint8_t rtr) {
    CanMessage m{};
    m.cobId = cobId;
    m.rtr = rtr;
    for (uint8_t b : bytes) m.data[m.len++] = b;
    return m;
}

template <typename Entry>
bool resolve(platform::LibraryHandle module, const char* name, Entry& entry) {
    entry = reinterpret_cast<Entry>(platform::librarySymbol(module, name));
    return entry != nullptr;
}

bool TestBus::open(const std::string& busName) {
    name = busName;
    platform::LibraryHandle module = platform::loadLibrary(TESTCAN_PATH);
    return module && resolve(module, "testcanInject", inject) && resolve(module, "testcanSentCount", sentCount) &&
           resolve(module, "testcanSentFrame", sentFrame) && resolve(module, "testcanWaitSent", waitSent) &&
           resolve(module, "testcanWaitIdle", waitIdle) && resolve(module, "testcanOpenBoards", openBoards);
}

void TestBus::send(const CanMessage& message) const {
    EXPECT_GE(inject(name.c_str(), &message), 1) << "no board open on the bus";
    EXPECT_EQ(waitIdle(name.c_str(), 5000), 1) << "the stack did not take the frame";
}

std::vector<CanMessage> TestBus::sent() const {
    std::vector<CanMessage> frames(static_cast<size_t>(sentCount(name.c_str())));
    for (size_t i = 0; i < frames.size(); ++i) sentFrame(name.c_str(), static_cast<int>(i), &frames[i]);
    return frames;
}

// The twin's own time-outs never fire here: the bus has no time for it, and the client's are
// what the tests look at.
MachineNode::MachineNode(TestBus& bus, uint8_t nodeId)
    : bus_(bus), nodeId_(nodeId), sdo_(*this, msim::SdoServerConfig{}, nullptr) {}

bool MachineNode::serve(const std::function<bool()>& done, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        serveSent();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Short waits, so that done() conditions met by other threads are seen soon.
        bus_.waitSent(bus_.name.c_str(), handled_ + 1, 10);
    }
}

void MachineNode::serveSent() {
    const int count = bus_.sentCount(bus_.name.c_str());
    while (handled_ < count) {
        CanMessage message{};
        bus_.sentFrame(bus_.name.c_str(), handled_++, &message);
        handle(message);
    }
}

int MachineNode::nmtCommands(uint8_t command, uint8_t target) const {
    auto found = nmt_.find({command, target});
    return found == nmt_.end() ? 0 : found->second;
}

int MachineNode::requests(Key key) const {
    auto found = requests_.find(key);
    return found == requests_.end() ? 0 : found->second;
}

void MachineNode::handle(const CanMessage& message) {
    if (message.cobId == 0x000 && message.len == 2) {
        ++nmt_[{message.data[0], message.data[1]}];
        if (message.data[0] == 0x01 && (message.data[1] == nodeId_ || message.data[1] == 0) && becomesOperational)
            heartbeat(nodeId_, 0x05);
        return;
    }
    if (message.rtr && message.cobId > 0x700 && message.cobId <= 0x77F) {
        const uint8_t guarded = static_cast<uint8_t>(message.cobId & 0x7F);
        if (guardAnswers.count(guarded)) heartbeat(guarded, 0x05);
        return;
    }
    if (message.cobId == 0x600 + nodeId_ && message.len == 8) handleSdo(message);
}

void MachineNode::heartbeat(uint8_t nodeId, uint8_t state) {
    bus_.send(frame(static_cast<uint16_t>(0x700 + nodeId), {state}));
}

uint32_t MachineNode::readObject(uint16_t index, uint8_t sub, std::vector<uint8_t>& out) {
    const Key key{index, sub};
    if (auto aborted = aborts.find(key); aborted != aborts.end()) return aborted->second;
    auto object = objects.find(key);
    if (object == objects.end()) {
        const bool indexKnown =
            std::any_of(objects.begin(), objects.end(), [&](const auto& o) { return o.first.first == index; });
        return indexKnown ? 0x06090011u : 0x06020000u;
    }
    out = object->second;
    return 0;
}

uint32_t MachineNode::checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t>) {
    auto aborted = aborts.find({index, sub});
    return aborted == aborts.end() ? 0 : aborted->second;
}

uint32_t MachineNode::writeObject(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) {
    if (const uint32_t code = checkWrite(index, sub, data.size())) return code;
    objects[{index, sub}] = data;
    return 0;
}

void MachineNode::handleSdo(const CanMessage& message) {
    const uint8_t* d = message.data;
    // Between transfers every frame but an abort starts one: counted, and left unanswered for
    // a silent object. Inside a transfer the twin takes every frame, block segments included.
    if (!sdo_.progress() && d[0] != 0x80) {
        const Key key{canopen::get16(d + 1), d[3]};
        lastInitiate_ = d[0];
        ++requests_[key];
        if (silent.count(key)) return;
    }
    msim::CanFrame request;
    request.id = message.cobId;
    request.len = message.len;
    std::copy(d, d + 8, request.data.begin());
    std::vector<msim::SdoServer::Reply> replies;
    sdo_.onRequest(request, msim::Time{}, replies);
    for (const msim::SdoServer::Reply& reply : replies) {
        CanMessage m = frame(static_cast<uint16_t>(0x580 + nodeId_), {});
        m.len = 8;
        std::copy(reply.begin(), reply.end(), m.data);
        bus_.send(m);
    }
}

}  // namespace CommDiag::test
