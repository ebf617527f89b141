#include "platform/thread.h"

#include "platform/debug_output.h"

#include <windows.h>
#include <cstdio>

namespace platform {

namespace {

struct StartRecord {
    Thread::Entry entry;
    void* arg;
};

DWORD WINAPI threadMain(LPVOID param) {
    StartRecord record = *static_cast<StartRecord*>(param);
    delete static_cast<StartRecord*>(param);
    return record.entry(record.arg);
}

}  // namespace

struct Thread::Impl {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
    if (attached()) join(kDefaultJoinMs, "unnamed");
}

bool Thread::start(Entry entry, void* arg) {
    if (attached()) return false;
    auto* record = new StartRecord{entry, arg};
    impl_->handle = CreateThread(nullptr, 0, threadMain, record, 0, &impl_->id);
    if (!impl_->handle) {
        delete record;
        return false;
    }
    return true;
}

bool Thread::attached() const { return impl_->handle != nullptr; }

bool Thread::isCurrent() const { return attached() && impl_->id == GetCurrentThreadId(); }

bool Thread::join(uint32_t timeoutMs, const char* name) {
    if (!attached()) return true;
    bool ended = false;
    if (!isCurrent()) {
        ended = WaitForSingleObject(impl_->handle, timeoutMs) == WAIT_OBJECT_0;
        if (!ended) {
            TerminateThread(impl_->handle, 0xFFFFFFFFu);
            char line[160];
            std::snprintf(line, sizeof line, "thread '%s' did not end within %u ms; terminated\n", name,
                          static_cast<unsigned>(timeoutMs));
            debugOutput(line);
        }
    }
    CloseHandle(impl_->handle);
    impl_->handle = nullptr;
    impl_->id = 0;
    return ended;
}

}  // namespace platform
