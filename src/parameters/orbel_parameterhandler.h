#pragma once
#include <cstdint>

#include "parameters/parameter_requests.h"

// Turns legacy parameter reads and writes into machine object requests. This build keeps the
// request in flight and clears the parameter index; description files and request queues are
// not in it yet.
class ORBEL_ParameterHandler {
public:
    ORBEL_ParameterHandler(IParameterRequests& requests, IParameterOwner& owner) : requests(requests), owner(owner) {}
    ORBEL_ParameterHandler(const ORBEL_ParameterHandler&) = delete;
    ORBEL_ParameterHandler& operator=(const ORBEL_ParameterHandler&) = delete;

    void ClearParameterList();

    // Stores a value the machine delivered for the request in flight. This build keeps the
    // main operating-hours counter; parameter values need the lists, which it does not have.
    void SetParameterValueForCurrentReq(int32_t valueType, const void* value);

    void setCurrentRequest(uint32_t address, uint32_t objectId) {
        currentAddress = address;
        currentObjectId = objectId;
    }
    uint32_t getCurrentAddress() const { return currentAddress; }
    uint32_t getCurrentObjectId() const { return currentObjectId; }

private:
    [[maybe_unused]] IParameterRequests& requests;  // the parameter requests are not in this build yet
    IParameterOwner& owner;
    uint8_t currentListKey = 0;
    uint32_t currentAddress = 0;
    uint32_t currentObjectId = 0;
};
