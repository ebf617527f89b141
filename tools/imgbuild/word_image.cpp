#include "word_image.h"

#include <algorithm>

#include "coff_layout.h"
#include "format.h"

namespace imgbuild {
namespace {

constexpr std::size_t kWriteBlockWords = 32;
constexpr std::uint16_t kErased = 0xFFFF;

struct TakenSection {
    std::uint32_t index;  // in the file, from 0
    std::int64_t address;
    std::int64_t size;
    std::uint32_t dataOffset;
};

// Sizes are counted in 64 bits, so a size that would turn the end address
// negative in 32 bits cannot slip a section into the range.
bool liesInside(const SectionHeader& s, AddressRange range) {
    const std::int64_t address = s.virtualAddress;
    const std::int64_t last = address + std::int64_t{s.size} - 1;
    return s.page == 0 && s.size != 0 && address >= range.first && last <= range.last;
}

}  // namespace

std::size_t WordImage::writtenLength() const {
    const auto lastProgrammed =
        std::find_if(words.rbegin(), words.rend(), [](std::uint16_t w) { return w != kErased; });
    if (lastProgrammed == words.rend()) return 0;
    const std::size_t used = static_cast<std::size_t>(words.rend() - lastProgrammed);
    const std::size_t rounded = (used + kWriteBlockWords - 1) / kWriteBlockWords * kWriteBlockWords;
    return std::min(rounded, words.size());
}

Result<WordImage> buildWordImage(ByteSource& source, const std::vector<SectionHeader>& sections, AddressRange range) {
    std::vector<TakenSection> taken;
    for (std::uint32_t i = 0; i < sections.size(); ++i) {
        const SectionHeader& s = sections[i];
        if (liesInside(s, range)) taken.push_back({i, s.virtualAddress, std::int64_t{s.size}, s.dataOffset});
    }
    std::stable_sort(taken.begin(), taken.end(),
                     [](const TakenSection& a, const TakenSection& b) { return a.address < b.address; });
    for (std::size_t i = 1; i < taken.size(); ++i) {
        if (taken[i - 1].address + taken[i - 1].size > taken[i].address)
            return Failure{ExitStatus::SectionOverlap, "Section overlap in out file, cannot continue\n"};
    }

    WordImage image{range, std::vector<std::uint16_t>(static_cast<std::size_t>(range.words()), kErased)};
    // A taken section is never larger than the range, so this buffer stays small.
    std::vector<unsigned char> raw;
    for (const TakenSection& s : taken) {
        raw.resize(static_cast<std::size_t>(s.size) * 2);
        if (!source.read(s.dataOffset, raw.data(), raw.size()))
            return Failure{ExitStatus::NoImage, format("Section %u: raw data reaches beyond the end of the file\n",
                                                       static_cast<unsigned>(s.index + 1))};
        const std::size_t base = static_cast<std::size_t>(s.address - range.first);
        for (std::size_t w = 0; w < static_cast<std::size_t>(s.size); ++w)
            image.words[base + w] = coff::le16(&raw[2 * w]);
    }
    return image;
}

}  // namespace imgbuild
