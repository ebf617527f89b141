#pragma once
// The client of a TCU peer: its connection first looks for an active SM, which then owns the
// bus; otherwise it starts the machine itself.
#include "client.h"

#include "platform/thread.h"

#include <memory>

namespace CommDiag {

class COMMDIAG_API ClientTCU : public Client {
public:
    ClientTCU(s_BOARD* board, const std::string& driverPath, unsigned char localNodeId, unsigned char remoteNodeId);
    ~ClientTCU() override;

    int StartConnection(unsigned char tcuNodeId, unsigned char smNodeId, int timeoutMs,
                        ConnectionCallback callback) override;
    int CloseConnection(ConnectionCallback callback) override;

private:
    static uint32_t connectionEntry(void* client);
    int connect();

    std::unique_ptr<platform::Thread> connectionThread;  // owned; runs connect()
    platform::Thread::Entry threadEntry;
    int32_t remainingTimeMs = 0;  // budget of the running procedure; its thread alone uses it
};

}  // namespace CommDiag
