#include "client_sm.h"

#include "library_state.h"
#include "log.h"

#include "canopen/nmt.h"
#include "canopen/node_state.h"
#include "canopen/sdo.h"

namespace CommDiag {

using detail::libraryState;

namespace {
constexpr uint16_t kDiagnoseSessionObject = 0x2222;
constexpr uint32_t kDiagnoseSessionOpen = 1;
constexpr uint16_t kConnectedProducerTimeMs = 500;
}  // namespace

ClientSM::ClientSM(s_BOARD* board, const std::string& driverPath, unsigned char localNodeId, unsigned char remoteNodeId)
    : Client(board, driverPath, localNodeId, remoteNodeId), threadEntry(connectionEntry) {
    connectionState.store(kNotConnected, std::memory_order_release);
}

ClientSM::~ClientSM() {
    beginShutdown();
    stopConnectionThread(connectionThread);
}

int ClientSM::StartConnection(unsigned char tcuNodeId, unsigned char smNodeId, int timeoutMs,
                              ConnectionCallback callback) {
    int check = checkStartConnection(callback);
    if (check != kProceed) return check;
    stopConnectionThread(connectionThread);
    remainingTimeMs = timeoutMs;
    return launchProcedure(connectionThread, threadEntry, tcuNodeId, smNodeId, callback) ? RESULT_OK : RESULT_REFUSED;
}

int ClientSM::CloseConnection(ConnectionCallback callback) { return closeConnection(connectionThread, callback, true); }

uint32_t ClientSM::connectionEntry(void* client) {
    if (static_cast<ClientSM*>(client)->connect() != RESULT_OK) log::line(log::kAlways, "Connection failed");
    return 0;
}

int ClientSM::connect() {
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
        canopen::resetSdoClientLine(node, remoteNodeId, canopen::kSdoRoleClient);
    }

    if (!abortRequested()) {
        log::line(log::kProgress, "Switching node to Initialisation");
        setLocalProducerHeartbeat(kConnectedProducerTimeMs);
        // Initialisation passes straight on to Pre_operational.
        switchLocalNode(canopen::Initialisation, canopen::Pre_operational, result);
    }
    if (!abortRequested()) {
        log::line(log::kProgress, "Switching node to Operational");
        switchLocalNode(canopen::Operational, canopen::Operational, result);
    }
    if (!abortRequested()) startRemoteNode(remainingTimeMs, result, true);
    if (!abortRequested()) {
        log::line(log::kProgress, "Stopping TCU node (if any)");
        // Node id 0 would stop every node, the machine included; the machine's own id is no TCU.
        if (info.tcuNodeId != 0 && info.tcuNodeId != remoteNodeId) {
            StackAccess lock;
            canopen::sendNmtCommand(node, info.tcuNodeId, canopen::kNmtStop);
        }
    }

    // A machine without these objects runs its boot loader; it is on the bus all the same.
    auto configure = [this, &result](uint16_t index, uint32_t value, uint32_t size, const char* done) {
        result = waitWriteResult(remoteNodeId, index, value, size, remainingTimeMs);
        if (result == RESULT_OK)
            log::line(log::kProgress, done);
        else if (result == RESULT_NO_OBJECT)
            log::line(log::kProgress, "Machine has no heartbeat conusmer, is on bus -> Bootloader active!");
        else
            requestAbort();
        if (abortRequested()) stopLocalNode();
    };
    if (!abortRequested()) {
        setMachineConsumerEntry();
        log::line(log::kProgress, "Setting machine heartbeat consumer");
        configure(kHeartbeatConsumerObject, machineConsumerValue(), 4, "Machine heartbeat consumer set");
    }
    if (!abortRequested()) {
        log::line(log::kProgress, "Setting machine diagnose session");
        configure(kDiagnoseSessionObject, kDiagnoseSessionOpen, 1, "Machine diagnose session set");
    }
    return finishProcedure(result, info.callback);
}

}  // namespace CommDiag
