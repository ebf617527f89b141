#pragma once
#include <cstdint>

#include "machine/feature_request.h"

class ORBEL_ConvBuffer;

// What one machine model knows: its legacy address map, sensor tables, commands and
// operating-hours counters. The converter holds one object per model and forwards to the one
// chosen from the machine number.
class IMachineSpecific {
public:
    virtual ~IMachineSpecific() = default;

    virtual uint32_t getParameterAddrMin() = 0;
    virtual uint32_t getParameterAddrMax() = 0;
    virtual uint32_t getErrorArchiveAddrStart() = 0;
    virtual uint32_t getErrorArchiveAddrEnd() = 0;
    virtual uint32_t getChargerParamAddrStart() = 0;
    virtual uint32_t getChargerParamAddrEnd() = 0;
    virtual uint32_t getBlockDownloadAddrStart() = 0;
    virtual uint32_t getBlockDownloadAddrEnd() = 0;
    virtual int32_t convertAddrToBlockDownloadId(uint32_t address) = 0;
    virtual uint32_t getBlockDownloadPacketSize(uint32_t address) = 0;
    virtual bool dataBlockConvNecessary(uint32_t address) = 0;
    virtual bool dataBlockConv(uint32_t address, const uint8_t* source, uint32_t* length, uint8_t* destination,
                               uint32_t capacity) = 0;
    virtual uint8_t handleReadOpHoursCounter(uint32_t address, uint32_t seconds) = 0;
    virtual uint32_t getOpHoursCounterStartAddr(uint32_t address) = 0;
    virtual uint32_t handleWriteOpHoursCounter(uint8_t seconds, uint8_t minutes, uint8_t hoursLow,
                                               uint8_t hoursHigh) = 0;
    virtual uint32_t getSerialNumberReqAddr() = 0;
    virtual uint32_t getMaterialNumberReqAddr() = 0;
    virtual int32_t getOpHoursCounterReqAddr() = 0;
    virtual uint8_t startOpHoursCounterReq(uint32_t address, uint8_t length) = 0;
    virtual void fillOpHoursCounterReqBuf(uint32_t address, uint8_t length, ORBEL_ConvBuffer* buffer,
                                          uint32_t position) = 0;
    virtual int32_t setOpHoursCounterValue(uint32_t address, const uint8_t* bytes, uint32_t position,
                                           uint8_t length) = 0;
    virtual bool handleCommand(uint32_t code) = 0;
    virtual bool isSensorReq(uint32_t address) = 0;
    virtual void FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) = 0;
};
