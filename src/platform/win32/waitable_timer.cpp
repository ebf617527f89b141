#include "platform/waitable_timer.h"

#include <windows.h>

namespace platform {

struct WaitableTimer::Impl {
    HANDLE handle;
};

// Auto-reset (synchronisation) timer, unnamed, default security.
WaitableTimer::WaitableTimer() : impl_(std::make_unique<Impl>(Impl{CreateWaitableTimerA(nullptr, FALSE, nullptr)})) {}

WaitableTimer::~WaitableTimer() {
    if (impl_->handle) CloseHandle(impl_->handle);
}

bool WaitableTimer::valid() const { return impl_->handle != nullptr; }

bool WaitableTimer::setOnce(uint32_t ms) {
    // Negative due times are relative, in units of 100 ns.
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
    return SetWaitableTimer(impl_->handle, &due, 0, nullptr, nullptr, FALSE) != 0;
}

bool WaitableTimer::cancel() { return CancelWaitableTimer(impl_->handle) != 0; }

void WaitableTimer::wait() { WaitForSingleObject(impl_->handle, INFINITE); }

}  // namespace platform
