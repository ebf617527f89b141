#include "can_driver.h"

#include "platform/last_error.h"

#include <cstdio>

namespace canopen {

namespace {

void clearTable(CanDriverTable& table) {
    table.canReceive.store(nullptr);
    table.canSend.store(nullptr);
    table.canOpen.store(nullptr);
    table.canClose.store(nullptr);
    table.canChangeBaudRate.store(nullptr);
}

template <typename Entry>
Entry resolve(platform::LibraryHandle module, const char* name) {
    return reinterpret_cast<Entry>(platform::librarySymbol(module, name));
}

}  // namespace

CanDriverTable& canDriverTable() {
    static CanDriverTable table;
    return table;
}

platform::LibraryHandle loadCanDriver(const char* path) {
    platform::LibraryHandle module = platform::loadLibrary(path);
    if (!module) {
        std::fprintf(stderr, "LoadLibrary error : %d\n", platform::lastErrorCode());
        return nullptr;
    }
    CanDriverTable& table = canDriverTable();
    table.canReceive.store(resolve<CanReceiveEntry>(module, "canReceive_driver"));
    table.canSend.store(resolve<CanSendEntry>(module, "canSend_driver"));
    table.canOpen.store(resolve<CanOpenEntry>(module, "canOpen_driver"));
    table.canClose.store(resolve<CanCloseEntry>(module, "canClose_driver"));
    table.canChangeBaudRate.store(resolve<CanChangeBaudRateEntry>(module, "canChangeBaudRate_driver"));
    if (!table.canReceive.load() || !table.canSend.load() || !table.canOpen.load() || !table.canClose.load() ||
        !table.canChangeBaudRate.load()) {
        const int code = platform::lastErrorCode();
        clearTable(table);
        platform::freeLibrary(module);
        std::fprintf(stderr, "GetProc error : %d\n", code);
        return nullptr;
    }
    return module;
}

uint8_t unloadCanDriver(platform::LibraryHandle module) {
    if (!module) return 255;
    platform::freeLibrary(module);
    return 0;
}

}  // namespace canopen
