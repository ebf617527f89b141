#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

bool speedFor(uint32_t bitsPerSecond, speed_t& speed) {
    static constexpr struct {
        uint32_t bps;
        speed_t code;
    } kSpeeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},    {19200, B19200},
                   {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}};
    for (const auto& s : kSpeeds) {
        if (s.bps == bitsPerSecond) {
            speed = s.code;
            return true;
        }
    }
    return false;
}

// Milliseconds left until deadline, as poll() takes them; -1 waits without end.
int pollTimeout(bool unbounded, Clock::time_point deadline) {
    if (unbounded) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

Clock::time_point deadlineAfter(uint32_t timeoutMs) { return Clock::now() + std::chrono::milliseconds(timeoutMs); }

}  // namespace

struct SerialPort::Impl {
    int fd = -1;
    // A pipe whose read end becomes readable on interrupt(); polled beside the port so that a
    // blocked read wakes at once.
    int wakeRead = -1;
    int wakeWrite = -1;
    std::atomic<bool> interrupted{false};
};

SerialPort::SerialPort() : impl_(new Impl) {}

SerialPort::~SerialPort() {
    close();
    delete impl_;
}

std::string SerialPort::deviceName(unsigned comNumber) {
    if (comNumber == 0) return {};
    const std::string variable = "SERICAN_COM" + std::to_string(comNumber);
    if (const char* mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0') return mapped;
    return "/dev/ttyS" + std::to_string(comNumber - 1);
}

bool SerialPort::open(unsigned comNumber, uint32_t bitsPerSecond) {
    if (impl_->fd >= 0) return true;
    speed_t speed;
    if (!speedFor(bitsPerSecond, speed)) return false;
    const std::string device = deviceName(comNumber);
    if (device.empty()) return false;

    // Non-blocking: a tty without carrier would otherwise block the open itself.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    termios tio{};
    if (!isatty(fd) || tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return false;
    }
    // Best effort, as the Windows port opens without sharing; root is not held back by it.
    ioctl(fd, TIOCEXCL);

    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    int wake[2];
    if (tcsetattr(fd, TCSANOW, &tio) != 0 || pipe(wake) != 0) {
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    for (int end : wake) fcntl(end, F_SETFD, FD_CLOEXEC);
    fcntl(wake[1], F_SETFL, O_NONBLOCK);
    tcflush(fd, TCIOFLUSH);

    impl_->fd = fd;
    impl_->wakeRead = wake[0];
    impl_->wakeWrite = wake[1];
    impl_->interrupted.store(false);
    return true;
}

bool SerialPort::isOpen() const { return impl_->fd >= 0; }

std::size_t SerialPort::write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) {
    if (impl_->fd < 0) return 0;
    const auto deadline = deadlineAfter(timeoutMs);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(impl_->fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;
        pollfd out{impl_->fd, POLLOUT, 0};
        const int ready = poll(&out, 1, pollTimeout(false, deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || (out.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
    }
    return done;
}

SerialPort::ReadResult SerialPort::read(uint8_t* into, std::size_t capacity, uint32_t timeoutMs) {
    if (impl_->fd < 0 || capacity == 0) return {ReadStatus::Failed, 0};
    const bool unbounded = timeoutMs == kInfinite;
    const auto deadline = deadlineAfter(unbounded ? 0 : timeoutMs);
    for (;;) {
        if (impl_->interrupted.load()) return {ReadStatus::Interrupted, 0};
        pollfd fds[2] = {{impl_->fd, POLLIN, 0}, {impl_->wakeRead, POLLIN, 0}};
        const int ready = poll(fds, 2, pollTimeout(unbounded, deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return {ReadStatus::Failed, 0};
        }
        if (fds[1].revents != 0) return {ReadStatus::Interrupted, 0};
        if (ready == 0) return {ReadStatus::Timeout, 0};
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) return {ReadStatus::Failed, 0};
        const ssize_t n = ::read(impl_->fd, into, capacity);
        if (n > 0) return {ReadStatus::Data, static_cast<std::size_t>(n)};
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        // Readable yet nothing to read: the line hung up (a pty whose other side closed answers EIO).
        return {ReadStatus::Failed, 0};
    }
}

void SerialPort::interrupt() {
    impl_->interrupted.store(true);
    if (impl_->wakeWrite >= 0) {
        const char wake = 1;
        // A full pipe already wakes every reader, so a failed write loses nothing.
        [[maybe_unused]] const ssize_t ignored = ::write(impl_->wakeWrite, &wake, 1);
    }
}

void SerialPort::close() {
    if (impl_->fd < 0) return;
    tcflush(impl_->fd, TCIFLUSH);
    ioctl(impl_->fd, TIOCNXCL);
    ::close(impl_->fd);
    ::close(impl_->wakeRead);
    ::close(impl_->wakeWrite);
    impl_->fd = impl_->wakeRead = impl_->wakeWrite = -1;
    impl_->interrupted.store(false);
}

}  // namespace platform
