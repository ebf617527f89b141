// Feeds arbitrary bytes to the object-file reader and image builder, the part of
// imgbuild that trusts nothing it reads.

#include <cstddef>
#include <cstdint>
#include <sstream>

#include "byte_source.h"
#include "conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    imgbuild::MemorySource source(data, size);
    std::ostringstream messages;
    const auto conversion = imgbuild::convertObject(source, messages);
    if (conversion) {
        // Lengths must stay inside the images they measure.
        const auto& c = conversion.value();
        if (c.flash.writtenLength() > c.flash.words.size()) __builtin_trap();
        if (c.ram && c.ram->writtenLength() > c.ram->words.size()) __builtin_trap();
    } else if (conversion.failure().message.empty()) {
        __builtin_trap();  // every refusal must say why
    }
    return 0;
}
