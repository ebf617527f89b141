#include "platform/mutex.h"

#include <mutex>

namespace platform {

Mutex::Mutex() : handle_(new std::mutex) {}
Mutex::~Mutex() { delete static_cast<std::mutex*>(handle_); }
void Mutex::lock() { static_cast<std::mutex*>(handle_)->lock(); }
void Mutex::unlock() { static_cast<std::mutex*>(handle_)->unlock(); }

RecursiveLock::RecursiveLock() : impl_(new std::recursive_mutex) {}
RecursiveLock::~RecursiveLock() { delete static_cast<std::recursive_mutex*>(impl_); }
void RecursiveLock::lock() { static_cast<std::recursive_mutex*>(impl_)->lock(); }
bool RecursiveLock::try_lock() { return static_cast<std::recursive_mutex*>(impl_)->try_lock(); }
void RecursiveLock::unlock() { static_cast<std::recursive_mutex*>(impl_)->unlock(); }

}  // namespace platform
