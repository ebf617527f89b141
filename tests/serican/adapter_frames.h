#pragma once
// Frames as the adapter sends them, and a check of the frames the host sends, written out
// independently of the driver's encoder.
#include <cstdint>
#include <vector>

#include "common/frame_checksum.h"

namespace serican_test {

inline std::vector<uint8_t> receiveFrame(uint16_t cobId, std::vector<uint8_t> data, uint8_t rtr = 0) {
    std::vector<uint8_t> frame(16, 0);
    frame[0] = 0xAA;
    frame[1] = 0x0F;
    frame[2] = 0x12;
    frame[3] = static_cast<uint8_t>(cobId >> 8);
    frame[4] = static_cast<uint8_t>(cobId);
    frame[5] = rtr;
    frame[6] = static_cast<uint8_t>(data.size());
    for (std::size_t i = 0; i < data.size() && i < 8; ++i) frame[7 + i] = data[i];
    frame[15] = orbel::frameChecksum(frame.data() + 1, 14);
    return frame;
}

inline std::vector<uint8_t> joined(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A ones'-complement checksum makes the end-around-carry sum of the covered bytes and the
// checksum itself come to 0xFF.
inline bool checksumHolds(const std::vector<uint8_t>& frame) {
    unsigned sum = 0;
    for (std::size_t i = 1; i < 16; ++i) {
        sum += frame[i];
        if (sum > 0xFF) sum = (sum & 0xFF) + 1;
    }
    return sum == 0xFF;
}

}  // namespace serican_test
