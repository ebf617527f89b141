#pragma once
#include <map>

#include "machine/imachinespecific.h"
#include "machine/machine_requests.h"

// Behaviour shared by all current machine models: the legacy address map, curve-data block ids,
// charger block conversion, the four operating-hours counters kept as parameters, and the
// command-to-output map. The models add their sensor memory.
class MachineSpecificHeron : public IMachineSpecific {
public:
    explicit MachineSpecificHeron(IMachineRequests& requests);

    uint32_t getParameterAddrMin() override { return 16; }
    uint32_t getParameterAddrMax() override { return 255; }
    uint32_t getErrorArchiveAddrStart() override { return 288; }
    uint32_t getErrorArchiveAddrEnd() override { return 368; }
    uint32_t getChargerParamAddrStart() override { return 512; }
    uint32_t getChargerParamAddrEnd() override { return 576; }
    uint32_t getBlockDownloadAddrStart() override { return 0x2800; }
    uint32_t getBlockDownloadAddrEnd() override { return 0x57FF; }
    int32_t convertAddrToBlockDownloadId(uint32_t address) override;
    uint32_t getBlockDownloadPacketSize(uint32_t) override { return 1024; }
    bool dataBlockConvNecessary(uint32_t address) override;
    bool dataBlockConv(uint32_t address, const uint8_t* source, uint32_t* length, uint8_t* destination,
                       uint32_t capacity) override;
    uint8_t handleReadOpHoursCounter(uint32_t address, uint32_t seconds) override;
    uint32_t getOpHoursCounterStartAddr(uint32_t address) override;
    uint32_t handleWriteOpHoursCounter(uint8_t seconds, uint8_t minutes, uint8_t hoursLow, uint8_t hoursHigh) override;
    uint32_t getSerialNumberReqAddr() override { return 645; }
    uint32_t getMaterialNumberReqAddr() override { return 640; }
    int32_t getOpHoursCounterReqAddr() override;
    uint8_t startOpHoursCounterReq(uint32_t address, uint8_t length) override;
    void fillOpHoursCounterReqBuf(uint32_t address, uint8_t length, ORBEL_ConvBuffer* buffer,
                                  uint32_t position) override;
    int32_t setOpHoursCounterValue(uint32_t address, const uint8_t* bytes, uint32_t position, uint8_t length) override;
    bool handleCommand(uint32_t code) override;

protected:
    // Starts the write of `value` to output `outputNumber`; the shared tail of every command.
    bool writeCommandOutput(const char* name, uint8_t outputNumber, uint8_t value);

    IMachineRequests& requests;

private:
    std::map<uint8_t, uint8_t> commandMap;
};

// The models. Each picks its sensor memory and the table that reads it.
class MachineSpecificCrane : public MachineSpecificHeron {
public:
    using MachineSpecificHeron::MachineSpecificHeron;
    bool isSensorReq(uint32_t address) override;
    void FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) override;
};

class MachineSpecificFinch : public MachineSpecificHeron {
public:
    using MachineSpecificHeron::MachineSpecificHeron;
    bool isSensorReq(uint32_t address) override;
    void FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) override;
};

class MachineSpecificSwift : public MachineSpecificHeron {
public:
    using MachineSpecificHeron::MachineSpecificHeron;
    bool isSensorReq(uint32_t address) override;
    void FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) override;
};

class MachineSpecificWren : public MachineSpecificHeron {
public:
    using MachineSpecificHeron::MachineSpecificHeron;
    bool isSensorReq(uint32_t address) override;
    void FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) override;
};

class MachineSpecificRobin : public MachineSpecificHeron {
public:
    using MachineSpecificHeron::MachineSpecificHeron;
    bool isSensorReq(uint32_t address) override;
    void FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) override;
};

// Kestrel differs from the family in its error archive, its main operating-hours counter (kept
// by the converter, reported as minutes and hours) and its commands (output number and value).
class MachineSpecificKestrel : public MachineSpecificHeron {
public:
    MachineSpecificKestrel(IMachineRequests& requests, IMachineModelOwner& owner)
        : MachineSpecificHeron(requests), owner(owner) {}

    uint32_t getErrorArchiveAddrStart() override { return 336; }
    uint32_t getErrorArchiveAddrEnd() override { return 512; }
    int32_t getOpHoursCounterReqAddr() override { return 620; }
    uint8_t startOpHoursCounterReq(uint32_t address, uint8_t length) override;
    void fillOpHoursCounterReqBuf(uint32_t address, uint8_t length, ORBEL_ConvBuffer* buffer,
                                  uint32_t position) override;
    int32_t setOpHoursCounterValue(uint32_t address, const uint8_t* bytes, uint32_t position, uint8_t length) override;
    bool handleCommand(uint32_t code) override;
    bool isSensorReq(uint32_t address) override;
    void FillSensorReqMap(uint32_t address, uint8_t length, FeatureRequestMap& requests) override;

private:
    IMachineModelOwner& owner;
    std::map<uint8_t, std::pair<uint8_t, uint8_t>> kestrelCommandMap;
};
