#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "parameters/orbel_parameterlist.h"
#include "parameters/parameter_requests.h"

class ORBEL_ConvBuffer;

// Turns legacy parameter reads and writes into sequences of machine object requests, one
// object per request, over the parameter lists loaded from description files. The host's
// thread starts a sequence; the completion callbacks continue it on the stack's threads. The
// lists are guarded by one lock, never held while a machine request is being started (its
// completion may run inside the start).
class ORBEL_ParameterHandler {
public:
    ORBEL_ParameterHandler(IParameterRequests& requests, IParameterOwner& owner) : requests(requests), owner(owner) {}
    ORBEL_ParameterHandler(const ORBEL_ParameterHandler&) = delete;
    ORBEL_ParameterHandler& operator=(const ORBEL_ParameterHandler&) = delete;

    bool AddParameterDescription(const char* path, uint8_t listKey);
    void ClearParameterList();

    bool StartParameterReadRequest(int32_t* startResult, uint32_t address, uint8_t length);
    // Writes the values of [address, address + count) at position ... position + count - 1;
    // nothing beyond that area, even for a parameter that starts at its last byte.
    void BuildParameterReadReqAnswer(uint32_t address, uint8_t count, ORBEL_ConvBuffer* buffer, uint32_t position);
    void ChangeValueForCurrentReqAddressBased(uint32_t address, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
    uint32_t GetParamByteCount(uint32_t address);
    bool StartParameterWriteRequest(int32_t* startResult);
    bool RunReadRequest(int32_t* startResult, uint8_t listKey);
    bool RunWriteRequest(int32_t* startResult, uint8_t listKey);
    void SetParameterValueForCurrentReq(int32_t valueType, const void* value);
    // The write in flight has reached the machine. A counter's bytes stop counting as changed,
    // so a later write does not send the hours folded back then again.
    void WriteRequestSucceeded();

    void setCurrentRequest(uint32_t address, uint32_t objectId);
    uint32_t getCurrentObjectId();

    // Number of parameters in a list, and whether one is at an address (tests look at them).
    size_t parameterCount(uint8_t listKey);
    bool hasParameter(uint8_t listKey, uint32_t address);

private:
    bool runRequest(bool write, int32_t* startResult, uint8_t listKey);
    ORBEL_ParameterList& list(uint8_t key);  // created empty on first access; lock held

    IParameterRequests& requests;
    IParameterOwner& owner;
    std::mutex lock;
    std::map<uint8_t, ORBEL_ParameterList> lists;
    uint8_t currentListKey = 0;
    uint32_t currentAddress = 0;
    uint32_t currentObjectId = 0;
};
