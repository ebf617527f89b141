#pragma once
#include <atomic>
#include <cstdint>

#include "download/download_requests.h"

// The gate for curve-data and firmware downloads, and the keeper of the substitute boot status
// that the legacy status command reports. This build holds the flags; the downloads themselves
// are not in it yet.
class ORBEL_BlockDownloadHandler {
public:
    explicit ORBEL_BlockDownloadHandler(IDownloadRequests& requests) : requests(requests) {}
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

    bool isRunning() const { return running.load(std::memory_order_acquire) != 0; }
    void setUpdateRunning();
    void resetBlockDownload();

private:
    [[maybe_unused]] IDownloadRequests& requests;  // the downloads are not in this build yet
    std::atomic<uint8_t> running{0};
    std::atomic<uint16_t> bootStatus{0};
};
