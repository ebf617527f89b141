#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace msim {

// One classic CAN frame as the adapter carries it: 11-bit identifier, at most 8 data bytes.
struct CanFrame {
    uint16_t id = 0;
    bool rtr = false;
    uint8_t len = 0;
    std::array<uint8_t, 8> data{};

    static CanFrame make(uint16_t id, std::initializer_list<uint8_t> bytes) {
        CanFrame f;
        f.id = id;
        for (uint8_t b : bytes) {
            if (f.len == 8) break;
            f.data[f.len++] = b;
        }
        return f;
    }
};

inline bool operator==(const CanFrame& a, const CanFrame& b) {
    if (a.id != b.id || a.rtr != b.rtr || a.len != b.len) return false;
    for (int i = 0; i < a.len && i < 8; ++i)
        if (a.data[i] != b.data[i]) return false;
    return true;
}

// "70A#7F" / "70A#R": the candump notation, also handy in test failure messages.
std::string toCandumpText(const CanFrame& f);

}  // namespace msim
