#pragma once

#include <filesystem>

namespace imgbuild_test {

// A fresh folder under the system's temporary folder, removed with everything in
// it when the object goes. Tests run in parallel, so each gets its own.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace imgbuild_test
