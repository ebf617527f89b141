#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "word_image.h"

namespace imgbuild {

// The firmware checks that its flash words add up to 0 modulo 65536. When they do
// not, returns (sum - word at labelIndex) modulo 65536: negated and stored at the
// label, it makes the sum 0. None when the sum already is 0.
// labelIndex must lie inside the image.
std::optional<std::uint16_t> checksumCorrection(const WordImage& flash, std::size_t labelIndex);

}  // namespace imgbuild
