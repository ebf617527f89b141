// The steps both connection procedures are made of, and the shared parts of opening and
// closing a connection. The steps run on the client's connection thread.
#include "client.h"

#include "abort_code_map.h"
#include "library_state.h"
#include "log.h"

#include "canopen/nmt.h"
#include "canopen/node_data.h"
#include "canopen/node_state.h"
#include "canopen/sdo.h"

#include "platform/clock.h"

#include <atomic>

namespace CommDiag {

using detail::libraryState;

namespace {

constexpr uint32_t kPollPeriodMs = 50;
constexpr int kPollsPerStartCommand = 5;
constexpr uint32_t kConsumerTimeMs = 1000;
// A boot loader found after the node start's budget is spent: what its check and the procedure's
// remaining steps may take (a few SDO transfers, each ending by its 4 s time-out at the latest).
constexpr int32_t kBootLoaderBudgetMs = 10000;

}  // namespace

void Client::requestAbort() {
    abortFlag.store(1, std::memory_order_release);
    abortEvent_.set();
}

void Client::pollWait(uint32_t ms) { platform::clock().wait(abortEvent_, ms); }

void Client::setLocalProducerHeartbeat(uint16_t ms) {
    // The value itself, without the dictionary's write hook: the state change that follows
    // restarts heartbeat production with it, and a time of 0 lets the producer stop itself.
    StackAccess lock;
    node->od.values.heartbeatProducerTime = ms;
}

void Client::stopLocalNode() {
    busAccessible.store(0, std::memory_order_release);
    setLocalProducerHeartbeat(0);
    StackAccess lock;
    canopen::setNodeState(node, canopen::Stopped);
}

bool Client::switchLocalNode(uint8_t state, uint8_t expected, int& result) {
    uint32_t reached;
    {
        StackAccess lock;
        canopen::setNodeState(node, state);
        reached = node->nodeState;
    }
    if (reached == expected) return true;
    log::line(log::kAlways, "Node state ", reached, " differs from expected state ", unsigned{expected});
    result = RESULT_NOT_READY;
    requestAbort();
    stopLocalNode();
    return false;
}

// A machine left in its boot loader (an update cut off after its restart) stays Pre_operational
// and ignores the start command while it has no program to start; but it serves the update's
// objects, and a new session must reach it to flash it again. It lacks the application's heartbeat
// consumer object, which tells it apart from an application that refuses to start.
bool Client::runsBootLoader() {
    if (GetNodeState(remoteNodeId, false) != canopen::Pre_operational) return false;
    int32_t budget = kBootLoaderBudgetMs;
    if (waitWriteResult(remoteNodeId, kHeartbeatConsumerObject, machineConsumerValue(), 4, budget) != RESULT_NO_OBJECT)
        return false;
    log::line(log::kAlways, "Machine stays Pre_operational without a heartbeat consumer -> Bootloader active!");
    return true;
}

void Client::startRemoteNode(int32_t& remainingTimeMs, int& result, bool acceptBootLoader) {
    auto sendStart = [this] {
        StackAccess lock;
        canopen::sendNmtCommand(node, remoteNodeId, canopen::kNmtStart);
    };
    log::line(log::kProgress, "Starting node");
    sendStart();
    if (GetNodeState(remoteNodeId, false) == canopen::Operational) return;

    int polls = 0;
    while (!abortRequested()) {
        pollWait(kPollPeriodMs);
        if (abortRequested()) break;
        if (++polls == kPollsPerStartCommand) {
            sendStart();
            polls = 0;
        }
        remainingTimeMs -= static_cast<int32_t>(kPollPeriodMs);
        if (remainingTimeMs <= 0) {
            log::line(log::kAlways, "Starting node timed out");
            if (acceptBootLoader && runsBootLoader()) {
                remainingTimeMs = kBootLoaderBudgetMs;
                return;
            }
            result = RESULT_TIMEOUT;
            requestAbort();
        }
        if (GetNodeState(remoteNodeId, false) == canopen::Operational) break;
    }
    if (abortRequested()) stopLocalNode();
}

int Client::waitWriteResult(uint8_t nodeId, uint16_t index, uint32_t value, uint32_t size, int32_t& remainingTimeMs) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    uint8_t status;
    {
        StackAccess lock;
        status = canopen::writeNetworkDict(node, nodeId, index, 1, size, 0, bytes, false);
    }
    if (status != canopen::kSdoStarted) {
        log::line(log::kAlways, "writeNetworkDict() failed to start request (status ", unsigned{status}, ")");
        return RESULT_REFUSED;
    }

    uint32_t abortCode = 0;
    auto query = [&] {
        StackAccess lock;
        status = canopen::getWriteResultNetworkDict(node, nodeId, &abortCode);
    };
    query();
    bool timedOut = false;
    // A spent budget does not cut the transfer short: it goes on until the machine or the
    // stack's own time-out ends it, and only the outcome changes.
    while (status == canopen::kSdoDownloadInProgress && !abortRequested()) {
        pollWait(kPollPeriodMs);
        remainingTimeMs -= static_cast<int32_t>(kPollPeriodMs);
        if (remainingTimeMs < 1) {
            log::line(log::kAlways, "Getting write result timed out");
            timedOut = true;
        }
        query();
    }
    {
        StackAccess lock;
        canopen::resetSdoClientLine(node, nodeId, canopen::kSdoRoleClient);
    }

    if (abortRequested() || timedOut) return RESULT_CONNECTION_ABORTED;
    if (status == canopen::kSdoFinished) return RESULT_OK;
    if (status == canopen::kSdoAbortedLocally) {
        log::line(log::kProgress, "Node did not respond in time");
        return RESULT_TIMEOUT;
    }
    log::line(log::kAlways, "getWriteResultNetworkDict() failed (retVal ", unsigned{status}, ", abortCode ",
              log::hex(abortCode), ")");
    return mapSdoResult(status, abortCode);
}

int Client::finishProcedure(int result, ConnectionCallback callback) {
    if (abortRequested()) {
        log::line(log::kProgress, "Connection error, aborted or timed out");
        connectionState.store(kNotConnected, std::memory_order_release);
    } else {
        log::line(log::kProgress, "Connection operational");
        connectionState.store(kConnected, std::memory_order_release);
        result = RESULT_OK;
    }
    detail::releaseSdo();
    callback(result);
    return result;
}

int Client::checkStartConnection(ConnectionCallback callback) {
    if (!callback) {
        log::line(log::kAlways, "No callback defined");
        return RESULT_NOT_READY;
    }
    if (!initialized.load(std::memory_order_acquire) || shuttingDown()) {
        log::line(log::kAlways, "Client is not initialized");
        return RESULT_NOT_READY;
    }
    int32_t state = kNotConnected;
    if (connectionState.compare_exchange_strong(state, kConnecting, std::memory_order_acq_rel)) return kProceed;
    if (state == kConnecting) {
        log::line(log::kAlways, "Previous StartConnection() is still running");
        return RESULT_BUSY;
    }
    log::line(log::kProgress, "Connection already started (pretending OK)");
    callback(RESULT_OK);
    return RESULT_OK;
}

bool Client::launchProcedure(std::unique_ptr<platform::Thread>& thread, platform::Thread::Entry entry,
                             unsigned char tcuNodeId, unsigned char smNodeId, ConnectionCallback callback) {
    auto& info = libraryState().connectionInfo;
    info.callback = callback;
    info.tcuNodeId = tcuNodeId;
    info.smNodeId = smNodeId;
    abortFlag.store(0, std::memory_order_release);
    abortEvent_.reset();
    thread = std::make_unique<platform::Thread>();
    if (thread->start(entry, this)) return true;
    thread.reset();
    connectionState.store(kNotConnected, std::memory_order_release);
    log::line(log::kAlways, "Failed to start the connection thread");
    return false;
}

void Client::stopConnectionThread(std::unique_ptr<platform::Thread>& thread) {
    if (!thread) return;
    // From the procedure's own callback the thread is about to end by itself; joining it
    // there only releases it.
    if (!thread->isCurrent()) requestAbort();
    thread->join(kConnectionJoinMs, "connection");
    thread.reset();
}

int Client::closeConnection(std::unique_ptr<platform::Thread>& thread, ConnectionCallback callback,
                            bool resetRemoteLine) {
    if (!callback) {
        log::line(log::kAlways, "No callback defined");
        return RESULT_NOT_READY;
    }
    // A connection callback may call this while the client is being destroyed: the destructor
    // owns the connection thread's end and closes the stack itself.
    if (shuttingDown()) {
        log::line(log::kAlways, "Client is not initialized");
        return RESULT_NOT_READY;
    }
    if (connectionState.load(std::memory_order_acquire) == kNotConnected) {
        log::line(log::kProgress, "Connection not started or already closed (pretending OK)");
        callback(RESULT_OK);
        return RESULT_OK;
    }
    stopConnectionThread(thread);
    if (!detail::claimSdo()) {
        log::line(log::kAlways, "Previous SDO operation is still running");
        return RESULT_BUSY;
    }
    auto& state = libraryState();
    state.closeCallback = callback;
    {
        StackAccess lock;
        canopen::resetSdoClientLine(node, state.connectionInfo.tcuNodeId, canopen::kSdoRoleClient);
        if (resetRemoteLine) canopen::resetSdoClientLine(node, remoteNodeId, canopen::kSdoRoleClient);
    }
    stopLocalNode();
    connectionState.store(kNotConnected, std::memory_order_release);
    detail::releaseSdo();
    callback(RESULT_OK);
    return RESULT_OK;
}

void Client::setMachineConsumerEntry() {
    // The local table has one entry; it watches the machine.
    StackAccess lock;
    node->od.values.heartbeatConsumerTime[0] = uint32_t{remoteNodeId} << 16 | kConsumerTimeMs;
}

uint32_t Client::machineConsumerValue() const { return uint32_t{localNodeId} << 16 | kConsumerTimeMs; }

}  // namespace CommDiag
