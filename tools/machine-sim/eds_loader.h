#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

#include "object_dictionary.h"

namespace msim {

// A malformed EDS file: what() reads "<file>:<line>: <problem>".
class EdsError : public std::runtime_error {
public:
    EdsError(const std::string& file, int line, const std::string& problem);
    int line() const { return line_; }

private:
    int line_;
};

struct EdsInfo {
    std::string productName;  // [DeviceInfo] ProductName, for the log
    std::size_t objectCount = 0;
};

// Reads a CiA 306 electronic data sheet into an object dictionary. $NODEID in default values
// is replaced by `nodeId`. Throws EdsError on any fault it finds; it does not guess.
ObjectDictionary loadEds(const std::string& path, uint8_t nodeId, EdsInfo* info = nullptr);
// The same from text already in memory; `name` is used in error messages.
ObjectDictionary parseEds(const std::string& text, const std::string& name, uint8_t nodeId, EdsInfo* info = nullptr);

}  // namespace msim
