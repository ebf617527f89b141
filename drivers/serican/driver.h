#pragma once
#include <chrono>
#include <cstdint>

#include "call_gate.h"
#include "frame_decoder.h"
#include "platform/mutex.h"
#include "platform/serial_port.h"
#include "serican.h"

namespace serican {

// One open adapter; its address is the handle the stack holds. Receives come from one thread,
// sends from any thread, close from the stack's control thread while a receive may be waiting.
class Driver {
public:
    // Opens the adapter on the board's COM port; throws error when the board cannot be served.
    explicit Driver(const s_BOARD& board);

    uint8_t send(const CanMessage& message);
    uint8_t receive(CanMessage& message);
    // Sends the close frame and closes the port, after waking a waiting receive and letting the
    // calls in progress leave (a call that does not leave in time keeps the port open; the object
    // stays allocated anyway). False when the adapter had been closed before: nothing is done.
    bool close();

private:
    platform::SerialPort port_;
    platform::Mutex sendLock_;                            // one frame on the line at a time
    std::chrono::steady_clock::time_point lineFreeAt_{};  // when the frames handed over so far are out (send lock)
    CallGate gate_;
    FrameDecoder decoder_;  // the receiving thread's: bytes read but not yet returned as frames
};

}  // namespace serican
