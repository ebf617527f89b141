#include "coff_headers.h"

#include "coff_layout.h"

namespace imgbuild {

std::uint64_t FileHeader::sectionHeadersOffset() const { return coff::kFileHeaderSize + optionalHeaderSize; }

std::uint64_t FileHeader::sectionHeadersEnd() const {
    return sectionHeadersOffset() + std::uint64_t{sectionCount} * coff::kSectionHeaderSize;
}

Result<FileHeader> readFileHeader(ByteSource& source) {
    unsigned char raw[coff::kFileHeaderSize];
    if (!source.read(0, raw, sizeof raw))
        return Failure{ExitStatus::NoImage, "File too short for an object file header\n"};
    FileHeader h;
    h.version = coff::le16(raw + 0);
    h.sectionCount = coff::le16(raw + 2);
    h.symbolTableOffset = coff::le32(raw + 8);
    h.symbolCount = coff::le32(raw + 12);
    h.optionalHeaderSize = coff::le16(raw + 16);
    h.targetId = coff::le16(raw + 20);
    return h;
}

Result<std::vector<SectionHeader>> readSectionHeaders(ByteSource& source, const FileHeader& header) {
    if (header.sectionHeadersEnd() > source.size())
        return Failure{ExitStatus::NoImage, "Section headers reach beyond the end of the file\n"};

    std::vector<SectionHeader> sections;
    sections.reserve(header.sectionCount);
    for (std::uint32_t i = 0; i < header.sectionCount; ++i) {
        unsigned char raw[coff::kSectionHeaderSize];
        if (!source.read(header.sectionHeadersOffset() + std::uint64_t{i} * sizeof raw, raw, sizeof raw))
            return Failure{ExitStatus::NoImage, "Read error in the section headers\n"};
        SectionHeader s;
        s.virtualAddress = static_cast<std::int32_t>(coff::le32(raw + 12));
        s.size = coff::le32(raw + 16);
        s.dataOffset = coff::le32(raw + 20);
        s.page = coff::le16(raw + 46);
        sections.push_back(s);
    }
    return sections;
}

}  // namespace imgbuild
