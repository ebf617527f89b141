#include "file_source.h"

#include <filesystem>
#include <system_error>

namespace imgbuild {

std::unique_ptr<FileSource> FileSource::open(const std::string& path) {
#ifndef _WIN32
    // POSIX opens a folder as a stream that then fails every read; to the user it is
    // as missing as an absent file. Windows refuses to open it in the first place.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return nullptr;
#endif

    std::ifstream stream(path, std::ios::binary);
    if (!stream) return nullptr;
    stream.seekg(0, std::ios::end);
    const std::streamoff end = stream.tellg();
    if (!stream || end < 0) return nullptr;
    return std::unique_ptr<FileSource>(new FileSource(std::move(stream), static_cast<std::uint64_t>(end)));
}

bool FileSource::read(std::uint64_t offset, void* dst, std::size_t n) {
    if (offset > size_ || n > size_ - offset) return false;
    if (n == 0) return true;
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
    stream_.read(static_cast<char*>(dst), static_cast<std::streamsize>(n));
    return stream_.gcount() == static_cast<std::streamsize>(n);
}

}  // namespace imgbuild
