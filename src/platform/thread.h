#pragma once
#include <cstdint>
#include <memory>

namespace platform {

// One OS thread with a single owner. The owner ends it with join(), which waits a bounded
// time: a thread that does not end in time is terminated on Windows (TerminateThread, as the
// stack's callers expect) and left running, detached, on POSIX, where no safe terminate exists;
// either way a line on the debugger output names it.
class Thread {
public:
    using Entry = uint32_t (*)(void* arg);

    Thread();
    // A thread still attached is joined with the default limit.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts entry(arg) on a new thread (default stack, no flags). False when the OS refuses
    // or a thread is already attached.
    bool start(Entry entry, void* arg);
    bool attached() const;
    // True when called on this thread itself (joining it from inside would wait for ever).
    bool isCurrent() const;

    // Waits at most timeoutMs for the thread to end and releases it. True when it ended by
    // itself. Called from the thread itself it only releases the handle.
    bool join(uint32_t timeoutMs, const char* name);

    static constexpr uint32_t kDefaultJoinMs = 1000;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
