#pragma once
#include "download/download_requests.h"
#include "machine/machine_requests.h"
#include "machine_link/orbel_commdiag.h"
#include "parameters/parameter_requests.h"

// The machine requests of the handlers and models, started through ORBEL_CommDiag. The
// converter object holds one and hands it to what it owns.
class ORBEL_LinkRequests final : public IMachineRequests, public IParameterRequests, public IDownloadRequests {
public:
    int32_t WriteOutput(uint8_t outputNumber, uint8_t value) override {
        return ORBEL_CommDiag::WriteOutput(outputNumber, value);
    }
    int32_t ReadMachineParameter(int32_t valueType, uint8_t subIndex) override {
        return ORBEL_CommDiag::ReadMachineParameter(valueType, subIndex);
    }
    int32_t WriteMachineParameter(int32_t valueType, uint8_t subIndex, uint32_t value) override {
        return ORBEL_CommDiag::WriteMachineParameter(valueType, subIndex, value);
    }
    int32_t ReadOpHoursCounter(int32_t valueType, uint8_t subIndex) override {
        return ORBEL_CommDiag::ReadOpHoursCounter(valueType, subIndex);
    }
    int32_t WriteOpHoursCounter(int32_t valueType, uint8_t subIndex, uint32_t value) override {
        return ORBEL_CommDiag::WriteOpHoursCounter(valueType, subIndex, value);
    }
    int32_t ReadErrorBufferEntry(uint8_t entryNumber) override {
        return ORBEL_CommDiag::ReadErrorBufferEntry(entryNumber);
    }
    int32_t WriteErrorBufferEntry(uint8_t entryNumber, const CommDiag::ErrorBufferEntry* entry) override {
        return ORBEL_CommDiag::WriteErrorBufferEntry(entryNumber, entry);
    }
    int32_t CloseConnection() override { return ORBEL_CommDiag::CloseConnection(); }
    int32_t StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize,
                               const uint32_t* localAddress) override {
        return ORBEL_CommDiag::StartBlockTransfer(path, blockId, packetSize, localAddress);
    }
    int32_t GetBlockTransferProgress(uint8_t* percent) override {
        return ORBEL_CommDiag::GetBlockTransferProgress(percent);
    }
    int32_t StartFirmwareUpdate(const char* path) override { return ORBEL_CommDiag::StartFirmwareUpdate(path); }
    int32_t GetFirmwareUpdateProgress(uint8_t* percent) override {
        return ORBEL_CommDiag::GetFirmwareUpdateProgress(percent);
    }
};
