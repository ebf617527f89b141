#pragma once
#include <stdexcept>

namespace serican {

// Why an adapter could not be opened. It never leaves the library: canOpen_driver turns it into a
// null handle.
class error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace serican
