#include "frame_decoder.h"

#include "serial_frame.h"

namespace serican {

void FrameDecoder::append(const uint8_t* bytes, std::size_t count) {
    if (start_ > 0) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    bytes_.insert(bytes_.end(), bytes, bytes + count);
}

FrameDecoder::Result FrameDecoder::next(CanMessage& message) {
    // A frame is recognised by its command byte; until that byte is there, what we hold may still
    // be the start of one.
    while (pending() > kCommandOffset && bytes_[start_ + kCommandOffset] != kReceiveCommand) ++start_;
    if (pending() == 0) {
        clear();
        return Result::Empty;
    }
    if (pending() < kFrameSize) return Result::Incomplete;
    decodeReceiveFrame(bytes_.data() + start_, message);
    start_ += kFrameSize;
    if (pending() == 0) clear();
    return Result::Message;
}

void FrameDecoder::clear() {
    bytes_.clear();
    start_ = 0;
}

}  // namespace serican
