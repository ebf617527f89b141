#pragma once
#include <array>
#include <atomic>
#include <cstdint>

#include "download/orbel_blockdownloadhandler.h"
#include "machine/feature_request.h"
#include "machine/machine_requests.h"
#include "machine/machinespecificdummy.h"
#include "machine/machinespecificheron.h"
#include "machine_link/orbel_linkrequests.h"
#include "parameters/orbel_errormemoryhandler.h"
#include "parameters/orbel_parameterhandler.h"
#include "parameters/parameter_requests.h"

class ORBEL_ConvBuffer;

// Machine type record as the machine reports it.
struct MachineTypeRecord {
    int32_t type;
    int32_t number;
    int32_t variant;
};

// What the converter knows about the connected machine: identification, modes, the model in
// use, and the feature (sensor) requests. Completion callbacks write it on the client's threads;
// the host's thread reads it once the converter state has left busy. The flags are atomics, and
// the converter state (written last by every callback, with release) publishes the rest.
// It owns the models and the handlers and hands them what they need from above them: the
// machine link's requests and itself as their owner.
class ORBEL_Machine : public IMachineModelOwner, public IParameterOwner, public IDownloadOwner {
public:
    ORBEL_Machine();
    ORBEL_Machine(const ORBEL_Machine&) = delete;
    ORBEL_Machine& operator=(const ORBEL_Machine&) = delete;

    // Identification and connection.
    void setMachineType(const MachineTypeRecord& record);
    MachineTypeRecord getMachineTypeRecord() const { return {machineType, machineNumber, machineVariant}; }
    int32_t getMachineNumber() const { return machineNumber; }
    bool isMachineIdentified() const { return machineIdentified.load(std::memory_order_acquire); }
    // A type record has been read since the last failed connection start, recognised or not.
    bool isMachineTypeRead() const { return machineTypeRead.load(std::memory_order_acquire); }
    // A version or type read that failed, kept until the identification command reports it.
    void setIdentificationFailed() { identificationFailed.store(true, std::memory_order_release); }
    bool takeIdentificationFailure() { return identificationFailed.exchange(false, std::memory_order_acq_rel); }
    void setConnected() { connected.store(true, std::memory_order_release); }
    bool isConnected() const { return connected.load(std::memory_order_acquire); }
    void resetMachineState();
    // Forgets the connection of a client that no longer exists (the library was de-initialised).
    void forgetConnection();
    // The machine got new firmware: its software version and identification are read again.
    void forgetSoftware();

    // Patch, minor, major. Written by a stack thread while the host may read it: stored whole.
    using SwVersion = std::array<uint8_t, 3>;
    void storeSwVersion(const uint8_t* bytes);
    SwVersion getSwVersion() const;
    bool isSwVersionRead() const { return swVersionRead.load(std::memory_order_acquire); }
    void storeSerialNumber(const uint8_t* bytes);
    bool isSerialNumberRead() const { return serialNumberRead.load(std::memory_order_acquire); }
    void storeMaterialNumber(const uint8_t* bytes);
    bool isMaterialNumberRead() const { return materialNumberRead.load(std::memory_order_acquire); }
    void copySerialNumber(uint8_t length, ORBEL_ConvBuffer* buffer, uint32_t position) const;
    void copyMaterialNumber(uint8_t length, ORBEL_ConvBuffer* buffer, uint32_t position) const;

    // Modes.
    bool isModuleModeObjectUsed() const { return useModuleModeObject.load(std::memory_order_acquire); }
    void setModuleModeObjectUsed() { useModuleModeObject.store(true, std::memory_order_release); }
    uint32_t getMachineMode() const { return machineMode.load(); }
    uint32_t getModuleMode() const { return moduleMode.load(); }
    uint32_t targetMachineMode(uint32_t read);
    uint32_t targetModuleMode(uint32_t read);
    bool setMachineMode(uint8_t legacyCode);

    uint32_t getMainOpHoursCounter() const override { return mainOpHoursCounter.load(); }
    void setMainOpHoursCounter(uint32_t seconds) override { mainOpHoursCounter.store(seconds); }
    void setCurrentParameterRequest(uint32_t address, uint32_t objectId) override {
        parameterHandler.setCurrentRequest(address, objectId);
    }

    // Feature (sensor) requests.
    uint8_t startSensorReq(uint32_t address, uint8_t length);
    bool runFeatureReq(uint32_t number);
    bool runNextFeatureReq();
    void setValueForCurrentFeatReq(uint8_t value);
    void setValueForCurrentFeatReq(uint16_t value);
    void setValueForCurrentFeatReq(uint32_t value);
    void setValueForCurrentFeatReq(int8_t value);
    void setValueForCurrentFeatReq(int16_t value);
    void setValueForCurrentFeatReq(int32_t value);
    void setValueForCurrentFeatReq(float value);
    void fillFeatReqBuf(uint32_t address, uint8_t length, ORBEL_ConvBuffer* buffer, uint32_t position);
    const FeatureRequestMap& getFeatureRequests() const { return featureRequests; }

    // The handlers the converter carries.
    ORBEL_ParameterHandler& getParameterHandler() { return parameterHandler; }
    ORBEL_ErrorMemoryHandler& getErrorMemoryHandler() { return errorMemoryHandler; }
    ORBEL_BlockDownloadHandler& getBlockDownloadHandler() { return blockDownloadHandler; }

    // The model in use; forwarders keep callers on the model chosen last.
    IMachineSpecific* getMachineSpecific() const { return machineSpecific.load(std::memory_order_acquire); }
    uint32_t getParameterAddrMin() { return getMachineSpecific()->getParameterAddrMin(); }
    uint32_t getParameterAddrMax() { return getMachineSpecific()->getParameterAddrMax(); }
    uint32_t getErrorArchiveAddrStart() { return getMachineSpecific()->getErrorArchiveAddrStart(); }
    uint32_t getErrorArchiveAddrEnd() { return getMachineSpecific()->getErrorArchiveAddrEnd(); }
    uint32_t getChargerParamAddrStart() { return getMachineSpecific()->getChargerParamAddrStart(); }
    uint32_t getChargerParamAddrEnd() { return getMachineSpecific()->getChargerParamAddrEnd(); }
    uint32_t getBlockDownloadAddrStart() { return getMachineSpecific()->getBlockDownloadAddrStart(); }
    uint32_t getBlockDownloadAddrEnd() { return getMachineSpecific()->getBlockDownloadAddrEnd(); }
    int32_t convertAddrToBlockDownloadId(uint32_t a) override {
        return getMachineSpecific()->convertAddrToBlockDownloadId(a);
    }
    uint32_t getBlockDownloadPacketSize(uint32_t a) override {
        return getMachineSpecific()->getBlockDownloadPacketSize(a);
    }
    bool dataBlockConvNecessary(uint32_t a) override { return getMachineSpecific()->dataBlockConvNecessary(a); }
    bool dataBlockConv(uint32_t a, const uint8_t* src, uint32_t* len, uint8_t* dst, uint32_t cap) override {
        return getMachineSpecific()->dataBlockConv(a, src, len, dst, cap);
    }
    uint8_t handleReadOpHoursCounter(uint32_t a, uint32_t s) override {
        return getMachineSpecific()->handleReadOpHoursCounter(a, s);
    }
    uint32_t getOpHoursCounterStartAddr(uint32_t a) override {
        return getMachineSpecific()->getOpHoursCounterStartAddr(a);
    }
    uint32_t handleWriteOpHoursCounter(uint8_t s, uint8_t m, uint8_t hl, uint8_t hh) override {
        return getMachineSpecific()->handleWriteOpHoursCounter(s, m, hl, hh);
    }
    uint32_t getSerialNumberReqAddr() { return getMachineSpecific()->getSerialNumberReqAddr(); }
    uint32_t getMaterialNumberReqAddr() { return getMachineSpecific()->getMaterialNumberReqAddr(); }
    int32_t getOpHoursCounterReqAddr() override { return getMachineSpecific()->getOpHoursCounterReqAddr(); }
    uint8_t startOpHoursCounterReq(uint32_t a, uint8_t l) { return getMachineSpecific()->startOpHoursCounterReq(a, l); }
    void fillOpHoursCounterReqBuf(uint32_t a, uint8_t l, ORBEL_ConvBuffer* b, uint32_t p) {
        getMachineSpecific()->fillOpHoursCounterReqBuf(a, l, b, p);
    }
    int32_t setOpHoursCounterValue(uint32_t a, const uint8_t* bytes, uint32_t p, uint8_t l) {
        return getMachineSpecific()->setOpHoursCounterValue(a, bytes, p, l);
    }
    bool handleCommand(uint32_t code) { return getMachineSpecific()->handleCommand(code); }
    bool isSensorReq(uint32_t a) { return getMachineSpecific()->isSensorReq(a); }

private:
    FeatureRequest* currentFeature(const char* name);

    std::atomic<bool> useModuleModeObject{false};
    std::atomic<IMachineSpecific*> machineSpecific{nullptr};
    FeatureRequestMap featureRequests;
    std::atomic<uint32_t> currentFeatureRequest{0};
    std::atomic<uint32_t> machineMode{0};
    std::atomic<uint32_t> moduleMode{0};
    std::atomic<bool> modeRequestedByHost{false};
    std::atomic<bool> connected{false};
    std::atomic<bool> swVersionRead{false};
    std::atomic<uint32_t> swVersion{0};  // patch, minor, major from the low byte up
    std::atomic<bool> machineIdentified{false};
    std::atomic<bool> machineTypeRead{false};
    std::atomic<bool> identificationFailed{false};
    bool modelRecognised = false;  // what machineIdentified says while the type stays the same
    int32_t machineType = 0;
    int32_t machineNumber = 0;
    int32_t machineVariant = 0;
    std::atomic<bool> serialNumberRead{false};
    uint8_t serialNumber[13] = {};
    std::atomic<bool> materialNumberRead{false};
    uint8_t materialNumber[13] = {};
    std::atomic<uint32_t> mainOpHoursCounter{0};

    // Declared before what it is handed to.
    ORBEL_LinkRequests linkRequests;

    MachineSpecificDummy dummyModel;
    MachineSpecificCrane craneModel;
    MachineSpecificSwift swiftModel;
    MachineSpecificRobin robinModel;
    MachineSpecificFinch finchModel;
    MachineSpecificWren wrenModel;
    MachineSpecificKestrel kestrelModel;

    ORBEL_ParameterHandler parameterHandler;
    ORBEL_ErrorMemoryHandler errorMemoryHandler;
    ORBEL_BlockDownloadHandler blockDownloadHandler;
};
