#include "client_tcu.h"

#include "library_state.h"
#include "log.h"

#include "canopen/nmt.h"
#include "canopen/node_state.h"
#include "canopen/sdo.h"

namespace CommDiag {

using detail::libraryState;

namespace {
constexpr uint16_t kConnectedProducerTimeMs = 500;
constexpr int32_t kSmProbeMs = 750;
constexpr uint32_t kPollPeriodMs = 50;
constexpr int kUnknownState = 15;
}  // namespace

ClientTCU::ClientTCU(s_BOARD* board, const std::string& driverPath, unsigned char localNodeId,
                     unsigned char remoteNodeId)
    : Client(board, driverPath, localNodeId, remoteNodeId), threadEntry(connectionEntry) {
    connectionState.store(kNotConnected, std::memory_order_release);
}

ClientTCU::~ClientTCU() {
    beginShutdown();
    stopConnectionThread(connectionThread);
}

int ClientTCU::StartConnection(unsigned char tcuNodeId, unsigned char smNodeId, int timeoutMs,
                               ConnectionCallback callback) {
    int check = checkStartConnection(callback);
    if (check != kProceed) return check;
    stopConnectionThread(connectionThread);
    remainingTimeMs = timeoutMs;
    return launchProcedure(connectionThread, threadEntry, tcuNodeId, smNodeId, callback) ? RESULT_OK : RESULT_REFUSED;
}

int ClientTCU::CloseConnection(ConnectionCallback callback) {
    return closeConnection(connectionThread, callback, false);
}

uint32_t ClientTCU::connectionEntry(void* client) {
    if (static_cast<ClientTCU*>(client)->connect() != RESULT_OK) log::line(log::kAlways, "Connection failed");
    return 0;
}

int ClientTCU::connect() {
    const Client::ConnectionInfo info = libraryState().connectionInfo;
    int result = RESULT_CONNECTION_ABORTED;
    if (!info.callback) {
        log::line(log::kAlways, "No callback defined");
        return RESULT_NOT_READY;
    }
    if (!detail::claimSdo()) {
        log::line(log::kAlways, "Previous SDO operation is still running");
        info.callback(RESULT_BUSY);
        return RESULT_BUSY;
    }
    {
        StackAccess lock;
        canopen::resetSdoClientLine(node, info.tcuNodeId, canopen::kSdoRoleClient);
    }

    setLocalProducerHeartbeat(kConnectedProducerTimeMs);
    log::line(log::kProgress, "Switching node to Initialisation and then Stopped");
    {
        StackAccess lock;
        canopen::setNodeState(node, canopen::Initialisation);
        canopen::setNodeState(node, canopen::Stopped);
    }

    if (!abortRequested()) {
        // An SM that answers the guard request (and is not stopped) owns the bus: this client
        // then counts as connected but leaves the machine to it.
        log::line(log::kProgress, "Probing for active SM");
        {
            StackAccess lock;
            canopen::requestNodeGuard(node, info.smNodeId);
        }
        int32_t probeMs = kSmProbeMs;
        int state = kUnknownState;
        while (state == kUnknownState && probeMs > 0 && !abortRequested()) {
            pollWait(kPollPeriodMs);
            remainingTimeMs -= static_cast<int32_t>(kPollPeriodMs);
            probeMs -= static_cast<int32_t>(kPollPeriodMs);
            state = GetNodeState(info.smNodeId, false);
        }
        if (state != canopen::Stopped && state != kUnknownState) {
            log::line(log::kProgress, "SM is active, pretend started and getting stopped by SM");
            log::line(log::kProgress, "NodeStopped");
            busAccessible.store(0, std::memory_order_release);
            connectionState.store(kConnected, std::memory_order_release);
            detail::releaseSdo();
            info.callback(RESULT_OK);
            return RESULT_OK;
        }
        log::line(log::kProgress, "No active SM detected, continuing");
    }
    if (!abortRequested()) {
        log::line(log::kProgress, "Switching node to Operational");
        switchLocalNode(canopen::Operational, canopen::Operational, result);
    }
    if (!abortRequested()) startRemoteNode(remainingTimeMs, result);
    return finishProcedure(result, info.callback);
}

}  // namespace CommDiag
