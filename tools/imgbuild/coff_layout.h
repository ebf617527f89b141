#pragma once

#include <cstddef>
#include <cstdint>

// Byte layout of the TI COFF object files the linker writes. Every multi-byte
// field is little-endian.
namespace imgbuild::coff {

constexpr std::size_t kFileHeaderSize = 22;
constexpr std::size_t kSectionHeaderSize = 48;
constexpr std::size_t kSymbolEntrySize = 18;
constexpr std::size_t kSymbolNameSize = 8;

constexpr std::uint16_t kVersionConvertible = 0x00C2;
constexpr std::uint16_t kVersionSymbolsFirst = 0x00C0;
constexpr std::uint16_t kVersionSymbolsLast = 0x00C2;

inline std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

inline std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace imgbuild::coff
