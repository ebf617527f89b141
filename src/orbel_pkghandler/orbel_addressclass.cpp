#include "orbel_pkghandler/orbel_addressclass.h"

#include "orbel_conv/orbel_machine.h"

namespace {
constexpr uint32_t kIgnoredAddress = 4;
constexpr uint32_t kCommandAddress = 2;

bool inRange(uint32_t address, uint32_t first, uint32_t last) { return first <= address && address <= last; }
bool isOpHoursCounter(ORBEL_Machine& m, uint32_t address) {
    const int32_t counter = m.getOpHoursCounterReqAddr();
    return counter >= 0 && address == static_cast<uint32_t>(counter);
}
}  // namespace

ReadAddressClass classifyReadAddress(ORBEL_Machine& m, uint32_t address) {
    if (inRange(address, m.getErrorArchiveAddrStart(), m.getErrorArchiveAddrEnd()))
        return ReadAddressClass::ErrorMemory;
    if (inRange(address, m.getParameterAddrMin(), m.getParameterAddrMax())) return ReadAddressClass::Parameters;
    if (m.isSensorReq(address)) return ReadAddressClass::Sensors;
    if (inRange(address, m.getChargerParamAddrStart(), m.getChargerParamAddrEnd()))
        return ReadAddressClass::ChargerParameters;
    if (address == m.getSerialNumberReqAddr()) return ReadAddressClass::SerialNumber;
    if (address == m.getMaterialNumberReqAddr()) return ReadAddressClass::MaterialNumber;
    if (isOpHoursCounter(m, address)) return ReadAddressClass::OpHoursCounter;
    if (address == kIgnoredAddress) return ReadAddressClass::Ignored;
    return ReadAddressClass::Unknown;
}

WriteAddressClass classifyWriteAddress(ORBEL_Machine& m, uint32_t address) {
    if (inRange(address, m.getErrorArchiveAddrStart(), m.getErrorArchiveAddrEnd()))
        return WriteAddressClass::ErrorMemory;
    if (inRange(address, m.getParameterAddrMin(), m.getParameterAddrMax())) return WriteAddressClass::Parameters;
    if (inRange(address, m.getChargerParamAddrStart(), m.getChargerParamAddrEnd()))
        return WriteAddressClass::ChargerParameters;
    if (inRange(address, m.getBlockDownloadAddrStart(), m.getBlockDownloadAddrEnd()))
        return WriteAddressClass::BlockDownload;
    if (address == m.getSerialNumberReqAddr()) return WriteAddressClass::SerialNumber;
    if (address == m.getMaterialNumberReqAddr()) return WriteAddressClass::MaterialNumber;
    if (isOpHoursCounter(m, address)) return WriteAddressClass::OpHoursCounter;
    if (address == kCommandAddress) return WriteAddressClass::Command;
    return WriteAddressClass::Unknown;
}
