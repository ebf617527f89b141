#pragma once
// The client of an SM peer: its connection starts the machine, stops a TCU node, sets the
// machine's heartbeat consumer and opens a diagnose session.
#include "client.h"

#include "platform/thread.h"

#include <memory>

namespace CommDiag {

class COMMDIAG_API ClientSM : public Client {
public:
    ClientSM(s_BOARD* board, const std::string& driverPath, unsigned char localNodeId, unsigned char remoteNodeId);
    ~ClientSM() override;

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
