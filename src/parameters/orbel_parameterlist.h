#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/parameter_description_line.h"
#include "parameters/orbel_parameter.h"

class IParameterOwner;

// The parameters of one description file set, by legacy address, and the queues of pending
// machine reads and writes, consumed lowest address first.
class ORBEL_ParameterList {
public:
    // Reads one description file's lines into the list; malformed lines are logged and skipped.
    void AddDescriptionLines(const std::vector<std::string>& lines);
    void AddDescriptionLine(const std::string& line);

    void AddParameter(uint32_t address, int32_t sizeCode, uint32_t canObjectId, uint8_t canSubIndex,
                      const std::string& name, uint32_t value);
    uint32_t GetParamByteCount(uint32_t address) const;
    uint32_t GetParameterValue(uint32_t address) const;
    bool SetParameterValue(uint32_t address, int32_t valueType, const void* value);
    bool ChangeParameterValue(uint32_t address, int32_t valueType, const void* value);
    bool MarkParametersToBeRequested(uint32_t address, uint32_t count);
    bool MarkChangedParametersToBeWritten(IParameterOwner& owner);
    void FilterSpecialParameters(IParameterOwner& owner);

    // The lowest-address request, taken out of its queue; false when the queue is empty.
    bool TakeReadRequest(ParameterRequest* request, size_t* remaining);
    bool TakeWriteRequest(ParameterRequest* request, size_t* remaining);

    // A counter's write has reached the machine: its bytes are no longer pending changes.
    void ClearChangedFlags(uint32_t firstAddress, uint32_t count);

    const ORBEL_Parameter* find(uint32_t address) const;
    size_t size() const { return parameters.size(); }
    void clear();

private:
    bool storeValue(const char* name, const char* verb, uint32_t address, int32_t valueType, const void* value,
                    bool markChanged);

    std::map<uint32_t, ParameterRequest> requestMap;
    std::map<uint32_t, ParameterRequest> writeRequestMap;
    std::map<uint32_t, ORBEL_Parameter> parameters;
};
