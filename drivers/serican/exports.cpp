// The five entries the stack resolves by name. No exception leaves them.
#include "driver.h"
#include "error.h"
#include "serican.h"

using serican::Driver;

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
    // A call that is still inside after the wait would be left with freed memory; keeping the
    // object is the lesser harm.
    if (driver->close()) delete driver;
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
