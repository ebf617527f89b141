#include "machine_node.h"

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

void MachineNode::answer(std::initializer_list<uint8_t> bytes) {
    CanMessage m = frame(static_cast<uint16_t>(0x580 + nodeId_), bytes);
    m.len = 8;
    bus_.send(m);
}

void MachineNode::answer(const uint8_t (&bytes)[8]) {
    answer({bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7]});
}

void MachineNode::abort(Key key, uint32_t code) {
    transfer_ = Transfer::None;
    answer({0x80, static_cast<uint8_t>(key.first), static_cast<uint8_t>(key.first >> 8), key.second,
            static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code >> 16),
            static_cast<uint8_t>(code >> 24)});
}

void MachineNode::handleSdo(const CanMessage& message) {
    const uint8_t* d = message.data;
    const uint8_t command = d[0] >> 5;
    const Key key{static_cast<uint16_t>(d[1] | d[2] << 8), d[3]};
    const bool initiate = command == 1 || command == 2 || command == 6;
    if (initiate) {
        lastInitiate_ = d[0];
        ++requests_[key];
        if (silent.count(key)) return;
        auto aborted = aborts.find(key);
        if (aborted != aborts.end()) return abort(key, aborted->second);
    }

    switch (command) {
        case 2: {  // initiate upload
            auto object = objects.find(key);
            if (object == objects.end()) {
                const bool indexKnown = std::any_of(objects.begin(), objects.end(),
                                                    [&](const auto& o) { return o.first.first == key.first; });
                return abort(key, indexKnown ? 0x06090011u : 0x06020000u);
            }
            const Bytes& value = object->second;
            if (value.size() <= 4) {
                uint8_t reply[8] = {static_cast<uint8_t>(0x43 | (4 - value.size()) << 2), d[1], d[2], d[3]};
                std::copy(value.begin(), value.end(), reply + 4);
                return answer(reply);
            }
            transfer_ = Transfer::Upload;
            key_ = key;
            data_ = value;
            offset_ = 0;
            toggle_ = 0;
            const auto size = static_cast<uint32_t>(value.size());
            return answer({0x41, d[1], d[2], d[3], static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                           static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)});
        }
        case 3: {  // upload segment
            if (transfer_ != Transfer::Upload) return abort(key_, 0x05040001u);
            uint8_t reply[8] = {};
            const size_t n = std::min<size_t>(7, data_.size() - offset_);
            std::copy(data_.begin() + static_cast<long>(offset_), data_.begin() + static_cast<long>(offset_ + n),
                      reply + 1);
            offset_ += n;
            const bool last = offset_ == data_.size();
            reply[0] = static_cast<uint8_t>((d[0] & 0x10) | (7 - n) << 1 | (last ? 1 : 0));
            if (last) transfer_ = Transfer::None;
            return answer(reply);
        }
        case 1: {  // initiate download
            if (d[0] & 0x02) {  // expedited
                const size_t n = (d[0] & 0x01) ? 4 - ((d[0] >> 2) & 0x03) : 4;
                objects[key] = Bytes(d + 4, d + 4 + n);
            } else {
                transfer_ = Transfer::Download;
                key_ = key;
                data_.clear();
                toggle_ = 0;
            }
            return answer({0x60, d[1], d[2], d[3], 0, 0, 0, 0});
        }
        case 0: {  // download segment
            if (transfer_ != Transfer::Download) return abort(key_, 0x05040001u);
            const size_t n = 7 - ((d[0] >> 1) & 0x07);
            data_.insert(data_.end(), d + 1, d + 1 + n);
            if (d[0] & 0x01) {
                objects[key_] = data_;
                transfer_ = Transfer::None;
            }
            return answer({static_cast<uint8_t>(0x20 | (d[0] & 0x10)), 0, 0, 0, 0, 0, 0, 0});
        }
        case 6:  // block download: this machine does not take blocks
            return abort(key, 0x05040001u);
        case 4:  // abort from the client
            transfer_ = Transfer::None;
            return;
        default:
            return abort(key, 0x05040001u);
    }
}

}  // namespace CommDiag::test
