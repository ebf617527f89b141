#pragma once

#include <cstdint>
#include <vector>

#include "byte_source.h"
#include "result.h"

namespace imgbuild {

struct FileHeader {
    std::uint16_t version = 0;
    std::uint16_t sectionCount = 0;
    std::uint32_t symbolTableOffset = 0;
    std::uint32_t symbolCount = 0;
    std::uint16_t optionalHeaderSize = 0;
    std::uint16_t targetId = 0;

    std::uint64_t sectionHeadersOffset() const;
    std::uint64_t sectionHeadersEnd() const;
};

struct SectionHeader {
    std::int32_t virtualAddress = 0;  // in words; the linker stores it signed
    std::uint32_t size = 0;           // in words
    std::uint32_t dataOffset = 0;
    std::uint16_t page = 0;
};

Result<FileHeader> readFileHeader(ByteSource& source);

// All section headers; a table that runs past the end of the file is refused.
Result<std::vector<SectionHeader>> readSectionHeaders(ByteSource& source, const FileHeader& header);

}  // namespace imgbuild
