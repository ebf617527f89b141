#include "image_checksum.h"

namespace imgbuild {

std::optional<std::uint16_t> checksumCorrection(const WordImage& flash, std::size_t labelIndex) {
    std::uint16_t sum = 0;
    for (std::uint16_t w : flash.words) sum = static_cast<std::uint16_t>(sum + w);
    if (sum == 0) return std::nullopt;
    return static_cast<std::uint16_t>(sum - flash.words.at(labelIndex));
}

}  // namespace imgbuild
