#pragma once
// Locks that the converter and the stack use; both satisfy BasicLockable, so
// std::lock_guard and std::unique_lock work with them.

namespace platform {

// A kernel mutex (Win32 CreateMutex): non-recursive in use, waits are unbounded.
class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    bool valid() const { return handle_ != nullptr; }
    void lock();
    void unlock();

private:
    void* handle_ = nullptr;
};

// A recursive lock (Win32 critical section): the owner may take it again.
class RecursiveLock {
public:
    RecursiveLock();
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void lock();
    bool try_lock();
    void unlock();

private:
    void* impl_;
};

}  // namespace platform
