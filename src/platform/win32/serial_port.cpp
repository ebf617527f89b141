#include "platform/serial_port.h"

#include <atomic>

#include <windows.h>

namespace platform {

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// The read time-outs below make a read return at once; this only bounds a driver that does not.
constexpr DWORD kReadSettleMs = 500;

// Cancels an operation this thread started and waits until the system is done with its
// OVERLAPPED record, which lives on our stack. Returns the bytes it moved before it ended.
DWORD cancelAndSettle(HANDLE port, OVERLAPPED& ov) {
    CancelIo(port);
    DWORD moved = 0;
    GetOverlappedResult(port, &ov, &moved, TRUE);
    return moved;
}

}  // namespace

struct SerialPort::Impl {
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE receiveEvent = nullptr;  // comm-event waits and reads: the reading thread's
    HANDLE sendEvent = nullptr;     // writes: the writing thread's
    HANDLE wakeEvent = nullptr;     // set by interrupt()
    std::atomic<bool> interrupted{false};

    void closeEvents() {
        for (HANDLE* event : {&receiveEvent, &sendEvent, &wakeEvent}) {
            if (*event != nullptr) CloseHandle(*event);
            *event = nullptr;
        }
    }

    // Whatever the input queue holds, up to capacity; false when the port failed.
    bool readAvailable(uint8_t* into, std::size_t capacity, DWORD& got) {
        ResetEvent(receiveEvent);
        OVERLAPPED ov{};
        ov.hEvent = receiveEvent;
        got = 0;
        const DWORD want = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
        if (ReadFile(port, into, want, &got, &ov)) return true;
        if (GetLastError() != ERROR_IO_PENDING) return false;
        if (WaitForSingleObject(receiveEvent, kReadSettleMs) != WAIT_OBJECT_0) {
            got = cancelAndSettle(port, ov);
            return true;
        }
        if (GetOverlappedResult(port, &ov, &got, FALSE)) return true;
        return GetLastError() == ERROR_OPERATION_ABORTED;
    }
};

SerialPort::SerialPort() : impl_(new Impl) {}

SerialPort::~SerialPort() {
    close();
    delete impl_;
}

std::string SerialPort::deviceName(unsigned comNumber) {
    if (comNumber == 0) return {};
    return "\\\\.\\COM" + std::to_string(comNumber);
}

bool SerialPort::open(unsigned comNumber, uint32_t bitsPerSecond) {
    if (impl_->port != INVALID_HANDLE_VALUE) return true;
    const std::string device = deviceName(comNumber);
    if (device.empty()) return false;
    const std::wstring wide(device.begin(), device.end());
    HANDLE port = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;

    // Some virtual COM ports refuse one or the other of these; the port still works, so their
    // results are left alone.
    SetCommMask(port, EV_RXCHAR | EV_TXEMPTY);
    // Reads return at once with what is there; a write may take up to 5 s before the driver gives up.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 5000;
    SetCommTimeouts(port, &timeouts);
    SetupComm(port, 1024, 512);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = bitsPerSecond;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    PurgeComm(port, kPurgeAll);

    impl_->receiveEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    impl_->sendEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    impl_->wakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (impl_->receiveEvent == nullptr || impl_->sendEvent == nullptr || impl_->wakeEvent == nullptr) {
        impl_->closeEvents();
        CloseHandle(port);
        return false;
    }
    impl_->port = port;
    impl_->interrupted.store(false);
    return true;
}

bool SerialPort::isOpen() const { return impl_->port != INVALID_HANDLE_VALUE; }

std::size_t SerialPort::write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) {
    if (impl_->port == INVALID_HANDLE_VALUE) return 0;
    ResetEvent(impl_->sendEvent);
    OVERLAPPED ov{};
    ov.hEvent = impl_->sendEvent;
    DWORD written = 0;
    const DWORD want = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
    if (WriteFile(impl_->port, bytes, want, &written, &ov)) return written;
    if (GetLastError() != ERROR_IO_PENDING) return 0;
    if (WaitForSingleObject(impl_->sendEvent, timeoutMs) != WAIT_OBJECT_0) return cancelAndSettle(impl_->port, ov);
    if (!GetOverlappedResult(impl_->port, &ov, &written, FALSE)) return 0;
    return written;
}

SerialPort::ReadResult SerialPort::read(uint8_t* into, std::size_t capacity, uint32_t timeoutMs) {
    if (impl_->port == INVALID_HANDLE_VALUE || capacity == 0) return {ReadStatus::Failed, 0};
    const bool unbounded = timeoutMs == kInfinite;
    const DWORD start = GetTickCount();
    for (;;) {
        if (impl_->interrupted.load()) return {ReadStatus::Interrupted, 0};
        // Reading before waiting catches bytes whose comm event an earlier wait already consumed.
        DWORD got = 0;
        if (!impl_->readAvailable(into, capacity, got)) return {ReadStatus::Failed, 0};
        if (got > 0) return {ReadStatus::Data, got};

        DWORD waitMs = INFINITE;
        if (!unbounded) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= timeoutMs) return {ReadStatus::Timeout, 0};
            waitMs = timeoutMs - spent;
        }
        // EV_TXEMPTY wakes this wait too; the next round then simply finds nothing to read.
        ResetEvent(impl_->receiveEvent);
        OVERLAPPED ov{};
        ov.hEvent = impl_->receiveEvent;
        DWORD events = 0;
        if (WaitCommEvent(impl_->port, &events, &ov)) continue;
        // Anything but a pending wait would leave us waiting for an event that never comes.
        if (GetLastError() != ERROR_IO_PENDING) return {ReadStatus::Failed, 0};
        const HANDLE waits[2] = {impl_->receiveEvent, impl_->wakeEvent};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, waitMs);
        if (woken == WAIT_OBJECT_0) {
            DWORD unused = 0;
            if (!GetOverlappedResult(impl_->port, &ov, &unused, FALSE)) return {ReadStatus::Failed, 0};
            continue;
        }
        cancelAndSettle(impl_->port, ov);
        if (woken == WAIT_OBJECT_0 + 1) return {ReadStatus::Interrupted, 0};
        if (woken == WAIT_TIMEOUT) return {ReadStatus::Timeout, 0};
        return {ReadStatus::Failed, 0};
    }
}

void SerialPort::interrupt() {
    impl_->interrupted.store(true);
    if (impl_->wakeEvent != nullptr) SetEvent(impl_->wakeEvent);
}

void SerialPort::close() {
    if (impl_->port == INVALID_HANDLE_VALUE) return;
    PurgeComm(impl_->port, kPurgeAll);
    CloseHandle(impl_->port);
    impl_->port = INVALID_HANDLE_VALUE;
    impl_->closeEvents();
    impl_->interrupted.store(false);
}

}  // namespace platform
