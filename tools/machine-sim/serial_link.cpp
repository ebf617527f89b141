#include "serial_link.h"

#include <algorithm>
#include <cstdio>

#include "common/frame_checksum.h"

namespace msim {

namespace {

SerialFrame encode(uint8_t kind, const CanFrame& frame) {
    SerialFrame out{};
    out[1] = 0x0F;
    out[2] = kind;
    out[3] = static_cast<uint8_t>(frame.id >> 8);
    out[4] = static_cast<uint8_t>(frame.id & 0xFF);
    out[5] = frame.rtr ? 1 : 0;
    out[6] = frame.len;
    for (int i = 0; i < 8 && i < frame.len; ++i) out[7 + i] = frame.data[i];
    // The start byte counts as 0 in the sum: the checksum covers bytes 1 to 14.
    out[15] = orbel::frameChecksum(out.data(), 15);
    out[0] = 0xAA;
    return out;
}

std::string hexBytes(const uint8_t* p, std::size_t n) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

}  // namespace

SerialFrame encodeReceiveFrame(const CanFrame& frame) { return encode(kKindAdapterReceive, frame); }
SerialFrame encodeHostSendFrame(const CanFrame& frame) { return encode(kKindHostSend, frame); }
SerialFrame encodeHostCloseFrame() { return encode(kKindHostClose, CanFrame{}); }

void HostFrameDecoder::feed(const uint8_t* bytes, std::size_t count, std::vector<Event>& out) {
    buf_.insert(buf_.end(), bytes, bytes + count);
    std::size_t pos = 0;
    std::size_t skipped = 0;
    std::string problem;
    auto flushGarbage = [&] {
        if (skipped == 0) return;
        Event e{Event::Kind::Garbage, {}, problem.empty() ? "no frame start" : problem, skipped};
        out.push_back(std::move(e));
        skipped = 0;
        problem.clear();
    };
    while (buf_.size() - pos >= 2) {
        const uint8_t* p = buf_.data() + pos;
        if (p[0] != 0xAA || p[1] != 0x0F) {
            ++pos;
            ++skipped;
            continue;
        }
        if (buf_.size() - pos < kSerialFrameSize) break;
        const uint8_t kind = p[2];
        const uint8_t sum = orbel::frameChecksumOfSum([&] {
            unsigned s = 0;
            for (int i = 1; i < 15; ++i) s += p[i];
            return s;
        }());
        if (kind != kKindHostSend && kind != kKindHostClose) {
            if (problem.empty()) problem = "frame kind " + hexBytes(p + 2, 1) + " unknown in " + hexBytes(p, 16);
        } else if (sum != p[15]) {
            if (problem.empty()) problem = "checksum mismatch in " + hexBytes(p, 16);
        } else {
            flushGarbage();
            Event e{kind == kKindHostSend ? Event::Kind::Send : Event::Kind::Close, {}, {}, 0};
            if (kind == kKindHostSend) {
                e.frame.id = static_cast<uint16_t>(((p[3] << 8) | p[4]) & 0x7FF);
                e.frame.rtr = p[5] != 0;
                // A length above 8 still carries only 8 data bytes (classic CAN).
                e.frame.len = std::min<uint8_t>(p[6], 8);
                std::copy(p + 7, p + 7 + e.frame.len, e.frame.data.begin());
                if (p[6] > 8) e.problem = "length " + std::to_string(p[6]) + " cut to 8";
                if (((p[3] << 8) | p[4]) > 0x7FF) e.problem = "identifier above 0x7FF masked";
            }
            out.push_back(std::move(e));
            pos += kSerialFrameSize;
            continue;
        }
        // Not a valid frame: step over the start byte and hunt again.
        ++pos;
        ++skipped;
    }
    // A lone trailing byte that cannot start a frame is garbage too.
    if (buf_.size() - pos == 1 && buf_[pos] != 0xAA) {
        ++pos;
        ++skipped;
    }
    flushGarbage();
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos));
}

std::string toCandumpText(const CanFrame& f) {
    char b[8];
    std::snprintf(b, sizeof b, "%03X#", f.id & 0x7FF);
    std::string s = b;
    if (f.rtr) return s + "R";
    for (int i = 0; i < f.len && i < 8; ++i) {
        std::snprintf(b, sizeof b, "%02X", f.data[i]);
        s += b;
    }
    return s;
}

}  // namespace msim
