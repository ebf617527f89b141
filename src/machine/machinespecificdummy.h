#pragma once
#include "machine/imachinespecific.h"

// The model in use before a machine is recognised: it classifies no address and starts nothing.
class MachineSpecificDummy : public IMachineSpecific {
public:
    uint32_t getParameterAddrMin() override;
    uint32_t getParameterAddrMax() override;
    uint32_t getErrorArchiveAddrStart() override;
    uint32_t getErrorArchiveAddrEnd() override;
    uint32_t getChargerParamAddrStart() override;
    uint32_t getChargerParamAddrEnd() override;
    uint32_t getBlockDownloadAddrStart() override;
    uint32_t getBlockDownloadAddrEnd() override;
    int32_t convertAddrToBlockDownloadId(uint32_t address) override;
    uint32_t getBlockDownloadPacketSize(uint32_t address) override;
    bool dataBlockConvNecessary(uint32_t address) override;
    bool dataBlockConv(uint32_t address, const uint8_t* source, uint32_t* length, uint8_t* destination,
                       uint32_t capacity) override;
    uint8_t handleReadOpHoursCounter(uint32_t address, uint32_t seconds) override;
    uint32_t getOpHoursCounterStartAddr(uint32_t address) override;
    uint32_t handleWriteOpHoursCounter(uint8_t seconds, uint8_t minutes, uint8_t hoursLow, uint8_t hoursHigh) override;
    uint32_t getSerialNumberReqAddr() override;
    uint32_t getMaterialNumberReqAddr() override;
    int32_t getOpHoursCounterReqAddr() override;
    uint8_t startOpHoursCounterReq(uint32_t address, uint8_t length) override;
    void fillOpHoursCounterReqBuf(uint32_t address, uint8_t length, ORBEL_ConvBuffer* buffer,
                                  uint32_t position) override;
    int32_t setOpHoursCounterValue(uint32_t address, const uint8_t* bytes, uint32_t position, uint8_t length) override;
    bool handleCommand(uint32_t code) override;
    bool isSensorReq(uint32_t address) override;
    void FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) override;
};
