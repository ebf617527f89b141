#pragma once
// A bus inside the test process for the SDO engine: frames the stack sends go through the
// driver table's send entry into a queue; pump() hands each to every other node on the bus
// through the stack's dispatcher, with the stack lock held, as a receive thread would. Every
// frame is recorded, and a test may drop, repeat or hold back any of them. Time comes from a
// clock the test moves.
#include "canopen/can_message.h"
#include "canopen/can_port.h"
#include "canopen/node_data.h"
#include "fake_clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace sdo_test {

CanMessage frame(uint16_t cobId, std::initializer_list<uint8_t> bytes);
// An SDO abort of (index, sub) with `code`, either direction.
CanMessage abortOn(uint16_t cobId, uint16_t index, uint8_t sub, uint32_t code);
// "60A: 40 00 20 01 00 00 00 00", for failure messages.
std::string describe(const CanMessage& message);
bool sameFrame(const CanMessage& a, const CanMessage& b);

// What becomes of a frame on its way.
enum class Fate { Deliver, Drop, Duplicate, HoldBack /* delivered after the next frame */ };

class Bus {
public:
    Bus();
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // Puts a node on the bus with the given id and brings it to Pre_operational.
    void attach(canopen::NodeData* node, uint8_t nodeId);
    // Queues a frame as if a node outside the process had sent it.
    void inject(const CanMessage& message);
    // Delivers queued frames until none is left (or `limit` were delivered); the count.
    size_t pump(size_t limit = SIZE_MAX);
    void injectAndPump(const CanMessage& message) {
        inject(message);
        pump();
    }
    // A peer simulated by the test: it hears every frame the nodes send (after the filter) and
    // answers through peerSend, which records and filters like a node's send.
    void addListener(std::function<void(const CanMessage&)> listener) { listeners_.push_back(std::move(listener)); }
    void peerSend(const CanMessage& message) { onSend(nullptr, message); }

    // Frames sent by the attached nodes and peers, in order (injected ones are not recorded).
    std::vector<CanMessage> sent;
    // Decides each sent frame's fate by its place in `sent` (0-based).
    std::function<Fate(const CanMessage&, size_t position)> filter;

    // The fake clock: moves on by ms, waking the alarm service each time its timer would fire.
    void advance(uint32_t ms);

    static Bus* current();
    void onSend(canopen::CanPort* from, const CanMessage& message);

private:
    test_support::FakeClock clock_;
    struct Queued {
        canopen::CanPort* from;
        CanMessage message;
    };
    std::vector<std::unique_ptr<canopen::CanPort>> ports_;
    std::vector<canopen::NodeData*> nodes_;
    std::vector<std::function<void(const CanMessage&)>> listeners_;
    std::deque<Queued> queue_;
    bool holding_ = false;
    Queued held_{};
};

// Two nodes on a bus: `client` (id 1) and `server` (id 10), each with its own line.
class TwoNodes : public ::testing::Test {
protected:
    void SetUp() override;

    static constexpr uint8_t kClientId = 1;
    static constexpr uint8_t kServerId = 10;

    // Points the server's domain 0x2000 sub 1 at `storage`, so that it holds objects of any size.
    void setServerDomain(std::vector<uint8_t>& storage);

    // The nodes outlive the bus, which ends their transfers when it goes.
    std::unique_ptr<canopen::NodeData> client = std::make_unique<canopen::NodeData>();
    std::unique_ptr<canopen::NodeData> server = std::make_unique<canopen::NodeData>();
    Bus bus;
};

// One node on a bus facing a peer the test scripts frame by frame.
class ScriptedPeer : public ::testing::Test {
protected:
    void SetUp() override;

    static constexpr uint8_t kLocalId = 1;
    static constexpr uint8_t kPeerId = 10;
    static constexpr uint16_t kToPeer = 0x600 + kPeerId;      // our client's requests
    static constexpr uint16_t kFromPeer = 0x580 + kPeerId;    // the peer server's answers
    static constexpr uint16_t kToLocal = 0x600 + kLocalId;    // a peer client's requests
    static constexpr uint16_t kFromLocal = 0x580 + kLocalId;  // our server's answers

    // Injects `in` (if given) and expects exactly `out` to have been sent since the last check.
    void expectSent(std::initializer_list<CanMessage> out);
    void exchange(const CanMessage& in, std::initializer_list<CanMessage> out);
    // Frames sent since the last check, then forgets them.
    std::vector<CanMessage> takeSent();

    std::unique_ptr<canopen::NodeData> node = std::make_unique<canopen::NodeData>();
    Bus bus;
    size_t checked_ = 0;
};

// Records the completion callbacks of client requests.
struct Completions {
    static std::vector<uint8_t> nodeIds;
    static void record(canopen::NodeData*, uint8_t nodeId) { nodeIds.push_back(nodeId); }
};

}  // namespace sdo_test
