#pragma once
#include <cstdint>

// What the parameter and error-memory handlers need from above them. The converter object,
// which owns the handlers, implements these (itself, or through the machine link) and hands
// them in, so that a handler never reaches for the converter or the machine link.

// Machine requests the handlers start. Each returns the start result: 0 when the request's
// completion callback will come, anything else when it will not.
class IParameterRequests {
public:
    virtual ~IParameterRequests() = default;

    virtual int32_t ReadMachineParameter(int32_t valueType, uint8_t subIndex) = 0;
    virtual int32_t WriteMachineParameter(int32_t valueType, uint8_t subIndex, uint32_t value) = 0;
    virtual int32_t ReadOpHoursCounter(int32_t valueType, uint8_t subIndex) = 0;
    virtual int32_t WriteOpHoursCounter(int32_t valueType, uint8_t subIndex, uint32_t value) = 0;
};

// What the parameter handler reads and writes in the object that owns it.
class IParameterOwner {
public:
    virtual ~IParameterOwner() = default;

    // Legacy address of the main operating-hours counter of the model in use (-1: none).
    virtual int32_t getOpHoursCounterReqAddr() = 0;
    virtual void setMainOpHoursCounter(uint32_t seconds) = 0;
};
