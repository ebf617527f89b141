#pragma once

// Builds TI COFF object files for the tests, straight from the published layout
// (file header 22 bytes, section headers 48, symbol entries 18, string table after
// the symbols). Deliberately shares nothing with the tool's reader.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace imgbuild_test {

using Bytes = std::vector<std::uint8_t>;

struct CoffSection {
    CoffSection(std::int32_t addr, std::vector<std::uint16_t> content) : address(addr), words(std::move(content)) {}

    std::int32_t address = 0;  // in words
    std::vector<std::uint16_t> words;
    std::uint16_t page = 0;
    std::optional<std::uint32_t> declaredSize;        // instead of words.size()
    std::optional<std::uint32_t> declaredDataOffset;  // instead of where the words went
};

struct CoffSymbol {
    CoffSymbol(std::string symbolName, std::uint32_t symbolValue, std::vector<Bytes> auxEntries = {},
               bool inStringTable = false)
        : name(std::move(symbolName)),
          value(symbolValue),
          aux(std::move(auxEntries)),
          forceStringTable(inStringTable) {}

    std::string name;  // up to 8 characters inline, longer ones in the string table
    std::uint32_t value = 0;
    std::vector<Bytes> aux;  // auxiliary entries, each padded to 18 bytes
    bool forceStringTable = false;
};

struct CoffContents {
    std::uint16_t version = 0x00C2;
    std::uint16_t targetId = 157;
    std::uint16_t optionalHeaderSize = 0;
    std::vector<CoffSection> sections;
    std::vector<CoffSymbol> symbols;
};

struct CoffFile {
    Bytes bytes;
    std::size_t sectionHeaderOffset = 0;  // of the first section header
    std::size_t symbolTableOffset = 0;
    std::size_t stringTableOffset = 0;
    std::vector<std::size_t> nameOffsets;  // string-table offset per symbol, 0 for inline names
};

// Field offsets, for tests that corrupt a file.
namespace field {
constexpr std::size_t kVersion = 0, kSectionCount = 2, kSymbolTableOffset = 8, kSymbolCount = 12,
                      kOptionalHeaderSize = 16, kTargetId = 20;
constexpr std::size_t kSectionAddress = 12, kSectionSize = 16, kSectionDataOffset = 20, kSectionPage = 46;
constexpr std::size_t kSectionHeaderSize = 48, kSymbolSize = 18;
}  // namespace field

CoffFile writeCoff(const CoffContents& obj);

void put16(Bytes& bytes, std::size_t offset, std::uint16_t value);
void put32(Bytes& bytes, std::size_t offset, std::uint32_t value);

// Words as the file stores them: two bytes each, low byte first.
Bytes littleEndianWords(const std::vector<std::uint16_t>& words);

}  // namespace imgbuild_test
