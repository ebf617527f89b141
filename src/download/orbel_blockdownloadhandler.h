#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "download/download_requests.h"

// The gate for curve-data and firmware downloads, and the keeper of the substitute boot status
// that the legacy status command reports. One download runs at a time: the running flag is set
// before a transfer starts (its completion may come before the start returns) and cleared by the
// completion callbacks through resetBlockDownload, or at once when the start is refused.
class ORBEL_BlockDownloadHandler {
public:
    ORBEL_BlockDownloadHandler(IDownloadRequests& requests, IDownloadOwner& owner) : requests(requests), owner(owner) {}
    ORBEL_BlockDownloadHandler(const ORBEL_BlockDownloadHandler&) = delete;
    ORBEL_BlockDownloadHandler& operator=(const ORBEL_BlockDownloadHandler&) = delete;

    struct BootStatus {
        uint8_t active;
        uint8_t value;
    };

    // The two boot status bytes change as one unit (packed in one word: active high, value low).
    void setBootStatus(uint8_t active, uint8_t value) {
        bootStatus.store(static_cast<uint16_t>((active << 8) | value), std::memory_order_release);
    }
    BootStatus getBootStatus() const {
        const uint16_t packed = bootStatus.load(std::memory_order_acquire);
        return BootStatus{static_cast<uint8_t>(packed >> 8), static_cast<uint8_t>(packed & 0xFF)};
    }

    bool StartBlockDownload(const char* path, uint32_t address);
    bool StartBlockDownload(const char* path, uint32_t address, uint8_t localAddress);
    bool StartFirmwareDownload(const char* path);
    // Curve data of a legacy write: written to a temporary file that is sent as block and
    // removed when the transfer ends.
    bool SendCurveDataAsBlock(uint32_t address, uint32_t size, const uint8_t* data);
    // Joins the image files ("...hex") of a folder, in name order, into folder/name.
    bool BuildBlockDownloadBinary(const char* directory, const char* name);
    // False only when the transfer reports its failed state; `progress` gets the percentage.
    bool GetBlockDownloadProgress(uint8_t* progress);
    bool GetFirmwareDownloadProgress(uint8_t* progress);

    bool isRunning() const { return running.load(std::memory_order_acquire) != 0; }
    void resetBlockDownload();
    // The machine link went away with the transfer (the library was de-initialised): nothing
    // of it runs any more.
    void abandon();

private:
    bool startBlock(const char* path, uint32_t address, const uint32_t* localAddress);
    // Sets the running flag before a start; false when a download runs already.
    bool setUpdateRunning();
    // Sets it for a start with a path and marks the converter busy for it; false (traced) when
    // there is no path, a download runs already or the converter is busy.
    bool claimStart(const char* name, const char* path);
    void forgetTempFile();

    IDownloadRequests& requests;
    IDownloadOwner& owner;
    std::atomic<uint8_t> running{0};
    std::atomic<uint16_t> bootStatus{0};
    std::mutex tempFileMutex;
    std::string tempFile;  // the curve-data file of the running transfer, removed at its end
};
