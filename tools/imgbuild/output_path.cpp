#include "output_path.h"

namespace imgbuild {

std::string hexPathFor(const std::string& objectPath) {
    const std::size_t separator = objectPath.find_last_of("/\\");
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    const std::size_t point = objectPath.find('.', nameStart);
    return objectPath.substr(0, point) + ".hex";
}

}  // namespace imgbuild
