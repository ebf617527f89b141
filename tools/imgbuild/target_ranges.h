#pragma once

#include <cstdint>
#include <optional>

namespace imgbuild {

// Inclusive word addresses.
struct AddressRange {
    std::int64_t first;
    std::int64_t last;
    std::int64_t words() const { return last - first + 1; }
};

struct TargetRanges {
    AddressRange flash;
    std::optional<AddressRange> ram;
};

// The memory of the two controller families the tool knows; none for other ids.
std::optional<TargetRanges> rangesForTarget(std::uint16_t targetId);

}  // namespace imgbuild
