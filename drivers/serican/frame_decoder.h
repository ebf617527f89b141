#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "serican.h"

namespace serican {

// Turns the bytes of a serial line into receive frames. A serial read may end anywhere: inside a
// frame, after several frames, after noise. The decoder keeps an incomplete frame until its rest
// arrives and skips bytes that cannot start a receive frame, so one stray byte costs no frame.
// Holds at most what was appended since it last reported Incomplete or Empty, plus 15 bytes.
class FrameDecoder {
public:
    enum class Result {
        Message,     // the first whole frame was decoded into the message and consumed
        Incomplete,  // what is left may be the start of a frame: more bytes are needed
        Empty,       // nothing left
    };

    void append(const uint8_t* bytes, std::size_t count);
    // Leaves message untouched unless the result is Message.
    Result next(CanMessage& message);
    void clear();
    std::size_t pending() const { return bytes_.size() - start_; }

private:
    std::vector<uint8_t> bytes_;
    std::size_t start_ = 0;  // bytes before this are consumed
};

}  // namespace serican
