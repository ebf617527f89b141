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
//
// In step (at the start, and right after a frame) the command byte alone marks the next frame, as
// every adapter of this protocol is understood that way. Once bytes had to be skipped, the line is
// out of step, and a frame is only taken where its start bytes are there too and its fields make
// sense; otherwise noise holding the command byte would become a message and swallow the real
// frame behind it.
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
    // Drops what is held, for example the start of a frame whose rest never came: the line is
    // out of step until the next frame.
    void clear();
    // Drops what is held and gives back the storage.
    void release();
    std::size_t pending() const { return bytes_.size() - start_; }

private:
    enum class Candidate { Frame, Partial, No };
    // Whether the bytes held from start_ on can be (Partial) or are (Frame) a receive frame.
    Candidate candidate() const;
    void reset();

    std::vector<uint8_t> bytes_;
    std::size_t start_ = 0;  // bytes before this are consumed
    bool inStep_ = true;     // start_ is where the previous frame ended
};

}  // namespace serican
