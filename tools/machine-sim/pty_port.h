#pragma once
#include <memory>
#include <string>

namespace msim {

// The pseudo-terminal the host opens as its serial port. The twin keeps the master side;
// the slave is left to the host, set to raw 38400 8N1 once so that any host finds it ready.
// Owns its descriptors and the optional link, which it removes when destroyed.
class PtyPort {
public:
    static std::unique_ptr<PtyPort> open(std::string& error);
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    // Makes `path` a symbolic link to the slave. An old symbolic link there is replaced;
    // any other file is left alone and refused.
    bool link(const std::string& path, std::string& error);
    void removeLink();

    int masterFd() const { return master_; }
    // Reports opens of the slave (inotify), or -1 when the system cannot tell.
    int watchFd() const { return watch_; }
    void drainWatch();
    // True when some process holds the slave open.
    bool hostPresent() const;

private:
    PtyPort() = default;

    int master_ = -1;
    int watch_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

}  // namespace msim
