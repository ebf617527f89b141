#include "common/orbel_convbuffer.h"
#include "common/orbel_trace.h"
#include "machine/machinespecificheron.h"
#include "machine/value_type.h"

namespace {
// The main operating-hours counter: legacy address, machine object and sub-index.
constexpr uint32_t kMainCounterAddr = 620;
constexpr int32_t kMainCounterObject = 0x4002;
constexpr uint8_t kMainCounterSubIndex = 1;
}  // namespace

uint8_t MachineSpecificKestrel::startOpHoursCounterReq(uint32_t address, uint8_t length) {
    const char* const name = "MachineSpecificKestrel::startOpHoursCounterReq";
    if (address != kMainCounterAddr) return 3;
    ORBEL_Trace("%s(): main operating hours counter has been requested(addr: 0x%04x len: %d)\n", name, address, length);
    owner.setCurrentParameterRequest(kMainCounterAddr, kMainCounterObject);
    if (requests.ReadOpHoursCounter(VALUE_TYPE_U32, kMainCounterSubIndex) == 0) {
        ORBEL_Trace("%s(): operating hours counter requested\n", name);
        return 2;
    }
    ORBEL_Trace("%s(): unable to request operating hours counter!\n", name);
    return 3;
}

void MachineSpecificKestrel::fillOpHoursCounterReqBuf(uint32_t address, uint8_t length, ORBEL_ConvBuffer* buffer,
                                                      uint32_t position) {
    if (address != kMainCounterAddr) {
        ORBEL_Trace("%s(): Invalid address requested! 0x%x\n", "MachineSpecificKestrel::fillOpHoursCounterReqBuf",
                    address);
        return;
    }
    const uint32_t seconds = owner.getMainOpHoursCounter();
    const uint8_t bytes[3] = {static_cast<uint8_t>((seconds % 3600) / 60),
                              static_cast<uint8_t>((seconds / 3600) & 0xFF),
                              static_cast<uint8_t>((seconds / 921600) & 0xFF)};
    // Minutes, hours low, hours high, as far as the requested length reaches.
    for (uint32_t k = 0; k < 3 && k < length; ++k) buffer->changeByte(position + k, bytes[k]);
}

int32_t MachineSpecificKestrel::setOpHoursCounterValue(uint32_t address, const uint8_t* bytes, uint32_t position,
                                                       uint8_t) {
    const char* const name = "MachineSpecificKestrel::setOpHoursCounterValue";
    if (address != kMainCounterAddr) {
        ORBEL_Trace("%s(): Invalid address requested! 0x%x\n", name, address);
        return 6;
    }
    const uint32_t seconds = 60u * bytes[position] + 3600u * (bytes[position + 1] + 256u * bytes[position + 2]);
    owner.setMainOpHoursCounter(seconds);
    ORBEL_Trace("%s(): starting write request to operating hours counter (value: %lu id: %d)\n", name,
                static_cast<unsigned long>(seconds), 1);
    return requests.WriteOpHoursCounter(VALUE_TYPE_U32, kMainCounterSubIndex, seconds);
}

bool MachineSpecificKestrel::handleCommand(uint32_t code) {
    const char* const name = "MachineSpecificKestrel::handleCommand";
    if (kestrelCommandMap.empty()) {
        // Even codes switch an output on, odd codes off: outputs 1 to 4.
        for (uint8_t output = 1; output <= 4; ++output) {
            const uint8_t on = static_cast<uint8_t>(8 + 2 * output);
            kestrelCommandMap[on] = {output, 1};
            kestrelCommandMap[static_cast<uint8_t>(on + 1)] = {output, 0};
        }
    }
    const uint8_t command = static_cast<uint8_t>(code & 0xFF);
    const auto found = kestrelCommandMap.find(command);
    if (found == kestrelCommandMap.end()) {
        ORBEL_Trace("%s(): Command 0x%02x not implemented\n", name, command);
        return false;
    }
    ORBEL_Trace("%s(): found map entry for command 0x%02x mapped to output: 0x%02x and value: 0x%02x\n", name, command,
                found->second.first, found->second.second);
    return writeCommandOutput(name, found->second.first, found->second.second);
}
