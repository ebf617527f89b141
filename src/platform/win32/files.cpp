#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

namespace platform {

namespace {

// Host strings are in the ANSI code page; the wide API gets them converted from it.
std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string narrow(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

}  // namespace

TempFileStep writeTempFile(const char* prefix, const uint8_t* data, std::size_t size, std::string& path,
                           std::size_t& written) {
    written = 0;
    path.clear();
    wchar_t folder[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH, folder);
    if (n == 0 || n > MAX_PATH) return TempFileStep::TempFolder;
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(folder, widen(prefix).c_str(), 0, name) == 0) return TempFileStep::UniqueName;
    path = narrow(name);
    HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TempFileStep::Create;
    bool ok = true;
    while (ok && written < size) {
        DWORD chunk = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - written, 1u << 20));
        ok = WriteFile(file, data + written, want, &chunk, nullptr) && chunk > 0;
        written += chunk;
    }
    ok = CloseHandle(file) && ok;
    return ok && written == size ? TempFileStep::Done : TempFileStep::Write;
}

bool removeFile(const std::string& path) {
    return DeleteFileW(widen(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool listFilesEndingIn(const std::string& folder, const std::string& suffix, std::vector<std::string>& names,
                       int& errorCode) {
    names.clear();
    errorCode = 0;
    const std::wstring pattern = widen(folder + "\\*" + suffix);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        errorCode = static_cast<int>(GetLastError());
        return false;
    }
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string name = narrow(found.cFileName);
        // The wildcard also matches short 8.3 names; only names that really end so count.
        if (name.size() < suffix.size()) continue;
        if (!sameFileName(name.substr(name.size() - suffix.size()), suffix)) continue;
        names.push_back(std::move(name));
    } while (FindNextFileW(search, &found));
    const DWORD last = GetLastError();
    FindClose(search);
    if (last != ERROR_NO_MORE_FILES) {
        errorCode = static_cast<int>(last);
        return false;
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) errorCode = ERROR_FILE_NOT_FOUND;
    return !names.empty();
}

bool sameFileName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace platform
