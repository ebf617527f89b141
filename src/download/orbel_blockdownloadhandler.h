#pragma once
#include <atomic>
#include <cstdint>

// The gate for curve-data and firmware downloads, and the keeper of the substitute boot status
// that the legacy status command reports. This build holds the flags; the downloads themselves
// are not in it yet.
class ORBEL_BlockDownloadHandler {
public:
    struct BootStatus {
        uint8_t active;
        uint8_t value;
    };

    // The two boot status bytes change as one unit.
    void setBootStatus(uint8_t active, uint8_t value) { bootStatus.store(BootStatus{active, value}); }
    BootStatus getBootStatus() const { return bootStatus.load(); }

    bool isRunning() const { return running.load(std::memory_order_acquire) != 0; }
    void setUpdateRunning();
    void resetBlockDownload();

private:
    std::atomic<uint8_t> running{0};
    std::atomic<BootStatus> bootStatus{BootStatus{0, 0}};
};
