#include "target_ranges.h"

namespace imgbuild {

std::optional<TargetRanges> rangesForTarget(std::uint16_t targetId) {
    switch (targetId) {
        case 146:  // flash only
            return TargetRanges{{0x000000, 0x007FFF}, std::nullopt};
        case 157: return TargetRanges{{0x3F0000, 0x3F7FFF}, AddressRange{0x8400, 0x8FFF}};
        default: return std::nullopt;
    }
}

}  // namespace imgbuild
