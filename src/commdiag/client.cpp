#include "client.h"

#include "library_state.h"
#include "log.h"
#include "node_state_names.h"
#include "transfers.h"

#include "canopen/abort_codes.h"
#include "canopen/alarm.h"
#include "canopen/can_driver.h"
#include "canopen/can_port.h"
#include "canopen/nmt.h"
#include "canopen/node_data.h"
#include "canopen/node_state.h"
#include "canopen/object_dictionary.h"
#include "canopen/sdo.h"

namespace CommDiag {

using detail::libraryState;

IClient::~IClient() = default;

Client::ConnectionInfo::ConnectionInfo() : callback(nullptr), tcuNodeId(0), smNodeId(0) {}

Client::ElementCallbackInfo::ElementCallbackInfo()
    : callback(nullptr), isRead(1), nodeId(0), index(0), subIndex(0), valueType(0), data(nullptr) {}

Client::DomainCallbackInfo::DomainCallbackInfo()
    : callback(nullptr),
      isRead(1),
      nodeId(0),
      index(0),
      subIndex(0),
      valueType(0),
      data(nullptr),
      size(0),
      domainType(0) {}

Client::ReadNrElementCallbackInfo::ReadNrElementCallbackInfo()
    : callback(nullptr), nodeId(0), index(0), subIndex(0), valueType(0), data(nullptr) {}

// The stack's hooks reach the client only through the library's current client pointer,
// which the destructor clears under the stack lock before the client goes away.
struct ClientAccess {
    static void setBusAccessible(uint8_t accessible) {
        if (Client* client = libraryState().currentClient.load(std::memory_order_acquire))
            client->busAccessible.store(accessible, std::memory_order_release);
    }
};

namespace {

constexpr uint32_t kRevisionNumber = 0x01030100u;  // 1.3.1, as 0x1018 sub 3 carries it
constexpr uint32_t kObjectDictionaryKb = 1024;
constexpr uint32_t kLocalNodeStartMs = 1000;

void doNothing(canopen::NodeData*) {}

void onOperational(canopen::NodeData*) {
    log::line(log::kProgress, "NodeOperational");
    ClientAccess::setBusAccessible(1);
}

void onStopped(canopen::NodeData*) {
    log::line(log::kProgress, "NodeStopped");
    ClientAccess::setBusAccessible(0);
}

void onSlaveBootUp(canopen::NodeData*, uint8_t nodeId) {
    log::line(log::kAlways, "post_SlaveBootup of node ", unsigned{nodeId});
}

// The alarm thread's first and last work: the local node boots, and at the end stops.
void onAlarmThreadStart(canopen::NodeData*, uint32_t) {
    canopen::setNodeState(&detail::localNode(), canopen::Initialisation);
    libraryState().localNodeStarted.set();
}

void onAlarmThreadStop(canopen::NodeData*, uint32_t) { canopen::setNodeState(&detail::localNode(), canopen::Stopped); }

}  // namespace

Client::StackAccess::StackAccess() : locked_(libraryState().stackRunning.load(std::memory_order_acquire)) {
    if (locked_) canopen::lockStack();
}

Client::StackAccess::~StackAccess() {
    if (locked_) canopen::unlockStack();
}

Client::Client(s_BOARD* board_, const std::string& driverPath_, unsigned char localNodeId_, unsigned char remoteNodeId_)
    : board(board_),
      node(&detail::localNode()),
      driverPath(driverPath_),
      localNodeId(localNodeId_),
      remoteNodeId(remoteNodeId_) {
    auto& state = libraryState();
    state.resetPendingRequests();
    log::line(log::kConstruction, "Size of OD: ", kObjectDictionaryKb, "KB");
    state.currentClient.store(this, std::memory_order_release);
    {
        StackAccess lock;
        canopen::NodeHooks& hooks = node->hooks;
        hooks.initialisation = doNothing;
        hooks.preOperational = doNothing;
        hooks.operational = onOperational;
        hooks.stopped = onStopped;
        hooks.sync = doNothing;
        hooks.transmitPdo = doNothing;
        hooks.slaveBootUp = onSlaveBootUp;
        // The node outlives its clients: a machine state heard in an earlier session would let
        // this one's connection take a machine for started that it has not heard at all.
        canopen::forgetRemoteNodes(node);
        state.version = Version{0x0301, 1};
        uint32_t revision = kRevisionNumber;
        uint32_t size = sizeof revision;
        canopen::writeLocalObject(node, 0x1018, 3, &revision, &size, false);
    }
    log::line(log::kProgress, "Stack Version: V", unsigned{state.version.major}, ".",
              (state.version.minorPatch >> 8) & 0xFF, ".", state.version.minorPatch & 0xFF);
}

Client::~Client() {
    beginShutdown();
    auto& state = libraryState();
    if (initialized.load(std::memory_order_acquire)) {
        {
            // A transfer cut off here would leave the machine's SDO server waiting for the rest,
            // and it would take the next client's first frames for it. The general error code:
            // nothing timed out and nothing was wrong with the data; the client just goes.
            StackAccess lock;
            canopen::abortSdoClientTransfer(node, canopen::kAbortGeneral);
        }
        canopen::stopAlarmThread(onAlarmThreadStop);
        canopen::closeCanPort(node);
        canopen::unloadCanDriver(driverModule);
        driverModule = nullptr;
        state.stackRunning.store(false, std::memory_order_release);
        canopen::releaseAlarmService();
        state.resetPendingRequests();
        initialized.store(0, std::memory_order_release);
    }
}

void Client::beginShutdown() {
    shutdown_.store(true, std::memory_order_release);
    // Under the lock, so that a hook or completion running now finishes first and none
    // started later finds this client.
    StackAccess lock;
    Client* self = this;
    libraryState().currentClient.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    // A firmware update or block transfer in flight ends here, without its callback.
    detail::abandonFirmwareUpdate(this);
    detail::abandonBlockTransfer(this);
}

bool Client::Init() {
    if (initialized.load(std::memory_order_acquire)) return true;
    auto& state = libraryState();

    canopen::initAlarmService();
    state.stackRunning.store(true, std::memory_order_release);
    log::line(log::kRequestDetail, "Timer initialized");

    driverModule = canopen::loadCanDriver(driverPath.c_str());
    if (!driverModule) {
        log::line(log::kAlways, "Failed to load CAN driver ", driverPath);
        state.stackRunning.store(false, std::memory_order_release);
        canopen::releaseAlarmService();
        return false;
    }
    if (!canopen::openCanPort(board, node)) {
        log::line(log::kAlways, "Failed to initialize CAN interface");
        canopen::unloadCanDriver(driverModule);
        driverModule = nullptr;
        state.stackRunning.store(false, std::memory_order_release);
        canopen::releaseAlarmService();
        return false;
    }
    log::line(log::kRequestDetail, "CAN interface initialized");
    {
        StackAccess lock;
        canopen::setNodeId(node, localNodeId);
    }
    state.localNodeStarted.reset();
    canopen::startAlarmThread(onAlarmThreadStart);
    // Bounded: an alarm thread that could not start leaves the node unbooted, as it would be
    // without this wait.
    if (!state.localNodeStarted.wait(kLocalNodeStartMs)) log::line(log::kAlways, "Local node did not start");
    initialized.store(1, std::memory_order_release);
    return true;
}

void Client::SetLogLevel(int level) { log::setLevel(level); }

unsigned char Client::GetNodeId() { return remoteNodeId; }

int Client::GetNodeState(unsigned char nodeId, bool refresh) {
    uint8_t state;
    {
        StackAccess lock;
        state = canopen::getNodeState(node, nodeId);
    }
    {
        std::lock_guard<std::mutex> lock(nodeStateCacheMutex_);
        auto cached = nodeStateCache.find(nodeId);
        if (cached == nodeStateCache.end() || cached->second != state) {
            log::line(log::kProgress, "NodeState of node 0x", log::hex2(nodeId), ": ", nodeStateName(state));
            nodeStateCache[nodeId] = state;
        }
    }
    if (refresh) {
        StackAccess lock;
        canopen::requestNodeGuard(node, 0);
    }
    return normalisedNodeState(state);
}

Version Client::GetVersion() { return libraryState().version; }

uint32_t Client::GetRemainingTransferBytes(unsigned char line) {
    uint32_t remaining = 0;
    StackAccess lock;
    canopen::getSdoRemaining(node, line, &remaining);
    return remaining;
}

int Client::StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize, BlockTransferCallback callback,
                               uint32_t localAddress) {
    return detail::startBlockTransfer(this, path, blockId, packetSize, callback, &localAddress);
}

int Client::StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize,
                               BlockTransferCallback callback) {
    return detail::startBlockTransfer(this, path, blockId, packetSize, callback, nullptr);
}

int Client::GetBlockTransferProgress(unsigned char* percent) { return detail::blockTransferProgress(percent); }

int Client::StartFirmwareUpdate(const char* path, FirmwareUpdateCallback callback) {
    return detail::startFirmwareUpdate(this, path, callback);
}

int Client::GetFirmwareUpdateProgress(unsigned char* percent) { return detail::firmwareUpdateProgress(this, percent); }

}  // namespace CommDiag
