#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "byte_source.h"
#include "coff_headers.h"
#include "result.h"

namespace imgbuild {

// The value of the last symbol called `name` (exact, case-sensitive), or none when
// no symbol has that name or the file's version carries no symbols we can read.
// Broken tables (outside the file, overlapping the headers, name offsets outside
// the string table, names without their NUL) are refused.
Result<std::optional<std::uint32_t>> findSymbolValue(ByteSource& source, const FileHeader& header,
                                                     std::string_view name);

}  // namespace imgbuild
