#include "platform/waitable_timer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct WaitableTimer::Impl {
    std::mutex mutex;
    std::condition_variable cv;
    bool armed = false;
    bool signalled = false;
    std::chrono::steady_clock::time_point due{};
};

WaitableTimer::WaitableTimer() : impl_(std::make_unique<Impl>()) {}
WaitableTimer::~WaitableTimer() = default;

bool WaitableTimer::valid() const { return true; }

bool WaitableTimer::setOnce(uint32_t ms) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->armed = true;
        impl_->signalled = false;
        impl_->due = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    }
    impl_->cv.notify_all();
    return true;
}

bool WaitableTimer::cancel() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->armed = false;
    }
    impl_->cv.notify_all();
    return true;
}

void WaitableTimer::wait() {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    for (;;) {
        if (impl_->signalled) {
            impl_->signalled = false;
            return;
        }
        if (!impl_->armed) {
            impl_->cv.wait(lock);
        } else if (impl_->cv.wait_until(lock, impl_->due) == std::cv_status::timeout ||
                   std::chrono::steady_clock::now() >= impl_->due) {
            if (impl_->armed && std::chrono::steady_clock::now() >= impl_->due) {
                impl_->armed = false;
                impl_->signalled = true;
            }
        }
    }
}

}  // namespace platform
