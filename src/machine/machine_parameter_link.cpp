#include "machine/machine_parameter_link.h"

#include "machine/orbel_commdiag.h"
#include "machine/orbel_machine.h"

int32_t MachineParameterLink::ReadMachineParameter(int32_t valueType, uint8_t subIndex) {
    return ORBEL_CommDiag::ReadMachineParameter(valueType, subIndex);
}
int32_t MachineParameterLink::WriteMachineParameter(int32_t valueType, uint8_t subIndex, uint32_t value) {
    return ORBEL_CommDiag::WriteMachineParameter(valueType, subIndex, value);
}
int32_t MachineParameterLink::ReadOpHoursCounter(int32_t valueType, uint8_t subIndex) {
    return ORBEL_CommDiag::ReadOpHoursCounter(valueType, subIndex);
}
int32_t MachineParameterLink::WriteOpHoursCounter(int32_t valueType, uint8_t subIndex, uint32_t value) {
    return ORBEL_CommDiag::WriteOpHoursCounter(valueType, subIndex, value);
}
int32_t MachineParameterLink::ReadErrorBufferEntry(uint8_t entryNumber) {
    return ORBEL_CommDiag::ReadErrorBufferEntry(entryNumber);
}
int32_t MachineParameterLink::WriteErrorBufferEntry(uint8_t entryNumber, const CommDiag::ErrorBufferEntry* entry) {
    return ORBEL_CommDiag::WriteErrorBufferEntry(entryNumber, entry);
}
uint8_t MachineParameterLink::handleReadOpHoursCounter(uint32_t address, uint32_t seconds) {
    return machine.handleReadOpHoursCounter(address, seconds);
}
uint32_t MachineParameterLink::getOpHoursCounterStartAddr(uint32_t address) {
    return machine.getOpHoursCounterStartAddr(address);
}
uint32_t MachineParameterLink::handleWriteOpHoursCounter(uint8_t s, uint8_t m, uint8_t hl, uint8_t hh) {
    return machine.handleWriteOpHoursCounter(s, m, hl, hh);
}
int32_t MachineParameterLink::getOpHoursCounterReqAddr() { return machine.getOpHoursCounterReqAddr(); }
void MachineParameterLink::setMainOpHoursCounter(uint32_t seconds) { machine.setMainOpHoursCounter(seconds); }
