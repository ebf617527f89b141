#pragma once

#include <cstddef>
#include <string>

#include "word_image.h"

namespace imgbuild {

// Creates or truncates `path` and writes the first `length` words of the image,
// two little-endian bytes each, with nothing before or after them. False when the
// file cannot be written completely.
bool writeHexFile(const std::string& path, const WordImage& image, std::size_t length);

}  // namespace imgbuild
