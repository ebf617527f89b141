#include "pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace msim {

std::unique_ptr<PtyPort> PtyPort::open(std::string& error) {
    std::unique_ptr<PtyPort> p(new PtyPort);
    p->master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p->master_ < 0 || ::grantpt(p->master_) != 0 || ::unlockpt(p->master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    char name[PATH_MAX];
    if (::ptsname_r(p->master_, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    p->slavePath_ = name;
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = "cannot open " + p->slavePath_ + ": " + std::strerror(errno);
        return nullptr;
    }
    termios t{};
    if (::tcgetattr(slave, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B38400);
        ::cfsetospeed(&t, B38400);
        t.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(slave, TCSANOW, &t);
    }
    // Watch before letting go of the slave, so that no open by the host can slip between.
    p->watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (p->watch_ >= 0 && ::inotify_add_watch(p->watch_, name, IN_OPEN) < 0) {
        ::close(p->watch_);
        p->watch_ = -1;
    }
    ::close(slave);
    return p;
}

PtyPort::~PtyPort() {
    removeLink();
    if (watch_ >= 0) ::close(watch_);
    if (master_ >= 0) ::close(master_);
}

bool PtyPort::link(const std::string& path, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        ::unlink(path.c_str());
    }
    if (::symlink(slavePath_.c_str(), path.c_str()) != 0) {
        error = "cannot link " + path + ": " + std::strerror(errno);
        return false;
    }
    linkPath_ = path;
    return true;
}

void PtyPort::removeLink() {
    if (linkPath_.empty()) return;
    // Only our own link: another twin may have taken the name over since.
    char target[PATH_MAX];
    const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        if (slavePath_ == target) ::unlink(linkPath_.c_str());
    }
    linkPath_.clear();
}

void PtyPort::drainWatch() {
    if (watch_ < 0) return;
    alignas(inotify_event) char buf[4096];
    while (::read(watch_, buf, sizeof buf) > 0) {
    }
}

bool PtyPort::hostPresent() const {
    pollfd p{master_, 0, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    return (p.revents & POLLHUP) == 0;
}

}  // namespace msim
