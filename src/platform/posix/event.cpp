#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct Event::Impl {
    std::mutex mutex;
    std::condition_variable cv;
    bool signalled;
    bool manualReset;
};

Event::Event(bool manualReset, bool initiallySet) : impl_(new Impl{{}, {}, initiallySet, manualReset}) {}
Event::~Event() { delete impl_; }

void Event::set() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->signalled = true;
    }
    if (impl_->manualReset)
        impl_->cv.notify_all();
    else
        impl_->cv.notify_one();
}

void Event::reset() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->signalled = false;
}

bool Event::wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    auto ready = [this] { return impl_->signalled; };
    if (timeoutMs == kInfinite)
        impl_->cv.wait(lock, ready);
    else if (!impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
        return false;
    if (!impl_->manualReset) impl_->signalled = false;
    return true;
}

}  // namespace platform
