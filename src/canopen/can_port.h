#pragma once
// Open boards: a fixed table of ports, one receive thread each.
#include "can_driver.h"
#include "can_message.h"
#include "platform/event.h"
#include "platform/thread.h"

#include <atomic>
#include <cstdint>

namespace canopen {

struct NodeData;

constexpr int kCanPortCount = 16;

// One slot of the process-wide port table. Open and close run on the control thread only;
// the receive thread reads `used` to know when to stop.
struct CanPort {
    std::atomic<uint8_t> used{0};
    CanHandle handle = nullptr;
    platform::Thread receiveThread;
    NodeData* node = nullptr;
    // Set by close, so that a receive loop pausing after a driver error ends at once.
    platform::Event closing{true, false};
};

CanPort* canPortTable();

// Opens the board through the driver and starts its receive thread, which hands every frame
// to `node`'s dispatcher. A port the node already has is closed first. Null when no driver is
// loaded, the driver refuses the board or all slots are taken.
CanPort* openCanPort(s_BOARD* board, NodeData* node);
// The driver's close result, or 0 when the node has no port. Waits at most 1000 ms for the
// receive thread. Must not be called with the stack lock held while the receive thread may
// be waiting for it; the client calls it from its own thread.
int32_t closeCanPort(NodeData* node);
// The driver's result, or 1 when there is no port or no send entry (the frame is dropped).
uint8_t sendCanFrame(CanPort* port, const CanMessage* message);
// The driver's result, or 1 when there is no port or no entry.
uint8_t changeCanBaudRate(CanPort* port, const char* baudRate);

// Routes one received frame by function code to the node's services. Called with the stack
// lock held (the receive threads do so); frames of any content are safe.
void dispatchCanFrame(NodeData* node, const CanMessage* message);

}  // namespace canopen
