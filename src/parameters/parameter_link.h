#pragma once
#include <cstdint>

#include "commdiag/types.h"

// What the parameter and error-memory handlers need of the machine link and of the machine
// model in use. Requests return the link's start result: 0 when the completion will follow.
class ORBEL_ParameterLink {
public:
    virtual ~ORBEL_ParameterLink() = default;

    virtual int32_t ReadMachineParameter(int32_t valueType, uint8_t subIndex) = 0;
    virtual int32_t WriteMachineParameter(int32_t valueType, uint8_t subIndex, uint32_t value) = 0;
    virtual int32_t ReadOpHoursCounter(int32_t valueType, uint8_t subIndex) = 0;
    virtual int32_t WriteOpHoursCounter(int32_t valueType, uint8_t subIndex, uint32_t value) = 0;
    virtual int32_t ReadErrorBufferEntry(uint8_t entryNumber) = 0;
    virtual int32_t WriteErrorBufferEntry(uint8_t entryNumber, const CommDiag::ErrorBufferEntry* entry) = 0;

    // Operating-hours conversions of the model in use.
    virtual uint8_t handleReadOpHoursCounter(uint32_t address, uint32_t seconds) = 0;
    virtual uint32_t getOpHoursCounterStartAddr(uint32_t address) = 0;
    virtual uint32_t handleWriteOpHoursCounter(uint8_t seconds, uint8_t minutes, uint8_t hoursLow, uint8_t hoursHigh) = 0;
    virtual int32_t getOpHoursCounterReqAddr() = 0;
    virtual void setMainOpHoursCounter(uint32_t seconds) = 0;
};
