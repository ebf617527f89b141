#include "platform/mutex.h"

#include <windows.h>

namespace platform {

Mutex::Mutex() : handle_(CreateMutexA(nullptr, FALSE, nullptr)) {}
Mutex::~Mutex() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}
void Mutex::lock() { WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE); }
void Mutex::unlock() { ReleaseMutex(static_cast<HANDLE>(handle_)); }

RecursiveLock::RecursiveLock() : impl_(new CRITICAL_SECTION) {
    InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
}
RecursiveLock::~RecursiveLock() {
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
    delete static_cast<CRITICAL_SECTION*>(impl_);
}
void RecursiveLock::lock() { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }
bool RecursiveLock::try_lock() { return TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)) != 0; }
void RecursiveLock::unlock() { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

}  // namespace platform
