#include "hex_file.h"

#include <cstdio>
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
    if (file.fail()) {
        // A cut-off image must not be mistaken for a good one by a later download.
        std::remove(path.c_str());
        return false;
    }
    return true;
}

}  // namespace imgbuild
