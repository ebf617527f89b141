#include "byte_source.h"

#include <cstring>

namespace imgbuild {

bool MemorySource::read(std::uint64_t offset, void* dst, std::size_t n) {
    if (offset > size_ || n > size_ - offset) return false;
    if (n != 0) std::memcpy(dst, data_ + offset, n);
    return true;
}

}  // namespace imgbuild
