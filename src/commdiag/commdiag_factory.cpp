#include "commdiag_factory.h"

#include "client_sm.h"
#include "client_tcu.h"

namespace CommDiag {

CommDiagFactory::CommDiagFactory() : client_(nullptr), boardIdentification_(nullptr) {}

CommDiagFactory::~CommDiagFactory() { DestroyClient(); }

IClient* CommDiagFactory::CreateSMClient(const std::string& busName, const std::string& baudRate,
                                         const std::string& driverPath, unsigned char localNodeId,
                                         unsigned char remoteNodeId) {
    if (client_) return nullptr;
    boardIdentification_ = new BoardIdentification(busName, baudRate);
    client_ = new ClientSM(boardIdentification_->board(), driverPath, localNodeId, remoteNodeId);
    return client_;
}

IClient* CommDiagFactory::CreateTCUClient(const std::string& busName, const std::string& baudRate,
                                          const std::string& driverPath, unsigned char localNodeId,
                                          unsigned char remoteNodeId) {
    if (client_) return nullptr;
    boardIdentification_ = new BoardIdentification(busName, baudRate);
    client_ = new ClientTCU(boardIdentification_->board(), driverPath, localNodeId, remoteNodeId);
    return client_;
}

void CommDiagFactory::DestroyClient() {
    // The client first: its port uses the board's strings until it is closed.
    delete client_;
    client_ = nullptr;
    delete boardIdentification_;
    boardIdentification_ = nullptr;
}

IClient* CommDiagFactory::GetClient() { return client_; }

}  // namespace CommDiag
