#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "byte_source.h"

namespace imgbuild {

// An object file on disk, read piecewise. Owns the open stream until destroyed.
class FileSource final : public ByteSource {
public:
    // Null when the path cannot be opened as a regular file.
    static std::unique_ptr<FileSource> open(const std::string& path);

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* dst, std::size_t n) override;

private:
    FileSource(std::ifstream stream, std::uint64_t size) : stream_(std::move(stream)), size_(size) {}

    std::ifstream stream_;
    std::uint64_t size_;
};

}  // namespace imgbuild
