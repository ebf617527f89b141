#include "call_gate.h"

#include <chrono>

namespace serican {

bool CallGate::enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    ++inside_;
    return true;
}

void CallGate::leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--inside_ == 0) changed_.notify_all();
}

bool CallGate::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    closed_ = true;
    changed_.notify_all();
    return true;
}

bool CallGate::closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

bool CallGate::waitUntilIdle(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return inside_ == 0; });
}

void CallGate::sleepUnlessClosed(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return closed_; });
}

}  // namespace serican
