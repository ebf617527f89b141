#pragma once
#include <cstdint>

// What the machine models need from above them. The converter object, which owns the models,
// implements these (itself, or through the machine link) and hands them in, so that a model
// never reaches for the converter or the machine link.

// Machine requests a model starts. Each returns the start result: 0 when the request's
// completion callback will come, anything else when it will not.
class IMachineRequests {
public:
    virtual ~IMachineRequests() = default;

    virtual int32_t WriteOutput(uint8_t outputNumber, uint8_t value) = 0;
    virtual int32_t ReadOpHoursCounter(int32_t valueType, uint8_t subIndex) = 0;
    virtual int32_t WriteOpHoursCounter(int32_t valueType, uint8_t subIndex, uint32_t value) = 0;
};

// What a model reads and writes in the object that owns it.
class IMachineModelOwner {
public:
    virtual ~IMachineModelOwner() = default;

    // Marks the parameter request in flight, so that its completion stores the value.
    virtual void setCurrentParameterRequest(uint32_t address, uint32_t objectId) = 0;
    virtual uint32_t getMainOpHoursCounter() const = 0;
    virtual void setMainOpHoursCounter(uint32_t seconds) = 0;
};
