#include "orbel_conv/orbel_conv.h"

#include <atomic>
#include <mutex>

#include "common/orbel_trace.h"

namespace {
constexpr uint32_t kBufferCapacity = 512;
std::atomic<ORBEL_Conv*> createdInstance{nullptr};
std::atomic<int32_t> comPortNumber{0};
}  // namespace

void ORBEL_SetComPortNumber(int32_t port) { comPortNumber.store(port); }
int32_t ORBEL_GetComPortNumber() { return comPortNumber.load(); }

ORBEL_Conv* ORBEL_Conv::getInstance() {
    static ORBEL_Conv converter;
    static std::once_flag created;
    std::call_once(created, [] {
        converter.inBuffer.reset(new ORBEL_ConvBuffer(kBufferCapacity));
        converter.outBuffer.reset(new ORBEL_ConvBuffer(kBufferCapacity));
        converter.state.store(kIdle, std::memory_order_release);
        createdInstance.store(&converter);
    });
    return &converter;
}

ORBEL_Conv* ORBEL_Conv::getInstanceIfCreated() { return createdInstance.load(); }

void ORBEL_Conv::setState(State newState, const char* traceName) {
    ORBEL_Trace("%s(): ++\n", traceName);
    state.store(newState, std::memory_order_release);
    ORBEL_Trace("%s(): --\n", traceName);
}

void ORBEL_Conv::setBusy() { setState(kBusy, "ORBEL_Conv::setBusy"); }
void ORBEL_Conv::setIdle() { setState(kIdle, "ORBEL_Conv::setIdle"); }
void ORBEL_Conv::setError() { setState(kError, "ORBEL_Conv::setError"); }

bool ORBEL_Conv::markBusyForDownload() {
    int32_t current = state.load(std::memory_order_acquire);
    do {
        if (current == kBusy) return false;
    } while (!state.compare_exchange_weak(current, kBusy, std::memory_order_acq_rel));
    stateBeforeDownload.store(current);
    ORBEL_Trace("%s(): ++\n", "ORBEL_Conv::setBusy");
    ORBEL_Trace("%s(): --\n", "ORBEL_Conv::setBusy");
    return true;
}

void ORBEL_Conv::undoBusyForDownload() {
    if (stateBeforeDownload.load() == kError)
        setError();
    else
        setIdle();
}

bool ORBEL_Conv::startRequest(int32_t command, uint32_t address, uint8_t length, uint8_t stateByte) {
    if (isBusy()) return false;
    currentCommand = command;
    currentAddress = address;
    currentLength = length;
    currentStateByte = stateByte;
    return true;
}

void ORBEL_Conv::forgetRequest() {
    currentCommand = 0;
    currentAddress = 0;
    currentLength = 0;
    currentStateByte = 0;
    setPendingCommand(0, 0);
}

uint8_t ORBEL_Conv::getCurrentAddrLow() const {
    const uint8_t low = static_cast<uint8_t>(currentAddress & 0xFFu);
    ORBEL_Trace("%s(): current addr low: 0x%02x\n", "ORBEL_Conv::getCurrentAddrLow", low);
    return low;
}

uint8_t ORBEL_Conv::getCurrentAddrHigh() const {
    const uint8_t high = static_cast<uint8_t>((currentAddress >> 8) & 0xFFu);
    ORBEL_Trace("%s(): current addr high: 0x%02x\n", "ORBEL_Conv::getCurrentAddrHigh", high);
    return high;
}

void ORBEL_Conv::setPendingCommand(uint8_t modeCode, uint8_t value) {
    pendingCommand[0] = modeCode;
    pendingCommand[1] = value;
}

void ORBEL_Conv::getPendingCommand(uint8_t* modeCode, uint8_t* value) const {
    *modeCode = pendingCommand[0];
    *value = pendingCommand[1];
}
