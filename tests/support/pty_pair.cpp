#include "pty_pair.h"

#if !defined(_WIN32)

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char* what) { throw std::runtime_error(std::string("pty: ") + what); }

}  // namespace

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) fail("posix_openpt");
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        ::close(master_);
        fail("grantpt/unlockpt/ptsname");
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        ::close(master_);
        fail("open slave");
    }
    // Raw from the start, so that nothing written before the code under test sets the line up is
    // echoed back or translated.
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
    if (slave_ >= 0) ::close(slave_);
    closeMaster();
}

void PtyPair::write(const std::vector<uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("write to master");
        done += static_cast<std::size_t>(n);
    }
}

std::vector<uint8_t> PtyPair::read(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> got;
    const auto deadline = Clock::now() + timeout;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd in{master_, POLLIN, 0};
        if (poll(&in, 1, static_cast<int>(left)) <= 0) continue;
        uint8_t chunk[256];
        const std::size_t want = std::min(sizeof chunk, count - got.size());
        const ssize_t n = ::read(master_, chunk, want);
        if (n > 0)
            got.insert(got.end(), chunk, chunk + n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    return got;
}

std::size_t PtyPair::unreadBySlave() const {
    int queued = 0;
    if (ioctl(slave_, TIOCINQ, &queued) != 0) return 0;
    return static_cast<std::size_t>(queued);
}

bool PtyPair::waitForSlaveQueue(std::size_t count, std::chrono::milliseconds timeout) const {
    // The queue length has no event to wait on; a millisecond's nap between looks is enough here.
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t queued = unreadBySlave();
        if (count == 0 ? queued == 0 : queued >= count) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void PtyPair::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

}  // namespace testsupport

#endif  // !_WIN32
