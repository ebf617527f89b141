#pragma once
// The client shared by both kinds: every request operation, Init, node states, and the
// steps of the connection procedures. ClientSM and ClientTCU add how a connection is opened
// and closed.
#include "iclient.h"

#include "canopen/can_message.h"
#include "platform/event.h"
#include "platform/thread.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace canopen {
struct NodeData;
}

namespace CommDiag {

class COMMDIAG_API Client : public IClient {
public:
    // The pending request of each kind; the library keeps one of each and fills it when a
    // request starts.
    struct COMMDIAG_API ConnectionInfo {
        ConnectionInfo();
        ConnectionCallback callback;
        uint8_t tcuNodeId;
        uint8_t smNodeId;
    };
    struct COMMDIAG_API ElementCallbackInfo {
        ElementCallbackInfo();
        ElementCallback callback;
        uint8_t isRead;
        uint8_t nodeId;
        uint32_t index;
        uint8_t subIndex;
        int32_t valueType;
        void* data;
    };
    struct COMMDIAG_API DomainCallbackInfo {
        DomainCallbackInfo();
        DomainCallback callback;
        uint8_t isRead;
        uint8_t nodeId;
        uint32_t index;
        uint8_t subIndex;
        int32_t valueType;
        void* data;
        uint32_t size;
        int32_t domainType;
    };
    struct COMMDIAG_API ReadNrElementCallbackInfo {
        ReadNrElementCallbackInfo();
        ReadNrElementCallback callback;
        uint8_t nodeId;
        uint32_t index;
        uint8_t subIndex;
        int32_t valueType;
        unsigned char* data;
    };

    Client(s_BOARD* board, const std::string& driverPath, unsigned char localNodeId, unsigned char remoteNodeId);
    ~Client() override;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Init() override;
    void SetLogLevel(int level) override;
    unsigned char GetNodeId() override;
    int GetNodeState(unsigned char nodeId, bool refresh) override;

    int ReadMachineType(MachineTypeRecord* record, DomainCallback callback) override;
    int ReadModuleMode(uint32_t* value, ElementCallback callback) override;
    int ReadMachineMode(uint32_t* value, ElementCallback callback) override;
    int WriteModuleMode(uint32_t* value, ElementCallback callback) override;
    int WriteMachineMode(uint32_t* value, ElementCallback callback) override;
    int ReadRevisionNumber(unsigned char* record3, DomainCallback callback) override;

#define COMMDIAG_TYPED_GROUP(Name)                                                        \
    int Name(unsigned char subIndex, float* value, ElementCallback callback) override;    \
    int Name(unsigned char subIndex, int32_t* value, ElementCallback callback) override;  \
    int Name(unsigned char subIndex, int16_t* value, ElementCallback callback) override;  \
    int Name(unsigned char subIndex, int8_t* value, ElementCallback callback) override;   \
    int Name(unsigned char subIndex, uint32_t* value, ElementCallback callback) override; \
    int Name(unsigned char subIndex, uint16_t* value, ElementCallback callback) override; \
    int Name(unsigned char subIndex, uint8_t* value, ElementCallback callback) override;

    int ReadNrOfInputs(int valueType, unsigned char* count, ReadNrElementCallback callback) override;
    COMMDIAG_TYPED_GROUP(ReadInput)
    int ReadNrOfMeasurements(int valueType, unsigned char* count, ReadNrElementCallback callback) override;
    COMMDIAG_TYPED_GROUP(ReadMeasurement)
    int ReadNrOfOutputs(int valueType, unsigned char* count, ReadNrElementCallback callback) override;
    COMMDIAG_TYPED_GROUP(ReadOutput)
    COMMDIAG_TYPED_GROUP(WriteOutput)
    int ReadNrOfMachineParameters(int valueType, unsigned char* count, ReadNrElementCallback callback) override;
    COMMDIAG_TYPED_GROUP(ReadMachineParameter)
    COMMDIAG_TYPED_GROUP(WriteMachineParameter)
    int ReadNrOfOpHoursCounters(int valueType, unsigned char* count, ReadNrElementCallback callback) override;
    COMMDIAG_TYPED_GROUP(ReadOpHoursCounter)
    COMMDIAG_TYPED_GROUP(WriteOpHoursCounter)
#undef COMMDIAG_TYPED_GROUP

    int ReadNrOfErrorBufferEntries(unsigned char* count, ReadNrElementCallback callback) override;
    int ReadObject5301(uint32_t* value, ElementCallback callback) override;
    int ReadErrorBufferEntry(unsigned char entry, ErrorBufferEntry* record, DomainCallback callback) override;
    int WriteErrorBufferEntry(unsigned char entry, ErrorBufferEntry* record, DomainCallback callback) override;
    int ReadObject5400(unsigned char* record11, DomainCallback callback) override;
    int WriteObject5400(unsigned char* record11, DomainCallback callback) override;
    int ReadSNNumber(unsigned char* record13, DomainCallback callback) override;
    int WriteSNNumber(unsigned char* record13, DomainCallback callback) override;
    int ReadNrOfObject5403(unsigned char* count, ReadNrElementCallback callback) override;
    int ReadObject5403(unsigned char subIndex, Object5403Record* record, DomainCallback callback) override;
    int WriteObject5403(unsigned char subIndex, Object5403Record* record, DomainCallback callback) override;
    int ReadObject5402(unsigned char* record3, DomainCallback callback) override;
    int WriteObject5402(unsigned char* record3, DomainCallback callback) override;
    int ReadSwVersion(unsigned char* record3, DomainCallback callback) override;
    int WriteSwVersion(unsigned char* record3, DomainCallback callback) override;
    int ReadMaterialNumber(unsigned char* record13, DomainCallback callback) override;
    int WriteMaterialNumber(unsigned char* record13, DomainCallback callback) override;
    int ReadObject5410(Object5410Record* record, DomainCallback callback) override;
    int WriteObject5410(Object5410Record* record, DomainCallback callback) override;

    int StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize, BlockTransferCallback callback,
                           uint32_t localAddress) override;
    int StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize,
                           BlockTransferCallback callback) override;
    int GetBlockTransferProgress(unsigned char* percent) override;
    int StartFirmwareUpdate(const char* path, FirmwareUpdateCallback callback) override;
    int GetFirmwareUpdateProgress(unsigned char* percent) override;

    Version GetVersion() override;

    int WriteBlockControl(BlockControlRecord* record, DomainCallback callback) override;
    int WriteBlockData(const unsigned char* data, uint32_t size, DomainCallback callback) override;
    int WriteProgramData(const unsigned char* data, uint32_t size, DomainCallback callback) override;
    int WriteFirmwareUpdateControl(unsigned char subIndex, uint8_t* value, ElementCallback callback) override;
    int ReadFlashStatus(unsigned char subIndex, uint32_t* value, ElementCallback callback) override;
    int WriteProgramControl(unsigned char subIndex, uint8_t* value, ElementCallback callback) override;
    uint32_t GetRemainingTransferBytes(unsigned char line) override;

    // Connection states.
    enum : int32_t { kNotConnected = 0, kConnecting = 1, kConnected = 2 };

protected:
    // Checks every starter makes first; on RESULT_OK the caller holds sdoBusy.
    int checkRequestStart(bool hasCallback, bool hasStorage);
    // The five request starters; each returns a Result.
    int startReadNumber(uint16_t index, unsigned char* count, ReadNrElementCallback callback);
    int startElementRead(int valueType, uint16_t index, uint8_t subIndex, void* value, ElementCallback callback);
    int startElementWrite(int valueType, uint16_t index, uint8_t subIndex, void* value, ElementCallback callback);
    int startDomainRead(uint16_t index, uint8_t subIndex, void* record, uint32_t size, DomainCallback callback,
                        int domainType);
    int startDomainWrite(uint16_t index, uint8_t subIndex, const void* record, uint32_t size, DomainCallback callback,
                         int domainType, bool useBlockMode = false);

    // Steps of the connection procedures, run on the connection thread. remainingTimeMs is
    // the procedure's budget, drawn on by every poll.
    void requestAbort();
    bool abortRequested() const { return abortFlag.load(std::memory_order_acquire) != 0; }
    // Waits one poll period, or less when an abort is asked for.
    void pollWait(uint32_t ms);
    void stopLocalNode();
    // Switches the local node and checks the state it ends in; false (result set) on a mismatch.
    bool switchLocalNode(uint8_t state, uint8_t expected, int& result);
    // With acceptBootLoader, a machine that stays Pre_operational and turns out to run its boot
    // loader counts as started once the budget is spent (see runsBootLoader).
    void startRemoteNode(int32_t& remainingTimeMs, int& result, bool acceptBootLoader = false);
    bool runsBootLoader();
    int waitWriteResult(uint8_t nodeId, uint16_t index, uint32_t value, uint32_t size, int32_t& remainingTimeMs);
    void setLocalProducerHeartbeat(uint16_t ms);
    // The outcome both procedures end with: connection state, sdoBusy, callback.
    int finishProcedure(int result, ConnectionCallback callback);
    // Refuses new connection attempts and detaches the library from this client, so that
    // stack threads no longer reach it; the derived destructors call it first.
    void beginShutdown();
    bool shuttingDown() const { return shutdown_.load(std::memory_order_acquire); }

    // Shared parts of StartConnection and CloseConnection; the derived classes own the
    // connection thread and hand it in. checkStartConnection answers kProceed when a new
    // procedure may start (connectionState is then 1); the old thread must be stopped before
    // launchProcedure starts the new one.
    static constexpr int kProceed = -1;
    int checkStartConnection(ConnectionCallback callback);
    bool launchProcedure(std::unique_ptr<platform::Thread>& thread, platform::Thread::Entry entry,
                         unsigned char tcuNodeId, unsigned char smNodeId, ConnectionCallback callback);
    void stopConnectionThread(std::unique_ptr<platform::Thread>& thread);
    int closeConnection(std::unique_ptr<platform::Thread>& thread, ConnectionCallback callback, bool resetRemoteLine);
    // The local node's watch on the machine, and the machine's on the local node.
    void setMachineConsumerEntry();
    uint32_t machineConsumerValue() const;

    // The machine's heartbeat consumer object, which its boot loader lacks.
    static constexpr uint16_t kHeartbeatConsumerObject = 0x1016;

    // The procedure ends within one poll of an abort; the limit only guards against a
    // procedure stuck on the stack lock.
    static constexpr uint32_t kConnectionJoinMs = 5000;

    // Stack calls from the client's own threads take the stack lock, once the stack runs.
    class StackAccess {
    public:
        StackAccess();
        ~StackAccess();
        StackAccess(const StackAccess&) = delete;
        StackAccess& operator=(const StackAccess&) = delete;

    private:
        bool locked_;
    };

    s_BOARD* board;
    canopen::NodeData* node;
    std::string driverPath;
    uint8_t localNodeId;
    uint8_t remoteNodeId;
    std::atomic<uint8_t> busAccessible{0};
    void* driverModule = nullptr;
    std::atomic<uint8_t> initialized{0};
    std::atomic<int32_t> connectionState{kNotConnected};
    std::atomic<int32_t> abortFlag{0};
    std::map<uint8_t, int> nodeStateCache;

    friend struct ClientAccess;  // the stack hooks

private:
    template <typename T>
    int typedRead(uint16_t base, uint8_t subIndex, T* value, ElementCallback callback);
    template <typename T>
    int typedWrite(uint16_t base, uint8_t subIndex, T* value, ElementCallback callback);
    int readNumberOfType(uint16_t base, int valueType, unsigned char* count, ReadNrElementCallback callback);

    std::mutex nodeStateCacheMutex_;           // GetNodeState runs on any thread
    platform::Event abortEvent_{true, false};  // wakes the procedure's waits at once
    std::atomic<bool> shutdown_{false};
};

}  // namespace CommDiag
