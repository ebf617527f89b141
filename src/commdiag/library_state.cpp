#include "library_state.h"

#include "canopen/node_data.h"

namespace CommDiag::detail {

void LibraryState::resetPendingRequests() {
    elementInfo = Client::ElementCallbackInfo();
    domainInfo = Client::DomainCallbackInfo();
    readNrInfo = Client::ReadNrElementCallbackInfo();
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

bool claimSdo() { return (libraryState().sdoBusy.fetch_or(1u, std::memory_order_acq_rel) & 1u) == 0; }

void releaseSdo() { libraryState().sdoBusy.fetch_and(~1u, std::memory_order_release); }

}  // namespace CommDiag::detail
