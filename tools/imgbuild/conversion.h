#pragma once

#include <optional>
#include <ostream>

#include "byte_source.h"
#include "result.h"
#include "word_image.h"

namespace imgbuild {

struct Conversion {
    WordImage flash;
    std::optional<WordImage> ram;  // only targets with a RAM range
};

// Reads an object file and lays out its images, checking the flash checksum on
// the way; the checksum report goes to `out`. Writes no file.
Result<Conversion> convertObject(ByteSource& source, std::ostream& out);

}  // namespace imgbuild
