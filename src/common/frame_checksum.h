#pragma once
#include <cstddef>
#include <cstdint>

namespace orbel {

// Ones' complement of the end-around-carry 8-bit sum, applied to a sum already taken.
// Unsigned wrap-around keeps the final "mod 256" exact even when the difference is negative.
inline uint8_t frameChecksumOfSum(uint32_t sum) {
    const uint32_t folded = (sum % 256u) + (sum / 256u);
    return static_cast<uint8_t>((255u - (folded % 256u) - (folded / 256u)) % 256u);
}

// The checksum that closes the legacy answer packages and the serial CAN adapter's
// frames alike.
inline uint8_t frameChecksum(const uint8_t* bytes, std::size_t count) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    return frameChecksumOfSum(sum);
}

}  // namespace orbel
