#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "byte_source.h"
#include "coff_headers.h"
#include "result.h"
#include "target_ranges.h"

namespace imgbuild {

// The words of one address range as the controller will see them; words no
// section fills stay 0xFFFF, the value of unprogrammed flash.
struct WordImage {
    AddressRange range;
    std::vector<std::uint16_t> words;  // words[i] holds address range.first + i

    // Words to write: up to the last programmed one, rounded up to whole 32-word
    // blocks; 0 when nothing is programmed.
    std::size_t writtenLength() const;
};

// Lays every page-0, non-empty section lying wholly inside `range` into a fresh
// image. Overlapping sections stop it (SectionOverlap), as do sections whose raw
// data lies outside the file (NoImage).
Result<WordImage> buildWordImage(ByteSource& source, const std::vector<SectionHeader>& sections, AddressRange range);

}  // namespace imgbuild
