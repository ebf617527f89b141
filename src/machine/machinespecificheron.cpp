#include "machine/machinespecificheron.h"

#include <cstring>

#include "common/orbel_trace.h"

namespace {
// The four counters of the family, each four legacy bytes: seconds, minutes, hours low, hours high.
constexpr uint32_t kFirstCounterAddr = 110;
constexpr uint32_t kLastCounterAddr = 125;
constexpr uint8_t kCommandOutput = 1;
}  // namespace

MachineSpecificHeron::MachineSpecificHeron(IMachineRequests& requests) : requests(requests) {
    for (uint8_t code = 1; code <= 18; ++code) commandMap[code] = code;
    commandMap[20] = 20;
    commandMap[21] = 21;
    commandMap[24] = 22;
    commandMap[25] = 23;
    commandMap[26] = 24;
    commandMap[27] = 25;
    commandMap[100] = 100;
    commandMap[101] = 101;
}

int32_t MachineSpecificHeron::convertAddrToBlockDownloadId(uint32_t address) {
    const char* const name = "MachineSpecificHeron::convertAddrToBlockDownloadId";
    if (address >= 0x5000 && address <= 0x57FF) {
        if (address == 0x5000) return 0;
        if (address == 0x5500) return 3;
        ORBEL_Trace("%s(): unable to handle address\n", name);
        return -1;
    }
    if (address >= 0x2800 && address <= 0x4FFF) return 2;
    if (address >= 0x200 && address <= 0x240) return 1;
    if (address == 0x300) return 4;
    if (address == 0x400) return 5;
    ORBEL_Trace("%s(): unkown address requested! 0x%02x\n", name, address);
    return -1;
}

bool MachineSpecificHeron::dataBlockConvNecessary(uint32_t address) {
    return getChargerParamAddrStart() <= address && address <= getChargerParamAddrEnd();
}

bool MachineSpecificHeron::dataBlockConv(uint32_t address, const uint8_t* source, uint32_t* length,
                                         uint8_t* destination, uint32_t capacity) {
    if (!dataBlockConvNecessary(address)) {
        ORBEL_Trace("%s(): unable to convert data for address 0x%04x\n", "MachineSpecificHeron::dataBlockConv",
                    address);
        return false;
    }
    // The last two bytes of a charger parameter block are dropped. A block shorter than two
    // bytes, or one that would not fit the destination, is refused rather than under- or
    // overrun.
    if (*length < 2 || *length - 2 > capacity) {
        ORBEL_Trace("%s(): unable to convert %u bytes for address 0x%04x into %u\n",
                    "MachineSpecificHeron::dataBlockConv", static_cast<unsigned>(*length), address,
                    static_cast<unsigned>(capacity));
        return false;
    }
    std::memcpy(destination, source, *length - 2);
    *length -= 2;
    return true;
}

uint8_t MachineSpecificHeron::handleReadOpHoursCounter(uint32_t address, uint32_t seconds) {
    const char* const name = "MachineSpecificHeron::handleReadOpHoursCounter";
    uint8_t value = 0xFF;
    if (address < kFirstCounterAddr || address > kLastCounterAddr) {
        ORBEL_Trace("%s(): addr %d is now op counter value! Something seems to be wrong returning 0xff\n", name,
                    static_cast<int>(address));
    } else {
        switch ((address - kFirstCounterAddr) % 4) {
            case 0: value = static_cast<uint8_t>(seconds % 60); break;
            case 1: value = static_cast<uint8_t>((seconds % 3600) / 60); break;
            case 2: value = static_cast<uint8_t>((seconds / 3600) & 0xFF); break;
            default: value = static_cast<uint8_t>((seconds / 921600) & 0xFF); break;
        }
    }
    ORBEL_Trace("%s(): op hours value for addr %d is %d (org: %d)\n", name, static_cast<int>(address), value,
                static_cast<int>(seconds));
    return value;
}

uint32_t MachineSpecificHeron::getOpHoursCounterStartAddr(uint32_t address) {
    if (address < kFirstCounterAddr || address > kLastCounterAddr) return 0;
    return address - (address - kFirstCounterAddr) % 4;
}

uint32_t MachineSpecificHeron::handleWriteOpHoursCounter(uint8_t seconds, uint8_t minutes, uint8_t hoursLow,
                                                         uint8_t hoursHigh) {
    return seconds + 60u * (minutes + 60u * (256u * hoursHigh + hoursLow));
}

int32_t MachineSpecificHeron::getOpHoursCounterReqAddr() {
    ORBEL_Trace("%s(): NOT IMPLEMENTED FOR THIS MACHINE TYPE!\n", "MachineSpecificHeron::getOpHoursCounterReqAddr");
    return -1;
}

uint8_t MachineSpecificHeron::startOpHoursCounterReq(uint32_t, uint8_t) {
    ORBEL_Trace("%s(): NOT IMPLEMENTED FOR THIS MACHINE TYPE!\n", "MachineSpecificHeron::startOpHoursCounterReq");
    return 0xFF;
}

void MachineSpecificHeron::fillOpHoursCounterReqBuf(uint32_t, uint8_t, ORBEL_ConvBuffer*, uint32_t) {
    ORBEL_Trace("%s(): NOT IMPLEMENTED FOR THIS MACHINE TYPE!\n", "MachineSpecificHeron::fillOpHoursCounterReqBuf");
}

int32_t MachineSpecificHeron::setOpHoursCounterValue(uint32_t, const uint8_t*, uint32_t, uint8_t) {
    ORBEL_Trace("%s(): not implemented!\n", "MachineSpecificHeron::setOpHoursCounterValue");
    return 6;
}

bool MachineSpecificHeron::writeCommandOutput(const char* name, uint8_t outputNumber, uint8_t value) {
    if (requests.WriteOutput(outputNumber, value) == 0) {
        ORBEL_Trace("%s(): write output requested\n", name);
        return true;
    }
    ORBEL_Trace("%s(): unable to write output!\n", name);
    return false;
}

bool MachineSpecificHeron::handleCommand(uint32_t code) {
    const char* const name = "MachineSpecificHeron::handleCommand";
    const uint8_t command = static_cast<uint8_t>(code & 0xFF);
    const auto found = commandMap.find(command);
    if (found == commandMap.end()) {
        ORBEL_Trace("%s(): Command 0x%02x not implemented\n", name, command);
        return false;
    }
    ORBEL_Trace("%s(): found map entry for command 0x%02x mapped to 0x%02x\n", name, command, found->second);
    return writeCommandOutput(name, kCommandOutput, found->second);
}
