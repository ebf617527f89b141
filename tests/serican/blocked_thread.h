#pragma once
// Lets a test wait until another thread really sits in poll() (Linux), instead of sleeping and
// hoping it got there.
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>
#include <chrono>
#include <fstream>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

namespace serican_test {

inline pid_t currentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

inline bool inPoll(pid_t tid) {
    std::ifstream syscallFile("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    if (!(syscallFile >> number)) return false;
#ifdef SYS_poll
    if (number == SYS_poll) return true;
#endif
    return number == SYS_ppoll;
}

inline bool waitUntilInPoll(pid_t tid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!inPoll(tid)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs call on a thread of its own and returns once that thread waits in poll(), that is, is
// blocked on the line.
template <class Call>
auto startBlocked(Call call) -> std::future<decltype(call())> {
    std::promise<pid_t> started;
    auto tid = started.get_future();
    auto result = std::async(std::launch::async, [&started, call]() mutable {
        started.set_value(currentThreadId());
        return call();
    });
    if (!waitUntilInPoll(tid.get(), std::chrono::seconds(5))) throw std::runtime_error("call never blocked in poll()");
    return result;
}

}  // namespace serican_test
