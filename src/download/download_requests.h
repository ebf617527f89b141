#pragma once
#include <cstdint>

// What the block download handler needs from above it. The converter object, which owns the
// handler, implements these (itself, or through the machine link) and hands them in, so that
// the handler never reaches for the converter or the machine link.

// Machine requests the handler starts. Each start returns 0 when the request's completion
// callback will come, anything else when it will not.
class IDownloadRequests {
public:
    virtual ~IDownloadRequests() = default;

    // Closes the connection; its callback waits for the restarted machine and connects again.
    virtual int32_t CloseConnection() = 0;
    // Sends a file as numbered block; null localAddress: the record's local address unchanged.
    virtual int32_t StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize,
                                       const uint32_t* localAddress) = 0;
    // Transfer state (7: failed) and percentage.
    virtual int32_t GetBlockTransferProgress(uint8_t* percent) = 0;
    virtual int32_t StartFirmwareUpdate(const char* path) = 0;
    virtual int32_t GetFirmwareUpdateProgress(uint8_t* percent) = 0;
};

// What the handler reads and writes in the object that owns it: the model's view of the
// curve-data addresses and the converter state.
class IDownloadOwner {
public:
    virtual ~IDownloadOwner() = default;

    virtual int32_t convertAddrToBlockDownloadId(uint32_t address) = 0;
    virtual uint32_t getBlockDownloadPacketSize(uint32_t address) = 0;
    virtual bool dataBlockConvNecessary(uint32_t address) = 0;
    virtual bool dataBlockConv(uint32_t address, const uint8_t* source, uint32_t* length, uint8_t* destination,
                               uint32_t capacity) = 0;
    // Marks the converter busy for a download about to start; false (nothing changed) when it
    // is busy with something else. A completion may set it idle before the start returns.
    virtual bool markBusyForDownload() = 0;
    // The start was refused: the converter state goes back to what it was before.
    virtual void undoBusyForDownload() = 0;
};
