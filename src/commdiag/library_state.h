#pragma once
// What the library keeps once per process, shared by whichever client exists: the local
// CANopen node, the pending request of each kind, the one-operation-at-a-time flag and the
// pointer through which the stack's hooks reach the client.
#include "client.h"
#include "types.h"

#include "platform/event.h"

#include <atomic>
#include <cstdint>

namespace canopen {
struct NodeData;
}

namespace CommDiag::detail {

struct LibraryState {
    // Set by the Client constructor, cleared by its destructor; stack threads read it.
    std::atomic<Client*> currentClient{nullptr};
    // Bit 0 set while one SDO operation (or a connection procedure) is in flight.
    std::atomic<uint32_t> sdoBusy{0};
    // True between initAlarmService and releaseAlarmService of the client's Init and
    // destructor: only then does the stack lock exist.
    std::atomic<bool> stackRunning{false};
    // Set once the alarm thread's start callback has booted the local node; Init waits for it,
    // so that no connection procedure runs before the boot and is undone by it.
    platform::Event localNodeStarted{true, false};

    Version version{0x0301, 1};

    // Pending requests. Starters write them only after winning sdoBusy, before handing the
    // transfer to the stack under its lock; handlers read them under that lock.
    Client::ConnectionInfo connectionInfo;
    Client::ElementCallbackInfo elementInfo;
    Client::DomainCallbackInfo domainInfo;
    Client::ReadNrElementCallbackInfo readNrInfo;
    ConnectionCallback closeCallback = nullptr;

    void resetPendingRequests();
};

LibraryState& libraryState();

// The local node, one per process and never freed: stack threads may still look at it while
// the process ends.
canopen::NodeData& localNode();

// Holds the stack lock for a scope when the stack runs (before Init and after destruction
// there is no lock and no other thread).
class StackSection {
public:
    StackSection();
    ~StackSection();
    StackSection(const StackSection&) = delete;
    StackSection& operator=(const StackSection&) = delete;

private:
    bool locked_;
};

// Test-and-set of bit 0; true when this caller won the flag.
bool claimSdo();
void releaseSdo();

}  // namespace CommDiag::detail
