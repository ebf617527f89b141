#pragma once
#include <cstddef>
#include <cstdint>

namespace msim {

// The CRC of SDO block transfers: CRC-16-CCITT, polynomial 0x1021, start value 0.
inline uint16_t blockCrc(const uint8_t* data, std::size_t n, uint16_t crc = 0) {
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

}  // namespace msim
