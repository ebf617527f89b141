#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "common/orbel_convbuffer.h"
#include "orbel_conv/orbel_machine.h"

// The process-wide converter: the two byte buffers between host and package handler, the
// converter state and the legacy request being served. Created on first use, lives until the
// library is unloaded.
class ORBEL_Conv : public ORBEL_Machine {
public:
    enum State : int32_t { kIdle = 0, kBusy = 1, kError = 2 };

    static ORBEL_Conv* getInstance();
    // The converter if it has been created, else null (a de-init has nothing to reset in it).
    static ORBEL_Conv* getInstanceIfCreated();

    ORBEL_ConvBuffer* getInBuffer() { return inBuffer.get(); }
    ORBEL_ConvBuffer* getOutBuffer() { return outBuffer.get(); }

    void setBusy();
    void setIdle();
    void setError();
    bool isBusy() const { return state.load(std::memory_order_acquire) == kBusy; }
    bool isError() const { return state.load(std::memory_order_acquire) == kError; }
    int32_t getState() const { return state.load(std::memory_order_acquire); }

    // A download marks the converter busy before it starts, and gives it back when refused.
    bool markBusyForDownload() override;
    void undoBusyForDownload() override;

    // Stores the request being served; refused while a machine request is under way.
    bool startRequest(int32_t command, uint32_t address, uint8_t length, uint8_t stateByte);
    // Forgets it, for a de-init: the next session's answers start from none stored.
    void forgetRequest();
    int32_t getCurrentCommand() const { return currentCommand; }
    uint32_t getCurrentAddress() const { return currentAddress; }
    uint8_t getCurrentLength() const { return currentLength; }
    uint8_t getCurrentStateByte() const { return currentStateByte; }
    uint8_t getCurrentAddrLow() const;
    uint8_t getCurrentAddrHigh() const;

    void setPendingCommand(uint8_t modeCode, uint8_t value);
    void getPendingCommand(uint8_t* modeCode, uint8_t* value) const;

private:
    ORBEL_Conv() = default;
    void setState(State newState, const char* traceName);

    std::unique_ptr<ORBEL_ConvBuffer> inBuffer;
    std::unique_ptr<ORBEL_ConvBuffer> outBuffer;
    std::atomic<int32_t> state{kIdle};
    std::atomic<int32_t> stateBeforeDownload{kIdle};
    int32_t currentCommand = 0;
    uint32_t currentAddress = 0;
    uint8_t currentStateByte = 0;
    uint8_t currentLength = 0;
    uint8_t pendingCommand[2] = {0, 0};
};

// The COM port number parsed by ORBEL_DllInit (0 until a port name matched); the machine link
// names its CAN bus after it.
void ORBEL_SetComPortNumber(int32_t port);
int32_t ORBEL_GetComPortNumber();
