#include "platform/thread.h"

#include "platform/debug_output.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace platform {

namespace {

// Shared between the owner and the thread, so that a thread given up by join() can still
// report its end safely after the owner has gone.
struct Completion {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
};

}  // namespace

struct Thread::Impl {
    std::thread thread;
    std::shared_ptr<Completion> completion;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
    if (attached()) join(kDefaultJoinMs, "unnamed");
}

bool Thread::start(Entry entry, void* arg) {
    if (attached()) return false;
    auto completion = std::make_shared<Completion>();
    try {
        impl_->thread = std::thread([entry, arg, completion] {
            entry(arg);
            {
                std::lock_guard<std::mutex> lock(completion->mutex);
                completion->done = true;
            }
            completion->cv.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    impl_->completion = std::move(completion);
    return true;
}

bool Thread::attached() const { return impl_->thread.joinable(); }

bool Thread::isCurrent() const { return attached() && impl_->thread.get_id() == std::this_thread::get_id(); }

bool Thread::join(uint32_t timeoutMs, const char* name) {
    if (!attached()) return true;
    if (isCurrent()) {
        impl_->thread.detach();
        impl_->completion.reset();
        return false;
    }
    bool ended;
    {
        std::unique_lock<std::mutex> lock(impl_->completion->mutex);
        ended = impl_->completion->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                               [this] { return impl_->completion->done; });
    }
    if (ended) {
        impl_->thread.join();
    } else {
        impl_->thread.detach();
        char line[160];
        std::snprintf(line, sizeof line, "thread '%s' did not end within %u ms; left running\n", name,
                      static_cast<unsigned>(timeoutMs));
        debugOutput(line);
    }
    impl_->completion.reset();
    return ended;
}

}  // namespace platform
