#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "object_behaviour.h"

namespace msim {

// One entry of the machine's error buffer as the command line gives it.
struct ErrorEntrySpec {
    uint32_t id = 0;
    uint16_t minutes = 0;
    uint8_t counter = 1;
};

// "ID[:MINUTES[:COUNTER]]", numbers decimal or 0x-hex.
std::optional<ErrorEntrySpec> parseErrorEntry(const std::string& text);
// One entry per line in that form; blank lines and lines starting with '#' are skipped.
bool readErrorEntries(const std::string& path, std::vector<ErrorEntrySpec>& out, std::string& error);

// The error buffer, object 0x5300: entries at sub-indices 1..n, each a 16-byte record. The
// entries of the command line replace the model's; an entry written as all zeros is cleared
// (its sub-index no longer exists, so a read of it ends the list).
class ErrorBuffer : public ObjectBehaviour {
public:
    static constexpr uint16_t kIndex = 0x5300;

    ErrorBuffer(NodeControl& node, const std::optional<std::vector<ErrorEntrySpec>>& entries);
    void afterWrite(uint16_t index, uint8_t sub) override;

private:
    void updateCount();

    NodeControl& node_;
};

}  // namespace msim
