#pragma once
// Creates the one client of the process and owns it with its board descriptor. Not locked:
// its users call it from one thread.
#include "board_identification.h"
#include "iclient.h"

#include <string>

namespace CommDiag {

class COMMDIAG_API CommDiagFactory {
public:
    CommDiagFactory();
    virtual ~CommDiagFactory();
    CommDiagFactory(const CommDiagFactory&) = delete;
    CommDiagFactory& operator=(const CommDiagFactory&) = delete;

    // Null while a client exists; nothing changes then.
    IClient* CreateSMClient(const std::string& busName, const std::string& baudRate, const std::string& driverPath,
                            unsigned char localNodeId, unsigned char remoteNodeId);
    IClient* CreateTCUClient(const std::string& busName, const std::string& baudRate, const std::string& driverPath,
                             unsigned char localNodeId, unsigned char remoteNodeId);
    // Destroys the client, then its board; harmless without one.
    void DestroyClient();
    IClient* GetClient();

private:
    IClient* client_;
    BoardIdentification* boardIdentification_;
};

}  // namespace CommDiag
