#include "machine/machinespecificdummy.h"

#include "common/orbel_trace.h"

namespace {
// With no machine identified no address belongs to any class: every range runs from this address
// down to 0, so it is empty, and no single address equals it (legacy addresses are 16-bit).
constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

void notImplemented(const char* name) { ORBEL_Trace("%s(): not implemented!\n", name); }
}  // namespace

uint32_t MachineSpecificDummy::getParameterAddrMin() {
    notImplemented("MachineSpecificDummy::getParameterAddrMin");
    return kNoAddress;
}

uint32_t MachineSpecificDummy::getParameterAddrMax() {
    notImplemented("MachineSpecificDummy::getParameterAddrMax");
    return 0;
}

uint32_t MachineSpecificDummy::getErrorArchiveAddrStart() {
    notImplemented("MachineSpecificDummy::getErrorArchiveAddrStart");
    return kNoAddress;
}

uint32_t MachineSpecificDummy::getErrorArchiveAddrEnd() {
    notImplemented("MachineSpecificDummy::getErrorArchiveAddrEnd");
    return 0;
}

uint32_t MachineSpecificDummy::getChargerParamAddrStart() {
    notImplemented("MachineSpecificDummy::getChargerParamAddrStart");
    return kNoAddress;
}

uint32_t MachineSpecificDummy::getChargerParamAddrEnd() {
    notImplemented("MachineSpecificDummy::getChargerParamAddrEnd");
    return 0;
}

uint32_t MachineSpecificDummy::getBlockDownloadAddrStart() {
    notImplemented("MachineSpecificDummy::getBlockDownloadAddrStart");
    return kNoAddress;
}

uint32_t MachineSpecificDummy::getBlockDownloadAddrEnd() {
    notImplemented("MachineSpecificDummy::getBlockDownloadAddrEnd");
    return 0;
}

int32_t MachineSpecificDummy::convertAddrToBlockDownloadId(uint32_t) {
    notImplemented("MachineSpecificDummy::convertAddrToBlockDownloadId");
    return -1;
}

uint32_t MachineSpecificDummy::getBlockDownloadPacketSize(uint32_t) {
    notImplemented("MachineSpecificDummy::getBlockDownloadPacketSize");
    return 0;
}

bool MachineSpecificDummy::dataBlockConvNecessary(uint32_t) {
    notImplemented("MachineSpecificDummy::dataBlockConvNecessary");
    return false;
}

bool MachineSpecificDummy::dataBlockConv(uint32_t, const uint8_t*, uint32_t*, uint8_t*, uint32_t) {
    notImplemented("MachineSpecificDummy::dataBlockConv");
    return false;
}

uint8_t MachineSpecificDummy::handleReadOpHoursCounter(uint32_t, uint32_t) {
    notImplemented("MachineSpecificDummy::handleReadOpHoursCounter");
    return 0;
}

uint32_t MachineSpecificDummy::getOpHoursCounterStartAddr(uint32_t) {
    notImplemented("MachineSpecificDummy::getOpHoursCounterStartAddr");
    return 0;
}

uint32_t MachineSpecificDummy::handleWriteOpHoursCounter(uint8_t, uint8_t, uint8_t, uint8_t) {
    notImplemented("MachineSpecificDummy::handleWriteOpHoursCounter");
    return 0;
}

uint32_t MachineSpecificDummy::getSerialNumberReqAddr() {
    notImplemented("MachineSpecificDummy::getSerialNumberReqAddr");
    return kNoAddress;
}

uint32_t MachineSpecificDummy::getMaterialNumberReqAddr() {
    notImplemented("MachineSpecificDummy::getMaterialNumberReqAddr");
    return kNoAddress;
}

int32_t MachineSpecificDummy::getOpHoursCounterReqAddr() {
    notImplemented("MachineSpecificDummy::getOpHoursCounterReqAddr");
    return -1;
}

uint8_t MachineSpecificDummy::startOpHoursCounterReq(uint32_t, uint8_t) {
    notImplemented("MachineSpecificDummy::startOpHoursCounterReq");
    return 0;
}

void MachineSpecificDummy::fillOpHoursCounterReqBuf(uint32_t, uint8_t, ORBEL_ConvBuffer*, uint32_t) {
    notImplemented("MachineSpecificDummy::fillOpHoursCounterReqBuf");
}

int32_t MachineSpecificDummy::setOpHoursCounterValue(uint32_t, const uint8_t*, uint32_t, uint8_t) {
    notImplemented("MachineSpecificDummy::setOpHoursCounterValue");
    return 6;
}

bool MachineSpecificDummy::handleCommand(uint32_t) {
    notImplemented("MachineSpecificDummy::handleCommand");
    return false;
}

bool MachineSpecificDummy::isSensorReq(uint32_t) {
    notImplemented("MachineSpecificDummy::isSensorReq");
    return false;
}

void MachineSpecificDummy::FillSensorReqMap(uint32_t, uint8_t, FeatureRequestMap& requests) {
    requests.clear();
    notImplemented("MachineSpecificDummy::FillSensorReqMap");
}
