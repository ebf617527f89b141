#pragma once
#include "parameters/parameter_link.h"

class ORBEL_Machine;

// The parameter and error-memory handlers' way to the machine: requests through the machine
// link, operating-hours conversions through the model the machine uses.
class MachineParameterLink : public ORBEL_ParameterLink {
public:
    explicit MachineParameterLink(ORBEL_Machine& machine) : machine(machine) {}

    int32_t ReadMachineParameter(int32_t valueType, uint8_t subIndex) override;
    int32_t WriteMachineParameter(int32_t valueType, uint8_t subIndex, uint32_t value) override;
    int32_t ReadOpHoursCounter(int32_t valueType, uint8_t subIndex) override;
    int32_t WriteOpHoursCounter(int32_t valueType, uint8_t subIndex, uint32_t value) override;
    int32_t ReadErrorBufferEntry(uint8_t entryNumber) override;
    int32_t WriteErrorBufferEntry(uint8_t entryNumber, const CommDiag::ErrorBufferEntry* entry) override;
    uint8_t handleReadOpHoursCounter(uint32_t address, uint32_t seconds) override;
    uint32_t getOpHoursCounterStartAddr(uint32_t address) override;
    uint32_t handleWriteOpHoursCounter(uint8_t seconds, uint8_t minutes, uint8_t hoursLow, uint8_t hoursHigh) override;
    int32_t getOpHoursCounterReqAddr() override;
    void setMainOpHoursCounter(uint32_t seconds) override;

private:
    ORBEL_Machine& machine;
};
