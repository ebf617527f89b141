// Feeds any text to machine-sim's EDS reader. A malformed file must end in EdsError (with its
// line); any other exception (it would end machine-sim without saying where), a crash or a hang
// is a fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "eds_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the node id that $NODEID stands for.
    const uint8_t nodeId = static_cast<uint8_t>(1 + data[0] % 127);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        msim::EdsInfo info;
        msim::parseEds(text, "fuzz.eds", nodeId, &info);
    } catch (const msim::EdsError&) {
    }
    return 0;
}
