#pragma once
// A temporary folder for one test, removed with everything in it.
#include <cstdlib>
#include <fstream>
#include <string>

#include <ftw.h>
#include <unistd.h>

namespace orbeltest {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/orbel-params-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        if (!path_.empty())
            ::nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 8,
                   FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name, const std::string& content) const {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace orbeltest
