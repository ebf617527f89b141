#include "symbol_table.h"

#include <cstring>
#include <vector>

#include "coff_layout.h"
#include "format.h"

namespace imgbuild {
namespace {

Failure broken(std::string message) { return Failure{ExitStatus::NoImage, std::move(message)}; }

}  // namespace

Result<std::optional<std::uint32_t>> findSymbolValue(ByteSource& source, const FileHeader& header,
                                                     std::string_view name) {
    std::optional<std::uint32_t> found;
    if (header.version < coff::kVersionSymbolsFirst || header.version > coff::kVersionSymbolsLast) return found;
    if (header.symbolCount == 0) return found;

    const std::uint64_t tableStart = header.symbolTableOffset;
    const std::uint64_t tableEnd = tableStart + std::uint64_t{header.symbolCount} * coff::kSymbolEntrySize;
    if (tableStart < header.sectionHeadersEnd()) return broken("Symbol table overlaps the file and section headers\n");
    if (tableEnd > source.size()) return broken("Symbol table reaches beyond the end of the file\n");

    // Both tables together are never larger than the file, whatever the header claims.
    std::vector<unsigned char> symbols(static_cast<std::size_t>(tableEnd - tableStart));
    std::vector<unsigned char> strings(static_cast<std::size_t>(source.size() - tableEnd));
    if (!source.read(tableStart, symbols.data(), symbols.size()) ||
        !source.read(tableEnd, strings.data(), strings.size()))
        return broken("Read error in the symbol table\n");

    for (std::uint64_t i = 0; i < header.symbolCount;) {
        const unsigned char* entry = symbols.data() + i * coff::kSymbolEntrySize;
        std::string_view symbolName;
        if (coff::le32(entry) != 0) {
            // An inline name fills all 8 bytes without a NUL when it is 8 long.
            const void* nul = std::memchr(entry, 0, coff::kSymbolNameSize);
            const std::size_t length =
                nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - entry) : coff::kSymbolNameSize;
            symbolName = std::string_view(reinterpret_cast<const char*>(entry), length);
        } else {
            const std::uint32_t offset = coff::le32(entry + 4);
            if (offset >= strings.size())
                return broken(format("Symbol %u: name offset 0x%X lies outside the string table\n",
                                     static_cast<unsigned>(i), static_cast<unsigned>(offset)));
            const unsigned char* start = strings.data() + offset;
            const void* nul = std::memchr(start, 0, strings.size() - offset);
            if (!nul)
                return broken(
                    format("Symbol %u: name in the string table has no terminating NUL\n", static_cast<unsigned>(i)));
            symbolName = std::string_view(reinterpret_cast<const char*>(start),
                                          static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - start));
        }
        if (symbolName == name) found = coff::le32(entry + 8);
        i += 1 + std::uint64_t{entry[17]};
    }
    return found;
}

}  // namespace imgbuild
