#include "can_port.h"

#include "alarm.h"
#include "node_data.h"
#include "platform/debug_output.h"

#include <cstdio>

namespace canopen {

namespace {

// After a receive error on an open port the loop waits this long before it tries again:
// long enough that a failing port costs no CPU, short enough to lose little on a serial line.
constexpr uint32_t kReceiveErrorPauseMs = 50;

// What one receive thread serves; owned by that thread. The generation tells a thread that
// its slot was closed (and perhaps opened again for another board) while it was away.
struct ReceiveContext {
    CanPort* slot;
    uint32_t generation;
    CanHandle handle;
    NodeData* node;
};

std::atomic<uint32_t> g_portGenerations[kCanPortCount];

bool stillOpen(const ReceiveContext& context) {
    const int slot = static_cast<int>(context.slot - canPortTable());
    return context.slot->used.load() == 1 && g_portGenerations[slot].load() == context.generation;
}

uint32_t canReceiveLoop(void* arg) {
    std::unique_ptr<ReceiveContext> context(static_cast<ReceiveContext*>(arg));
    while (stillOpen(*context)) {
        CanMessage message{};
        const CanReceiveEntry receive = canDriverTable().canReceive.load();
        const uint8_t result = receive ? receive(context->handle, &message) : 1;
        if (!stillOpen(*context)) break;
        if (result != 0) {
            // One bad frame on the line must not make the node deaf: go on until closed.
            context->slot->closing.wait(kReceiveErrorPauseMs);
            continue;
        }
        StackLockGuard lock;
        dispatchCanFrame(context->node, &message);
    }
    return 0;
}

const char* orNull(const char* text) { return text ? text : "(null)"; }

}  // namespace

CanPort* canPortTable() {
    // Never destroyed: a receive thread given up by its bounded join may still look at its slot.
    static CanPort* const ports = new CanPort[kCanPortCount];
    return ports;
}

CanPort* openCanPort(s_BOARD* board, NodeData* node) {
    if (!node) return nullptr;
    bool hasPort;
    {
        StackLockGuard lock;
        hasPort = node->port || node->lss.savedPort;
    }
    if (hasPort) closeCanPort(node);

    CanPort* slot = nullptr;
    int slotNumber = 0;
    for (; slotNumber < kCanPortCount; ++slotNumber) {
        if (canPortTable()[slotNumber].used.load() == 0) {
            slot = &canPortTable()[slotNumber];
            break;
        }
    }
    const CanOpenEntry open = canDriverTable().canOpen.load();
    if (!open) {
        std::fputs("CanOpen : Can Driver dll not loaded\n", stderr);
        return nullptr;
    }
    if (!slot) {
        std::fputs("CanOpen : all ports in use\n", stderr);
        return nullptr;
    }
    if (!board) return nullptr;
    const CanHandle handle = open(board);
    if (!handle) {
        char text[300];
        std::snprintf(text, sizeof text, "CanOpen : Cannot open board {busname='%s',baudrate='%s'}\n",
                      orNull(board->busname), orNull(board->baudrate));
        platform::debugOutput(text);
        return nullptr;
    }

    slot->handle = handle;
    slot->node = node;
    slot->closing.reset();
    const uint32_t generation = g_portGenerations[slotNumber].fetch_add(1) + 1;
    slot->used.store(1);
    {
        StackLockGuard lock;
        node->port = slot;
    }
    auto* context = new ReceiveContext{slot, generation, handle, node};
    if (!slot->receiveThread.start(canReceiveLoop, context)) {
        delete context;
        closeCanPort(node);
        return nullptr;
    }
    return slot;
}

int32_t closeCanPort(NodeData* node) {
    if (!node) return 0;
    CanPort* port;
    {
        // Detach first, under the lock: once it is released no sender is inside the driver
        // with this handle and none can start, so the driver may free it on close. A port
        // parked by a bit-rate switch is closed as well.
        StackLockGuard lock;
        port = node->port ? node->port : node->lss.savedPort;
        if (!port) return 0;
        node->port = nullptr;
        if (node->lss.savedPort == port) node->lss.savedPort = nullptr;
    }
    port->used.store(0);
    const CanCloseEntry close = canDriverTable().canClose.load();
    const int32_t result = close ? close(port->handle) : 0;
    port->closing.set();
    port->receiveThread.join(platform::Thread::kDefaultJoinMs, "CAN receive");
    port->handle = nullptr;
    port->node = nullptr;
    return result;
}

uint8_t sendCanFrame(CanPort* port, const CanMessage* message) {
    const CanSendEntry send = canDriverTable().canSend.load();
    if (!port || !send || !message) return 1;
    return send(port->handle, message);
}

uint8_t changeCanBaudRate(CanPort* port, const char* baudRate) {
    const CanChangeBaudRateEntry change = canDriverTable().canChangeBaudRate.load();
    if (!port || !change) return 1;
    return change(port->handle, baudRate);
}

}  // namespace canopen
