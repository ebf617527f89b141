#pragma once

#include <cstddef>
#include <cstdint>

namespace imgbuild {

// Random access to the bytes of an object file. The reader asks only for ranges it
// has checked against size(), so it never allocates more than the file holds.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills dst with n bytes from offset; false when they cannot all be read.
    virtual bool read(std::uint64_t offset, void* dst, std::size_t n) = 0;
};

// Bytes already in memory (tests, fuzzing). Borrows the buffer.
class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* dst, std::size_t n) override;

private:
    const unsigned char* data_;
    std::size_t size_;
};

}  // namespace imgbuild
