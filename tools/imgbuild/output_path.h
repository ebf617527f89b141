#pragma once

#include <string>

namespace imgbuild {

// The ".hex" path beside the object file: its file name cut before the first
// point, so fw.v2.out gives fw.hex. Points in folder names are kept
// (../out/fw.out gives ../out/fw.hex). Both '/' and '\' separate folders.
std::string hexPathFor(const std::string& objectPath);

}  // namespace imgbuild
