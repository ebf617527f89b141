#include "frame_decoder.h"

#include <algorithm>

#include "serial_frame.h"

namespace serican {

void FrameDecoder::append(const uint8_t* bytes, std::size_t count) {
    if (start_ > 0) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    bytes_.insert(bytes_.end(), bytes, bytes + count);
}

FrameDecoder::Candidate FrameDecoder::candidate() const {
    const std::size_t held = pending();
    const uint8_t* b = bytes_.data() + start_;
    if (held > kCommandOffset && b[kCommandOffset] != kReceiveCommand) return Candidate::No;
    if (!inStep_) {
        // Found only by searching: everything of the frame's head that is there must fit.
        static constexpr uint8_t kMaxFieldValue[7] = {
            kStartByte,
            kSecondByte,
            kReceiveCommand,
            kMaxIdentifier >> 8,
            0xFF,  // identifier, high and low byte
            1,     // rtr
            kMaxDataLength,
        };
        const std::size_t shown = std::min(held, sizeof kMaxFieldValue);
        for (std::size_t i = 0; i < shown; ++i) {
            const bool fits = i < 3 ? b[i] == kMaxFieldValue[i] : b[i] <= kMaxFieldValue[i];
            if (!fits) return Candidate::No;
        }
    }
    return held < kFrameSize ? Candidate::Partial : Candidate::Frame;
}

FrameDecoder::Result FrameDecoder::next(CanMessage& message) {
    Candidate found;
    while ((found = candidate()) == Candidate::No) {
        ++start_;
        inStep_ = false;
    }
    if (pending() == 0) {
        reset();
        return Result::Empty;
    }
    if (found == Candidate::Partial) return Result::Incomplete;
    decodeReceiveFrame(bytes_.data() + start_, message);
    start_ += kFrameSize;
    inStep_ = true;
    if (pending() == 0) reset();
    return Result::Message;
}

void FrameDecoder::reset() {
    bytes_.clear();
    start_ = 0;
}

void FrameDecoder::clear() {
    reset();
    inStep_ = false;
}

void FrameDecoder::release() {
    clear();
    bytes_.shrink_to_fit();
}

}  // namespace serican
