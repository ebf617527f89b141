#pragma once

#include <cstddef>
#include <string>

#include "word_image.h"

namespace imgbuild {

// Creates or truncates `path` and writes the first `length` words of the image,
// two little-endian bytes each, with nothing before or after them. False when the
// file cannot be written completely; a partly written file is removed again.
bool writeHexFile(const std::string& path, const WordImage& image, std::size_t length);

}  // namespace imgbuild
