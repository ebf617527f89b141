#pragma once
#include <cstdint>

class ORBEL_Machine;

// Address classes of the block commands, tested in the order the machines' tables were written
// for: a model whose ranges overlap gets the class that comes first.
enum class ReadAddressClass {
    ErrorMemory,
    Parameters,
    Sensors,
    ChargerParameters,
    SerialNumber,
    MaterialNumber,
    OpHoursCounter,
    Ignored,
    Unknown
};
enum class WriteAddressClass {
    ErrorMemory,
    Parameters,
    ChargerParameters,
    BlockDownload,
    SerialNumber,
    MaterialNumber,
    OpHoursCounter,
    Command,
    Unknown
};

ReadAddressClass classifyReadAddress(ORBEL_Machine& machine, uint32_t address);
WriteAddressClass classifyWriteAddress(ORBEL_Machine& machine, uint32_t address);
