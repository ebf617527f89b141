#pragma once
#include <atomic>
#include <cstdint>
#include <string>

struct MachineTypeRecord;

namespace CommDiag {
class IClient;
class CommDiagFactory;
struct ErrorBufferEntry;
}  // namespace CommDiag

// The one place where the converter talks to the machine: owns the CommDiag client and offers
// one request per kind of machine datum. Each request copies its argument into a static
// transfer area, starts one client request with a fixed completion callback, and returns the
// client's start result (0: the callback will come; anything else: it will not).
class ORBEL_CommDiag {
public:
    // The process's instance; the first call creates and initialises the client, bound to the
    // port of the last ORBEL_DllInit. Only the host's byte stream calls it: a request never
    // creates a client, so none comes to life on a stack thread after DestroyInstance.
    static ORBEL_CommDiag* instance();
    // Ends a pending reconnection and destroys the client; the next instance() creates a fresh one.
    static void DestroyInstance();
    // The client the requests use: the test's, else the instance's, else null (refused).
    static CommDiag::IClient* currentClient();

    static int32_t StartConnection();
    static int32_t CloseConnection();
    static int32_t ReadMachineType();
    static int32_t ReadSwVersion();
    static int32_t ReadSNNumber();
    static int32_t WriteSNNumber(const uint8_t* serialNumber);
    static int32_t ReadMaterialNumber();
    static int32_t WriteMaterialNumber(const uint8_t* materialNumber);
    static int32_t ReadMachineMode();
    static int32_t WriteMachineMode(uint32_t smValue);
    static int32_t WriteModuleMode(uint32_t moduleModeValue);
    static int32_t ReadInput(int32_t valueType, uint8_t subIndex);
    static int32_t ReadMeasurement(int32_t valueType, uint8_t subIndex);
    static int32_t ReadMachineParameter(int32_t valueType, uint8_t subIndex);
    static int32_t WriteMachineParameter(int32_t valueType, uint8_t subIndex, uint32_t value);
    static int32_t ReadOpHoursCounter(int32_t valueType, uint8_t subIndex);
    static int32_t WriteOpHoursCounter(int32_t valueType, uint8_t subIndex, uint32_t value);
    static int32_t WriteOutput(uint8_t outputNumber, uint8_t value);
    static int32_t ReadErrorBufferEntry(uint8_t entryNumber);
    // A null entry writes zeros (the upper five bits of the flag byte keep what the transfer
    // record holds) and logs the misuse.
    static int32_t WriteErrorBufferEntry(uint8_t entryNumber, const CommDiag::ErrorBufferEntry* entry);
    // Downloads: a file as numbered block (null localAddress: none given), a firmware image,
    // and their progress (the transfer state; 7 failed).
    static int32_t StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize,
                                      const uint32_t* localAddress);
    static int32_t GetBlockTransferProgress(uint8_t* percent);
    static int32_t StartFirmwareUpdate(const char* path);
    static int32_t GetFirmwareUpdateProgress(uint8_t* percent);
    static int32_t CallStackFnBasedOnObjId(int32_t valueType, int32_t objectIndex, uint8_t subIndex);

    // Value type of a parameter or operating-hours counter object, 0 for any other index.
    static int32_t CanObjIdToType(int32_t objectIndex);

    // The driver library the client loads: the fixed Windows path, or on other systems
    // ORBEL_CAN_DRIVER or the driver beside the converter library.
    static std::string driverPath();

    CommDiag::IClient* getClient() const { return client.load(std::memory_order_acquire); }

    // What the transfer area holds now, for callbacks that report a failed read with it.
    static const uint8_t* transferSwVersion();
    static const uint8_t* transferSerialNumber();
    static struct MachineTypeRecord transferMachineType();

    // Tests put a client of their own behind the request layer (null: back to normal).
    static void setClientForTesting(CommDiag::IClient* testClient);

private:
    ORBEL_CommDiag() = default;

    // Written by the host's thread, read by stack threads starting follow-up requests.
    std::atomic<CommDiag::IClient*> client{nullptr};
    CommDiag::CommDiagFactory* factory = nullptr;
};
