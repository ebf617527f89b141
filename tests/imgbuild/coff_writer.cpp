#include "coff_writer.h"

#include <algorithm>

namespace imgbuild_test {

void put16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    put16(bytes, offset, static_cast<std::uint16_t>(value));
    put16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

Bytes littleEndianWords(const std::vector<std::uint16_t>& words) {
    Bytes bytes;
    for (std::uint16_t w : words) {
        bytes.push_back(static_cast<std::uint8_t>(w & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    return bytes;
}

CoffFile writeCoff(const CoffContents& obj) {
    CoffFile file;
    Bytes& out = file.bytes;

    out.resize(22 + obj.optionalHeaderSize);
    put16(out, field::kVersion, obj.version);
    put16(out, field::kSectionCount, static_cast<std::uint16_t>(obj.sections.size()));
    put16(out, field::kOptionalHeaderSize, obj.optionalHeaderSize);
    put16(out, field::kTargetId, obj.targetId);

    file.sectionHeaderOffset = out.size();
    out.resize(out.size() + field::kSectionHeaderSize * obj.sections.size());
    for (std::size_t i = 0; i < obj.sections.size(); ++i) {
        const CoffSection& s = obj.sections[i];
        const std::size_t header = file.sectionHeaderOffset + i * field::kSectionHeaderSize;
        const Bytes data = littleEndianWords(s.words);
        const std::size_t dataOffset = out.size();
        out.insert(out.end(), data.begin(), data.end());
        std::copy_n(".text\0\0\0", 8, out.begin() + static_cast<std::ptrdiff_t>(header));
        put32(out, header + field::kSectionAddress, static_cast<std::uint32_t>(s.address));
        put32(out, header + field::kSectionSize, s.declaredSize.value_or(static_cast<std::uint32_t>(s.words.size())));
        put32(out, header + field::kSectionDataOffset,
              s.declaredDataOffset.value_or(static_cast<std::uint32_t>(dataOffset)));
        put16(out, header + field::kSectionPage, s.page);
    }

    Bytes strings(4, 0);  // the table starts with its own length
    file.symbolTableOffset = out.size();
    std::uint32_t entries = 0;
    for (const CoffSymbol& sym : obj.symbols) {
        Bytes entry(field::kSymbolSize, 0);
        if (sym.name.size() <= 8 && !sym.forceStringTable) {
            std::copy(sym.name.begin(), sym.name.end(), entry.begin());
            file.nameOffsets.push_back(0);
        } else {
            put32(entry, 4, static_cast<std::uint32_t>(strings.size()));
            file.nameOffsets.push_back(strings.size());
            strings.insert(strings.end(), sym.name.begin(), sym.name.end());
            strings.push_back(0);
        }
        put32(entry, 8, sym.value);
        entry[17] = static_cast<std::uint8_t>(sym.aux.size());
        out.insert(out.end(), entry.begin(), entry.end());
        for (Bytes aux : sym.aux) {
            aux.resize(field::kSymbolSize, 0);
            out.insert(out.end(), aux.begin(), aux.end());
        }
        entries += 1 + static_cast<std::uint32_t>(sym.aux.size());
    }
    put32(strings, 0, static_cast<std::uint32_t>(strings.size()));
    file.stringTableOffset = out.size();
    out.insert(out.end(), strings.begin(), strings.end());

    put32(out, field::kSymbolTableOffset, static_cast<std::uint32_t>(file.symbolTableOffset));
    put32(out, field::kSymbolCount, entries);
    return file;
}

}  // namespace imgbuild_test
