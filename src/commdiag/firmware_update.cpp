// The firmware update sequence: set the update flag, restart the machine into its boot loader,
// erase its flash, wait for the erase, download the image as one block-mode domain. Every step
// is started from the completion of the previous one; the waits (after the restart, between
// flash status reads) run on the stack's alarm thread, never as a sleep in a completion.
#include "transfers.h"

#include "library_state.h"
#include "log.h"
#include "testing.h"

#include "canopen/alarm.h"
#include "platform/clock.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

namespace CommDiag::detail {

namespace {

constexpr uint8_t kMachineNodeId = 0x0A;  // the sequence asks for this node's state, whatever the client's
constexpr uint32_t kRestartWaitMs = 3000;
// The machine's flash status while it erases is read again after this pause, so the polling
// leaves the line to the heartbeats and the host.
constexpr uint32_t kFlashPollMs = 100;
constexpr uint32_t kFlashErased = 2;
constexpr uint32_t kDefaultWaitLimitMs = 5 * 60 * 1000;
constexpr uint32_t kAlarmId = 0x4657;  // "FW"

std::atomic<uint32_t> g_waitLimitMs{kDefaultWaitLimitMs};

// Guarded by the stack lock once the sequence has started; updateState and the image size are
// also read by the progress call.
struct FirmwareUpdate {
    std::atomic<int> updateState{kUpdateIdle};
    uint8_t step = 0;
    uint8_t command = 0;
    uint32_t flashStatus = 0;
    IClient* client = nullptr;
    FirmwareUpdateCallback callback = nullptr;
    std::unique_ptr<uint8_t[]> image;
    std::atomic<uint32_t> imageSize{0};
    // From the restart on, how long the machine may take to come back, erase and report the erase.
    uint32_t waitStartMs = 0;
    canopen::AlarmHandle alarm = canopen::NO_ALARM;
};

FirmwareUpdate& fw() {
    static FirmwareUpdate state;
    return state;
}

void stepHandler(int result, int valueType, unsigned char subIndex, void* data);
void finishHandler(int result, int valueType, unsigned char subIndex, void* data, unsigned size);

// Ends the sequence: the state a progress call reports, the user told once, nothing left that
// refers to the client.
void endSequence(int result) {
    FirmwareUpdate& s = fw();
    s.alarm = canopen::cancelAlarm(s.alarm);
    const FirmwareUpdateCallback callback = s.callback;
    s.client = nullptr;
    s.callback = nullptr;
    s.imageSize = 0;
    s.step = 0;
    s.command = 0;
    s.updateState = result == RESULT_OK ? kUpdateIdle : kUpdateFailed;
    if (callback) callback(result == RESULT_OK ? RESULT_OK : (result != 0 ? result : RESULT_FAILED), 0);
}

void fail(const char* why, int result) {
    log::line(log::kAlways, why);
    endSequence(result == RESULT_OK ? RESULT_FAILED : result);
}

// A request of the sequence that the client refuses to start would leave it hanging for good.
void checkStarted(int started, const char* what) {
    if (started == RESULT_OK) return;
    log::line(log::kAlways, what, " could not be started (", started, ") -> FW-Update failed");
    endSequence(started);
}

bool waitedTooLong() {
    return platform::tickCountMs() - fw().waitStartMs > g_waitLimitMs.load(std::memory_order_relaxed);
}

void erase() {
    FirmwareUpdate& s = fw();
    s.command = 3;
    log::line(log::kAlways, "Step 3: Erase Flash on Machine");
    checkStarted(s.client->WriteProgramControl(1, &s.command, stepHandler), "Erase");
}

void readFlashStatus() {
    FirmwareUpdate& s = fw();
    log::line(log::kAlways, "Step 4: Wait for Flash Erase completed");
    s.flashStatus = 0;  // a read that fails must not leave an earlier "erased" behind
    s.step = 3;
    checkStarted(s.client->ReadFlashStatus(1, &s.flashStatus, stepHandler), "Flash status read");
}

// After the restart: is the machine back? Erase either way; the erase of a machine not yet
// back comes round here again.
void afterRestartWait(canopen::NodeData*, uint32_t) {
    FirmwareUpdate& s = fw();
    s.alarm = canopen::NO_ALARM;
    if (!s.client) return;
    if (waitedTooLong()) return fail("Machine did not come back after the restart -> FW-Update failed", RESULT_TIMEOUT);
    const int state = s.client->GetNodeState(kMachineNodeId, true);
    if (state == 127 || state == 5) s.step = 2;
    erase();
}

void flashPollDue(canopen::NodeData*, uint32_t) {
    FirmwareUpdate& s = fw();
    s.alarm = canopen::NO_ALARM;
    if (s.client) readFlashStatus();
}

void armWait(uint32_t ms, canopen::AlarmCallback callback) {
    FirmwareUpdate& s = fw();
    s.alarm = canopen::cancelAlarm(s.alarm);
    s.alarm = canopen::armAlarm(&localNode(), kAlarmId, callback, ms, 0);
    if (s.alarm == canopen::NO_ALARM) fail("No timer for the firmware update -> FW-Update failed", RESULT_FAILED);
}

void stepHandler(int result, int, unsigned char, void*) {
    FirmwareUpdate& s = fw();
    if (!s.client) return;
    switch (s.step) {
        case 0:
            s.command = 0;
            log::line(log::kAlways, "Step 2: Restart Machine (Send restart cmd to Machine)");
            s.step = 1;
            s.waitStartMs = platform::tickCountMs();
            checkStarted(s.client->WriteFirmwareUpdateControl(2, &s.command, stepHandler), "Restart");
            return;
        case 1: armWait(kRestartWaitMs, afterRestartWait); return;
        case 2:
            if (result == RESULT_TIMEOUT) {
                if (waitedTooLong()) return fail("Flash erase not answered -> FW-Update failed", RESULT_TIMEOUT);
                return erase();
            }
            if (result != RESULT_OK) return fail("Undefined retVal -> Restart download", result);
            readFlashStatus();
            return;
        case 3:
            if (result == RESULT_OK && s.flashStatus == kFlashErased) {
                log::line(log::kAlways, "Step 5: Start FW download");
                s.updateState = kUpdateDownloading;
                const int started = s.client->WriteProgramData(s.image.get(), s.imageSize, finishHandler);
                if (started != RESULT_OK) {
                    s.updateState = kUpdatePreparing;
                    checkStarted(started, "Image download");
                }
                return;
            }
            if (waitedTooLong()) return fail("Flash erase not completed in time -> FW-Update failed", RESULT_TIMEOUT);
            armWait(kFlashPollMs, flashPollDue);
            return;
        default: return;
    }
}

void finishHandler(int result, int, unsigned char, void*, unsigned) {
    if (!fw().client) return;
    if (result != RESULT_OK) log::line(log::kAlways, "FW download failed (", result, ")");
    endSequence(result);
}

int refuse(int state) {
    fw().updateState = state;
    return RESULT_INVALID;
}

}  // namespace

int startFirmwareUpdate(IClient* client, const char* path, FirmwareUpdateCallback callback) {
    FirmwareUpdate& s = fw();
    if (!client || !callback || !path) return refuse(kUpdateFailed);
    {
        StackSection lock;
        if (s.client) {
            // One sequence at a time: a second start would hand the machine two images at once.
            log::line(log::kAlways, "Firmware update is still running");
            return RESULT_BUSY;
        }
    }
    // The image is read whole before the machine is touched; the file is closed again at once.
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        printFileNotOpen(file);
        return refuse(kUpdateFailed);
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0) {
        log::line(log::kAlways, "File size unknown");
        return refuse(kUpdateFailed);
    }
    if (size > static_cast<std::streamoff>(kMaxImageSize)) {
        log::line(log::kAlways, "File too long...");
        return refuse(kUpdateFailed);
    }
    if (size == 0) {
        // Erasing the machine and then sending nothing would leave it without a program.
        log::line(log::kAlways, "File empty...");
        return refuse(kUpdateFailed);
    }
    StackSection lock;
    if (s.client) return RESULT_BUSY;
    if (!s.image) s.image.reset(new uint8_t[kMaxImageSize]);
    file.seekg(0, std::ios::beg);
    file.read(reinterpret_cast<char*>(s.image.get()), size);
    if (file.gcount() != size) {
        log::line(log::kAlways, "File not read completely (", file.gcount(), " of ", size, " bytes)");
        return refuse(kUpdateFailed);
    }
    s.imageSize = static_cast<uint32_t>(size);
    s.client = client;
    s.callback = callback;
    s.step = 0;
    s.command = 1;
    s.updateState = kUpdatePreparing;
    log::line(log::kAlways, "Step 1: Initiate FW-Update (Set Flag on Machine)");
    const int started = client->WriteFirmwareUpdateControl(1, &s.command, stepHandler);
    if (started != RESULT_OK) {
        s.client = nullptr;
        s.callback = nullptr;
        s.imageSize = 0;
        log::line(log::kAlways, "Firmware update could not be started (", started, ")");
        return refuse(kUpdateFailed);
    }
    return RESULT_OK;
}

int firmwareUpdateProgress(IClient* client, unsigned char* percent) {
    FirmwareUpdate& s = fw();
    const int state = s.updateState.load();
    const uint32_t size = s.imageSize.load();
    if (!percent) return state;
    *percent = 0;
    if (state == kUpdateDownloading && size != 0 && client) {
        const uint32_t remaining = client->GetRemainingTransferBytes(0);
        if (remaining <= size) *percent = static_cast<unsigned char>((size - remaining) * 100.0f / size);
    }
    return state;
}

void abandonFirmwareUpdate(IClient* client) {
    FirmwareUpdate& s = fw();
    if (s.client != client || !client) return;
    s.alarm = canopen::cancelAlarm(s.alarm);
    s.client = nullptr;
    s.callback = nullptr;
    s.imageSize = 0;
    s.step = 0;
    s.updateState = kUpdateFailed;
}

}  // namespace CommDiag::detail

namespace CommDiag::testing {
void setFirmwareWaitLimit(uint32_t ms) {
    detail::g_waitLimitMs.store(ms == 0 ? detail::kDefaultWaitLimitMs : ms, std::memory_order_relaxed);
}
}  // namespace CommDiag::testing
