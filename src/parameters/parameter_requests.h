#pragma once
#include <cstdint>

#include "commdiag/types.h"

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
    virtual int32_t ReadErrorBufferEntry(uint8_t entryNumber) = 0;
    // The entry is copied when the request starts.
    virtual int32_t WriteErrorBufferEntry(uint8_t entryNumber, const CommDiag::ErrorBufferEntry* entry) = 0;
};

// What the parameter handler reads and writes in the object that owns it.
class IParameterOwner {
public:
    virtual ~IParameterOwner() = default;

    // Legacy address of the main operating-hours counter of the model in use (-1: none).
    virtual int32_t getOpHoursCounterReqAddr() = 0;
    virtual void setMainOpHoursCounter(uint32_t seconds) = 0;

    // Operating-hours conversions of the model in use: a counter's legacy byte at an address,
    // the first address of a counter's bytes (0: none), the seconds of four counter bytes.
    virtual uint8_t handleReadOpHoursCounter(uint32_t address, uint32_t seconds) = 0;
    virtual uint32_t getOpHoursCounterStartAddr(uint32_t address) = 0;
    virtual uint32_t handleWriteOpHoursCounter(uint8_t seconds, uint8_t minutes, uint8_t hoursLow,
                                               uint8_t hoursHigh) = 0;
};
