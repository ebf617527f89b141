// The five entries the stack resolves by name. No exception leaves them.
#include <mutex>
#include <vector>

#include "driver.h"
#include "error.h"
#include "platform/mutex.h"
#include "serican.h"

using serican::Driver;

namespace {

// Closed drivers, kept until the library is unloaded (see canClose_driver). One small object per
// open and close of an adapter.
class RetiredDrivers {
public:
    ~RetiredDrivers() {
        for (Driver* driver : drivers_) delete driver;
    }
    void add(Driver* driver) {
        std::lock_guard<platform::Mutex> lock(mutex_);
        drivers_.push_back(driver);
    }

private:
    platform::Mutex mutex_;
    std::vector<Driver*> drivers_;
};

void retire(Driver* driver) {
    static RetiredDrivers retired;
    try {
        retired.add(driver);
    } catch (...) {  // out of memory: keeping the object is still safe
    }
}

}  // namespace

extern "C" {

ORBEL_DLL_EXPORT void* ORBEL_STDCALL canOpen_driver(s_BOARD* board) {
    if (board == nullptr) return nullptr;
    try {
        return new Driver(*board);
    } catch (const serican::error&) {
        return nullptr;
    } catch (...) {  // out of memory or resources
        return nullptr;
    }
}

ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL canClose_driver(void* handle) {
    if (handle == nullptr) return 1;
    auto* driver = static_cast<Driver*>(handle);
    // The caller's receive thread may have checked that the port is open and be just about to
    // call in with this handle. A closed driver answers such a late call with 1, so the object
    // is retired rather than freed, and goes when the library is unloaded. A handle closed again
    // is such a late call too: it must not be retired twice.
    if (driver->close()) retire(driver);
    return 1;
}

ORBEL_DLL_EXPORT uint8_t ORBEL_STDCALL canSend_driver(void* handle, CanMessage* message) {
    if (handle == nullptr || message == nullptr) return 1;
    try {
        return static_cast<Driver*>(handle)->send(*message);
    } catch (...) {
        return 1;
    }
}

ORBEL_DLL_EXPORT uint8_t ORBEL_STDCALL canReceive_driver(void* handle, CanMessage* message) {
    if (handle == nullptr || message == nullptr) return 1;
    try {
        return static_cast<Driver*>(handle)->receive(*message);
    } catch (...) {  // out of memory for the receive buffer
        return 1;
    }
}

ORBEL_DLL_EXPORT uint8_t ORBEL_STDCALL canChangeBaudRate_driver(void* /*handle*/, char* /*baudrate*/) { return 0; }

}  // extern "C"
