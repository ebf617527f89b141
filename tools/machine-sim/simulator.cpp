#include "simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "adapter.h"
#include "candump_writer.h"
#include "machine_node.h"
#include "pty_port.h"
#include "sim_record.h"

namespace msim {

namespace {

// A descriptor owned for the length of the run.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

timespec toTimespec(Time t) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    return ts;
}

}  // namespace

int runSimulator(const SimConfig& config, ObjectDictionary od, const EdsInfo& info, Log& log, std::FILE* pathOut) {
    // Signals arrive as readable data, so the loop ends at once without racing a handler.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &sigs, nullptr) != 0) {
        log.warn("cannot block signals: %s", std::strerror(errno));
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    Fd signals(::signalfd(-1, &sigs, SFD_CLOEXEC | SFD_NONBLOCK));
    Fd timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    if (signals.fd < 0 || timer.fd < 0) {
        log.warn("cannot set up signal or timer descriptors: %s", std::strerror(errno));
        return 1;
    }

    std::string error;
    std::unique_ptr<PtyPort> pty = PtyPort::open(error);
    if (!pty) {
        log.warn("%s", error.c_str());
        return 1;
    }
    if (!config.linkPath.empty() && !pty->link(config.linkPath, error)) {
        log.warn("%s", error.c_str());
        return 1;
    }

    std::FILE* candumpFile = nullptr;
    std::unique_ptr<CandumpWriter> candump;
    const Time start = Clock::now();
    if (!config.candumpPath.empty()) {
        candumpFile = config.candumpPath == "-" ? stdout : std::fopen(config.candumpPath.c_str(), "w");
        if (!candumpFile) {
            log.warn("cannot write %s: %s", config.candumpPath.c_str(), std::strerror(errno));
            return 1;
        }
        candump = std::make_unique<CandumpWriter>(candumpFile, config.canInterface, start);
    }

    SimRecord record(start);
    AdapterConfig ac = config.adapter;
    ac.answerId = static_cast<uint16_t>(0x580 + config.node.nodeId);
    Adapter adapter(ac, record, log, candump.get(), start);
    MachineNode node(std::move(od), config.node, record, log,
                     [&adapter](const CanFrame& f, Time t) { adapter.fromBus(f, t); });
    adapter.setBus([&node](const CanFrame& f, Time t) { node.onFrame(f, t); });

    std::fprintf(pathOut, "%s\n", pty->slavePath().c_str());
    std::fflush(pathOut);
    log.info("node %u (%s, %zu objects) on %s%s%s", config.node.nodeId,
             info.productName.empty() ? config.edsPath.c_str() : info.productName.c_str(), info.objectCount,
             pty->slavePath().c_str(), config.linkPath.empty() ? "" : " linked as ", config.linkPath.c_str());
    node.powerOn(start);

    const std::optional<Time> endAt =
        config.runFor.count() > 0 ? std::optional<Time>(start + config.runFor) : std::nullopt;
    const int master = pty->masterFd();
    bool hostPresent = pty->hostPresent();
    adapter.setHostPresent(hostPresent, start);
    bool running = true;
    int exitCode = 0;
    std::vector<uint8_t> buf(4096);

    while (running) {
        Time now = Clock::now();
        adapter.advance(now);
        node.advance(now);
        adapter.advance(now);
        if (endAt && now >= *endAt) break;

        // Hand the host what the line has delivered.
        while (hostPresent && !adapter.output().empty()) {
            const auto& out = adapter.output();
            const ssize_t n = ::write(master, out.data(), out.size());
            if (n > 0) {
                adapter.consumed(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EIO) {
                hostPresent = false;
                adapter.setHostPresent(false, now);
            }
            break;  // EAGAIN: wait for POLLOUT
        }

        std::optional<Time> deadline = earliest(adapter.nextDeadline(), node.nextDeadline());
        deadline = earliest(deadline, endAt);
        itimerspec its{};
        if (deadline) {
            if (*deadline <= now) continue;
            its.it_value = toTimespec(*deadline);
        }
        ::timerfd_settime(timer.fd, TFD_TIMER_ABSTIME, &its, nullptr);

        pollfd fds[4] = {{signals.fd, POLLIN, 0}, {timer.fd, POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
        if (hostPresent) {
            fds[2].fd = master;
            fds[2].events =
                static_cast<short>((adapter.wantsInput() ? POLLIN : 0) | (adapter.output().empty() ? 0 : POLLOUT));
        } else {
            fds[3].fd = pty->watchFd();
            fds[3].events = POLLIN;
        }
        // Without inotify, look for the host again every quarter second while it is away.
        const int timeout = (!hostPresent && pty->watchFd() < 0) ? 250 : -1;
        const int r = ::poll(fds, 4, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            log.warn("poll failed: %s", std::strerror(errno));
            exitCode = 1;
            break;
        }
        now = Clock::now();
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo si{};
            if (::read(signals.fd, &si, sizeof si) > 0)
                log.info("%s received, stopping", strsignal(static_cast<int>(si.ssi_signo)));
            break;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t expirations;
            while (::read(timer.fd, &expirations, sizeof expirations) > 0) {
            }
        }
        if (hostPresent && fds[2].revents) {
            if (fds[2].revents & POLLIN) {
                for (;;) {
                    const ssize_t n = ::read(master, buf.data(), buf.size());
                    if (n > 0) {
                        adapter.onHostBytes(buf.data(), static_cast<std::size_t>(n), now);
                        if (!adapter.wantsInput()) break;
                        continue;
                    }
                    if (n < 0 && errno == EINTR) continue;
                    if (n < 0 && errno == EIO) fds[2].revents |= POLLHUP;
                    break;
                }
            }
            if ((fds[2].revents & (POLLHUP | POLLERR)) && !pty->hostPresent()) {
                hostPresent = false;
                adapter.setHostPresent(false, now);
            }
        } else if (!hostPresent && (fds[3].revents & POLLIN || timeout >= 0)) {
            pty->drainWatch();
            if (pty->hostPresent()) {
                hostPresent = true;
                adapter.setHostPresent(true, now);
            }
        }
    }

    const Time end = Clock::now();
    if (!config.recordPath.empty()) {
        SimRecord::Meta meta{pty->slavePath(), config.edsPath, info.productName, config.node.nodeId};
        if (!record.writeFile(config.recordPath, node.dictionary(), meta, error)) {
            log.warn("%s", error.c_str());
            exitCode = 1;
        }
    }
    const auto& c = record.counters();
    log.info("stopped after %.1f s: %llu frames from the host, %llu to it, %zu SDO transfers",
             std::chrono::duration<double>(end - start).count(), static_cast<unsigned long long>(c.framesFromHost),
             static_cast<unsigned long long>(c.framesToHost), record.sdo().size());
    pty->removeLink();
    if (candumpFile && candumpFile != stdout) std::fclose(candumpFile);
    return exitCode;
}

}  // namespace msim
