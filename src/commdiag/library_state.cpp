#include "library_state.h"

#include "canopen/alarm.h"
#include "canopen/node_data.h"

namespace CommDiag::detail {

void LibraryState::resetPendingRequests() {
    elementInfo = Client::ElementCallbackInfo();
    domainInfo = Client::DomainCallbackInfo();
    readNrInfo = Client::ReadNrElementCallbackInfo();
    connectionInfo = Client::ConnectionInfo();
    closeCallback = nullptr;
    sdoBusy.store(0, std::memory_order_release);
}

LibraryState& libraryState() {
    static LibraryState state;
    return state;
}

canopen::NodeData& localNode() {
    static canopen::NodeData* node = new canopen::NodeData();
    return *node;
}

StackSection::StackSection() : locked_(libraryState().stackRunning.load(std::memory_order_acquire)) {
    if (locked_) canopen::lockStack();
}

StackSection::~StackSection() {
    if (locked_) canopen::unlockStack();
}

bool claimSdo() { return (libraryState().sdoBusy.fetch_or(1u, std::memory_order_acq_rel) & 1u) == 0; }

void releaseSdo() { libraryState().sdoBusy.fetch_and(~1u, std::memory_order_release); }

}  // namespace CommDiag::detail
