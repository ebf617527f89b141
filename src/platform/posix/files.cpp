#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace platform {

TempFileStep writeTempFile(const char* prefix, const uint8_t* data, std::size_t size, std::string& path,
                           std::size_t& written) {
    written = 0;
    path.clear();
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return TempFileStep::TempFolder;
    std::string pattern = folder + "/" + prefix + "XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return errno == EEXIST ? TempFileStep::UniqueName : TempFileStep::Create;
    path = pattern;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    const bool closed = ::close(fd) == 0;
    return written == size && closed ? TempFileStep::Done : TempFileStep::Write;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

bool listFilesEndingIn(const std::string& folder, const std::string& suffix, std::vector<std::string>& names,
                       int& errorCode) {
    names.clear();
    errorCode = 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        errorCode = errno;
        return false;
    }
    for (;;) {
        errno = 0;  // readdir tells the end from an error only through errno
        const dirent* entry = ::readdir(dir);
        if (!entry) break;
        const std::string name = entry->d_name;
        if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        struct stat st {};
        if (::stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        names.push_back(name);
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        errorCode = readError;
        return false;
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) errorCode = ENOENT;
    return !names.empty();
}

bool sameFileName(const std::string& a, const std::string& b) { return a == b; }

}  // namespace platform
