#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace imgbuild {

// The whole tool: `args` are the command-line arguments after the program name,
// every message goes to `out`. Returns the process exit status.
int runImgbuild(const std::vector<std::string>& args, std::ostream& out);

}  // namespace imgbuild
