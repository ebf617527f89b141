#include "driver.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "error.h"
#include "platform/clock.h"
#include "serial_frame.h"

namespace serican {

namespace {

constexpr uint32_t kLineBitsPerSecond = 38400;
// The one CAN rate the adapter runs; it is not configured over the serial line.
constexpr const char* kCanBitRate = "500K";
constexpr uint32_t kSendTimeoutMs = 1000;
// How long the rest of a frame may take once its first bytes are in. A frame lasts about 4 ms at
// 38400 bit/s; the margin covers USB serial bridges, which hold bytes back for up to 16 ms.
constexpr uint32_t kFrameRestWaitMs = 50;
// After the port broke, a receive waits this long before it reports so, so that a caller that
// keeps receiving does not spin.
constexpr uint32_t kBrokenPortPauseMs = 100;
// A send may hold the line for its time-out; the close frame needs as long again.
constexpr uint32_t kCloseWaitMs = 3 * kSendTimeoutMs;
constexpr std::size_t kReadChunk = 2048;
// The line carries one 16-byte frame in 4.17 ms. Frames go to the port at that pace, at most
// this many ahead of the wire (a margin for a sender that is scheduled late): the system's buffer would take kilobytes,
// and a frame sent now (a heartbeat between the segments of a block transfer) would wait behind all of them.
constexpr auto kFrameTime = std::chrono::microseconds(16 * 10 * 1000000 / kLineBitsPerSecond);
constexpr int kFramesAhead = 4;

unsigned comNumberOf(const char* busName) {
    int number = 0;
    if (busName == nullptr || std::sscanf(busName, "%d", &number) != 1)
        throw error("bus name is not a COM port number");
    if (number <= 0) throw error("no COM port " + std::to_string(number));
    return static_cast<unsigned>(number);
}

void prefill(CanMessage& message) {
    static constexpr uint8_t kUnfilled[8] = {0xDE, 0xAD, 0xBE, 0xEF, 0xDE, 0xAD, 0xBE, 0xEF};
    message.cobId = 0;
    message.rtr = 0;
    message.len = 0;
    std::memcpy(message.data, kUnfilled, sizeof kUnfilled);
}

}  // namespace

Driver::Driver(const s_BOARD& board) {
    const unsigned comNumber = comNumberOf(board.busname);
    // Checked before the port is touched: a refused board leaves the port's settings alone.
    if (board.baudrate == nullptr || std::strcmp(board.baudrate, kCanBitRate) != 0)
        throw error("CAN bit rate other than 500K");
    if (!port_.open(comNumber, kLineBitsPerSecond)) throw error("cannot open COM" + std::to_string(comNumber));
    if (!sendLock_.valid()) throw error("cannot create the send lock");
}

uint8_t Driver::send(const CanMessage& message) {
    CallGate::Pass pass(gate_);
    if (!pass) return 1;
    std::lock_guard<platform::Mutex> lock(sendLock_);
    // Checked under the lock: once the close frame went out, nothing may follow it.
    if (gate_.closed() || !port_.isOpen()) return 1;
    const SerialFrame frame = encodeSendFrame(message);
    const auto now = std::chrono::steady_clock::now();
    if (lineFreeAt_ < now) lineFreeAt_ = now;
    const auto ahead = lineFreeAt_ - now;
    if (ahead > kFramesAhead * kFrameTime) std::this_thread::sleep_for(ahead - kFramesAhead * kFrameTime);
    lineFreeAt_ += kFrameTime;
    return port_.write(frame.data(), frame.size(), kSendTimeoutMs) == frame.size() ? 0 : 1;
}

uint8_t Driver::receive(CanMessage& message) {
    CallGate::Pass pass(gate_);
    if (!pass || !port_.isOpen()) return 1;
    prefill(message);

    // A read may end inside a frame; its rest is awaited, but only for a bounded time, so that
    // noise which merely looks like the start of a frame cannot hold the caller.
    bool awaitingRest = false;
    bool readSome = false;
    uint32_t awaitingSince = 0;
    std::array<uint8_t, kReadChunk> chunk;
    for (;;) {
        const FrameDecoder::Result decoded = decoder_.next(message);
        if (decoded == FrameDecoder::Result::Message) return 0;
        if (decoded == FrameDecoder::Result::Empty && readSome) return 1;  // the bytes held no frame

        uint32_t timeoutMs = platform::SerialPort::kInfinite;
        if (decoded == FrameDecoder::Result::Incomplete) {
            const uint32_t now = platform::tickCountMs();
            if (!awaitingRest) {
                awaitingRest = true;
                awaitingSince = now;
            }
            const uint32_t waited = now - awaitingSince;
            if (waited >= kFrameRestWaitMs) {
                decoder_.clear();
                return 1;
            }
            timeoutMs = kFrameRestWaitMs - waited;
        }

        const platform::SerialPort::ReadResult got = port_.read(chunk.data(), chunk.size(), timeoutMs);
        switch (got.status) {
            case platform::SerialPort::ReadStatus::Data:
                decoder_.append(chunk.data(), got.count);
                readSome = true;
                break;
            case platform::SerialPort::ReadStatus::Timeout:
                // The rest never came: the bytes held are a fragment, not the start of the next frame.
                decoder_.clear();
                return 1;
            case platform::SerialPort::ReadStatus::Interrupted: return 1;
            case platform::SerialPort::ReadStatus::Failed:
                decoder_.clear();
                gate_.sleepUnlessClosed(kBrokenPortPauseMs);
                return 1;
        }
    }
}

bool Driver::close() {
    if (!gate_.close()) return false;
    port_.interrupt();
    {
        // Taking the send lock keeps the close frame from landing inside a send in progress.
        std::lock_guard<platform::Mutex> lock(sendLock_);
        if (port_.isOpen()) {
            const SerialFrame frame = encodeCloseFrame();
            port_.write(frame.data(), frame.size(), kSendTimeoutMs);
        }
    }
    if (gate_.waitUntilIdle(kCloseWaitMs)) {
        port_.close();
        decoder_.release();  // the receiving thread has left and cannot come back
    }
    return true;
}

}  // namespace serican
