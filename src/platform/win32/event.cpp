#include "platform/event.h"

#include <windows.h>

namespace platform {

struct Event::Impl {
    HANDLE handle;
};

Event::Event(bool manualReset, bool initiallySet)
    : impl_(new Impl{CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr)}) {}
Event::~Event() {
    if (impl_->handle) CloseHandle(impl_->handle);
    delete impl_;
}
void Event::set() { SetEvent(impl_->handle); }
void Event::reset() { ResetEvent(impl_->handle); }
bool Event::wait(uint32_t timeoutMs) {
    return WaitForSingleObject(impl_->handle, timeoutMs == kInfinite ? INFINITE : timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace platform
