#pragma once
// Binding of the CAN driver library: five entries resolved by name, one table per process.
#include "can_message.h"
#include "common/api_export.h"
#include "platform/dynamic_library.h"

#include <atomic>
#include <cstdint>

namespace canopen {

using CanHandle = void*;  // opaque to the stack; the driver decides what it points to

using CanReceiveEntry = uint8_t(ORBEL_STDCALL*)(CanHandle handle, CanMessage* message);
using CanSendEntry = uint8_t(ORBEL_STDCALL*)(CanHandle handle, const CanMessage* message);
using CanOpenEntry = CanHandle(ORBEL_STDCALL*)(s_BOARD* board);
using CanCloseEntry = int32_t(ORBEL_STDCALL*)(CanHandle handle);
using CanChangeBaudRateEntry = uint8_t(ORBEL_STDCALL*)(CanHandle handle, const char* baudRate);

// All five are null while no driver is loaded. The entries are atomic because the receive
// and alarm threads read them while the control thread may load another driver.
struct CanDriverTable {
    std::atomic<CanReceiveEntry> canReceive{nullptr};
    std::atomic<CanSendEntry> canSend{nullptr};
    std::atomic<CanOpenEntry> canOpen{nullptr};
    std::atomic<CanCloseEntry> canClose{nullptr};
    std::atomic<CanChangeBaudRateEntry> canChangeBaudRate{nullptr};
};

CanDriverTable& canDriverTable();

// Loads the library by path and resolves the five entries; on any failure the table is left
// empty, the library released, and null returned.
platform::LibraryHandle loadCanDriver(const char* path);
// 0 after freeing the library, 255 for a null module. The table keeps its entries.
uint8_t unloadCanDriver(platform::LibraryHandle module);

}  // namespace canopen
