#pragma once
// Files of the download handler: temporary files for curve data and the image files of a folder.
// Paths are the host's narrow strings: UTF-8 on POSIX systems, the ANSI code page on Windows
// (converted for the wide file API there).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Where creating a temporary file stopped.
enum class TempFileStep { Done, TempFolder, UniqueName, Create, Write };

// Creates a new, uniquely named file in the system's temporary folder (Windows: GetTempPathW and
// GetTempFileNameW with the prefix; elsewhere mkstemp in $TMPDIR, else /tmp) and writes `size`
// bytes into it. `path` names the file whenever it was created, also when the write failed.
TempFileStep writeTempFile(const char* prefix, const uint8_t* data, std::size_t size, std::string& path,
                           std::size_t& written);

// Removes a file; false when it could not be removed (a missing file counts as removed).
bool removeFile(const std::string& path);

// Separator of the native paths.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Names of the plain files in `folder` whose names end in `suffix`, in name order (folders are
// left out). False, with the system's error code, when the folder cannot be read or nothing
// matches (then the code is the "no such file" code of the system).
bool listFilesEndingIn(const std::string& folder, const std::string& suffix, std::vector<std::string>& names,
                       int& errorCode);

// True when two names in one folder name the same file (case-blind on Windows).
bool sameFileName(const std::string& a, const std::string& b);

}  // namespace platform
