#include "hex_file.h"

#include <fstream>
#include <vector>

namespace imgbuild {

bool writeHexFile(const std::string& path, const WordImage& image, std::size_t length) {
  std::vector<char> bytes;
  bytes.reserve(length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    bytes.push_back(static_cast<char>(image.words[i] & 0xFF));
    bytes.push_back(static_cast<char>(image.words[i] >> 8));
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return !file.fail();
}

}  // namespace imgbuild
