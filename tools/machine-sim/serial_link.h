#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "can_frame.h"

namespace msim {

// The adapter's 16-byte serial frames: AA 0F <kind> idH idL rtr len d0..d7 checksum.
constexpr std::size_t kSerialFrameSize = 16;
constexpr uint8_t kKindHostSend = 0x10;
constexpr uint8_t kKindHostClose = 0x20;
constexpr uint8_t kKindAdapterReceive = 0x12;

using SerialFrame = std::array<uint8_t, kSerialFrameSize>;

// A frame as the adapter hands a CAN frame to the host.
SerialFrame encodeReceiveFrame(const CanFrame& frame);
// A frame as the host sends it (used by tests and by the host stand-in of the program tests).
SerialFrame encodeHostSendFrame(const CanFrame& frame);
SerialFrame encodeHostCloseFrame();

// Splits the host's byte stream into frames. The line gives no framing of its own, so the
// decoder hunts for the AA 0F start and checks kind and checksum; bytes that do not form a
// valid frame are skipped one at a time and reported, never taken as a frame.
class HostFrameDecoder {
public:
    struct Event {
        enum class Kind { Send, Close, Garbage } kind;
        CanFrame frame;       // Send
        std::string problem;  // Garbage: what was wrong
        std::size_t skipped = 0;
    };

    void feed(const uint8_t* bytes, std::size_t count, std::vector<Event>& out);
    std::size_t buffered() const { return buf_.size(); }
    void clear() { buf_.clear(); }

private:
    std::vector<uint8_t> buf_;
};

}  // namespace msim
