#include "parameters/orbel_parameterlist.h"

#include <cstring>

#include "common/orbel_trace.h"
#include "common/parameter_description_line.h"
#include "parameters/object_map.h"
#include "parameters/parameter_requests.h"

namespace {

constexpr size_t kFieldsPerLine = 14;
constexpr int64_t kAddressOffset = 16;  // legacy address = parameter number + 16
constexpr int64_t kLargestAddress = 0xFFFF;
constexpr int64_t kLargestObjectIndex = 0xFFFF;

// Reads the value a machine read delivered, as the bit pattern of its width.
bool readValue(int32_t valueType, const void* value, uint32_t* out) {
    switch (valueType) {
        case 1:
        case 4: {
            uint8_t v;
            std::memcpy(&v, value, 1);
            *out = v;
            return true;
        }
        case 2:
        case 5: {
            uint16_t v;
            std::memcpy(&v, value, 2);
            *out = v;
            return true;
        }
        case 3:
        case 6: {
            uint32_t v;
            std::memcpy(&v, value, 4);
            *out = v;
            return true;
        }
        default: return false;
    }
}

}  // namespace

void ORBEL_ParameterList::AddDescriptionLines(const std::vector<std::string>& lines) {
    for (const auto& line : lines) AddDescriptionLine(line);
}

void ORBEL_ParameterList::AddDescriptionLine(const std::string& rawLine) {
    const char* const name = "ORBEL_ParameterHandler::AddParameterDescription";
    // Files written on Windows end their lines with CR LF: the same file.
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = SplitParameterLine(line);
    if (fields.size() != kFieldsPerLine) {
        ORBEL_Trace("%s(): unable to split line %s\n", name, line.c_str());
        return;
    }
    const int64_t number = ParseDescriptionNumber(fields[0]);
    const int64_t typeCode = ParseDescriptionNumber(fields[2]);
    const int64_t objectIndex = ParseDescriptionNumber(fields[12]);
    const int64_t subIndex = ParseDescriptionNumber(fields[13]);
    const int64_t address = number + kAddressOffset;
    if (typeCode < 1 || typeCode > 6) {
        ORBEL_Trace("%s(): %s\n", name, line.c_str());
        ORBEL_Trace("%s(): unable to parse parameter type! %s - parameter %d will be ignored\n", name,
                    fields[1].c_str(), static_cast<int>(address));
        return;
    }
    if (address < 0 || address > kLargestAddress || objectIndex < 0 || objectIndex > kLargestObjectIndex) {
        ORBEL_Trace("%s(): number out of range - line ignored: %s\n", name, line.c_str());
        return;
    }
    ORBEL_Trace("%s(): adding parameter %s addr %d canObjectId 0x%04x canSubIndex %d\n", name, fields[1].c_str(),
                static_cast<int>(address), static_cast<unsigned>(objectIndex), static_cast<int>(subIndex & 0xFF));
    AddParameter(static_cast<uint32_t>(address), static_cast<int32_t>(typeCode - 1), static_cast<uint32_t>(objectIndex),
                 static_cast<uint8_t>(subIndex & 0xFF), fields[1], 0);
}

void ORBEL_ParameterList::AddParameter(uint32_t address, int32_t sizeCode, uint32_t canObjectId, uint8_t canSubIndex,
                                       const std::string& name, uint32_t value) {
    auto found = parameters.find(address);
    if (found != parameters.end()) {
        ORBEL_Trace("%s(): parameter %d with name %s already exists - duplicate?\n",
                    "ORBEL_ParameterList::AddParameter", static_cast<int>(address), name.c_str());
    } else {
        found = parameters.emplace(address, ORBEL_Parameter{}).first;
    }
    ORBEL_Parameter& p = found->second;
    p.sizeCode = sizeCode;
    p.canObjectId = canObjectId;
    p.canSubIndex = canSubIndex;
    p.setValue(value);
    p.name = name;
    p.address = address;
}

const ORBEL_Parameter* ORBEL_ParameterList::find(uint32_t address) const {
    const auto found = parameters.find(address);
    return found == parameters.end() ? nullptr : &found->second;
}

uint32_t ORBEL_ParameterList::GetParamByteCount(uint32_t address) const {
    const char* const name = "ORBEL_ParameterList::GetParamByteCount";
    const ORBEL_Parameter* p = find(address);
    if (p == nullptr) {
        ORBEL_Trace("%s(): unable to find parameter on address %d\n", name, static_cast<int>(address));
        return 0;
    }
    const uint32_t count = p->byteCount();
    if (count == 0)
        ORBEL_Trace("%s(): invalid size %d value for address %d\n", name, static_cast<int>(p->sizeCode),
                    static_cast<int>(address));
    return count;
}

uint32_t ORBEL_ParameterList::GetParameterValue(uint32_t address) const {
    const ORBEL_Parameter* p = find(address);
    if (p == nullptr) return 0xFFFFFFFFu;
    ORBEL_Trace("%s(): getting value 0x%x for addr %d name %s\n", "ORBEL_ParameterList::GetParameterValue", p->value,
                static_cast<int>(address), p->name.c_str());
    return p->value;
}

bool ORBEL_ParameterList::storeValue(const char* name, const char* verb, uint32_t address, int32_t valueType,
                                     const void* value, bool markChanged) {
    ORBEL_Trace("%s(): ++\n", name);
    bool result = false;
    auto found = parameters.find(address);
    if (found == parameters.end()) {
        ORBEL_Trace("%s(): unable to find parameter for address 0x%02x\n", name, address);
    } else {
        ORBEL_Trace("%s(): %s value for parameter addr %d name %s\n", name, verb, static_cast<int>(address),
                    found->second.name.c_str());
        uint32_t v = 0;
        // Signed values are kept as their bit pattern at their width; floats are not kept.
        if (readValue(valueType, value, &v)) {
            if (markChanged)
                found->second.changeValue(v);
            else
                found->second.setValue(v);
            result = true;
        } else {
            ORBEL_Trace("%s(): valueType %d ... unhandled\n", name, static_cast<int>(valueType));
        }
    }
    ORBEL_Trace("%s(): -- ret: %d\n", name, result ? 1 : 0);
    return result;
}

bool ORBEL_ParameterList::SetParameterValue(uint32_t address, int32_t valueType, const void* value) {
    return storeValue("ORBEL_ParameterList::SetParameterValue", "setting", address, valueType, value, false);
}

bool ORBEL_ParameterList::ChangeParameterValue(uint32_t address, int32_t valueType, const void* value) {
    return storeValue("ORBEL_ParameterList::ChangeParameterValue", "changing", address, valueType, value, true);
}

bool ORBEL_ParameterList::MarkParametersToBeRequested(uint32_t address, uint32_t count) {
    const char* const name = "ORBEL_ParameterList::MarkParametersToBeRequested";
    for (uint32_t a = address; a < address + count; ++a) {
        const ORBEL_Parameter* p = find(a);
        if (p == nullptr) {
            ORBEL_Trace("%s(): unable to find parameter at address 0x%02x\n", name, a);
            continue;
        }
        if (CanObjIdToType(p->canObjectId) == 0) {
            ORBEL_Trace("%s(): CanObjIdToType failed for parameter at addres 0x%02x\n", name, a);
            continue;
        }
        // A float object (or any type the link's read refuses) would end the whole read.
        if (!isReadableObject(p->canObjectId)) {
            ORBEL_Trace("%s(): invalid object id - changed parameter will be ignored!\n", name);
            continue;
        }
        ParameterRequest request;
        request.address = a;
        request.canObjectId = p->canObjectId;
        request.canSubIndex = p->canSubIndex;
        request.valueType = CanObjIdToType(p->canObjectId);
        requestMap[a] = request;
        ORBEL_Trace("%s(): element in requestMap addr 0x%02x name: %s\n", name, a, p->name.c_str());
    }
    return true;
}

bool ORBEL_ParameterList::MarkChangedParametersToBeWritten(IParameterOwner& owner) {
    const char* const name = "ORBEL_ParameterList::MarkChangedParametersToBeWritten";
    for (const auto& entry : parameters) {
        const ORBEL_Parameter& p = entry.second;
        if (!p.changed) continue;
        ORBEL_Trace("%s(): found changed parameter on address %d with value 0x%04x.\n", name,
                    static_cast<int>(p.address), p.value);
        if (!isWritableObject(p.canObjectId)) {
            ORBEL_Trace("%s(): invalid object id - changed parameter will be ignored!\n", name);
            continue;
        }
        ParameterRequest request;
        request.address = p.address;
        request.canObjectId = p.canObjectId;
        request.canSubIndex = p.canSubIndex;
        request.valueType = CanObjIdToType(p.canObjectId);
        request.value = p.value;
        writeRequestMap[p.address] = request;
        ORBEL_Trace("%s(): element with address %d added to request map\n", name, static_cast<int>(p.address));
        ORBEL_Trace("%s(): write request map size %d\n", name, static_cast<int>(writeRequestMap.size()));
    }
    FilterSpecialParameters(owner);
    return true;
}

void ORBEL_ParameterList::FilterSpecialParameters(IParameterOwner& owner) {
    const char* const name = "ORBEL_ParameterList::FilterSpecialParameters";
    for (auto it = writeRequestMap.begin(); it != writeRequestMap.end(); ++it) {
        ParameterRequest& request = it->second;
        if (request.canObjectId == kCounterObjectU16) {
            ORBEL_Trace("%s(): ID_OP_HOURS_COUNTER_UINT16 not supported!\n", name);
            continue;
        }
        if (request.canObjectId != kCounterObjectU32) continue;
        const uint32_t start = owner.getOpHoursCounterStartAddr(request.address);
        uint8_t bytes[4] = {0, 0, 0, 0};  // a byte missing from the files counts as 0
        for (uint32_t k = 0; k < 4; ++k) {
            if (find(start + k) == nullptr) {
                ORBEL_Trace("%s(): unable to find valu for address %d\n", name, static_cast<int>(start + k));
                continue;
            }
            bytes[k] = static_cast<uint8_t>(GetParameterValue(start + k) & 0xFF);
        }
        request.value = owner.handleWriteOpHoursCounter(bytes[0], bytes[1], bytes[2], bytes[3]);
        for (uint32_t k = 1; k < 4; ++k) {
            const auto other = writeRequestMap.find(start + k);
            if (other == writeRequestMap.end() || other == it) continue;
            ORBEL_Trace("%s(): delete unnecessary write request address %d\n", name, static_cast<int>(start + k));
            writeRequestMap.erase(other);
        }
    }
}

namespace {
bool takeFirst(std::map<uint32_t, ParameterRequest>& queue, ParameterRequest* request, size_t* remaining) {
    if (queue.empty()) return false;
    *request = queue.begin()->second;
    queue.erase(queue.begin());
    *remaining = queue.size();
    return true;
}
}  // namespace

bool ORBEL_ParameterList::TakeReadRequest(ParameterRequest* request, size_t* remaining) {
    return takeFirst(requestMap, request, remaining);
}

bool ORBEL_ParameterList::TakeWriteRequest(ParameterRequest* request, size_t* remaining) {
    return takeFirst(writeRequestMap, request, remaining);
}

void ORBEL_ParameterList::ClearChangedFlags(uint32_t firstAddress, uint32_t count) {
    for (uint32_t a = firstAddress; a < firstAddress + count; ++a) {
        const auto found = parameters.find(a);
        if (found != parameters.end()) found->second.changed = false;
    }
}

void ORBEL_ParameterList::clear() {
    parameters.clear();
    requestMap.clear();
    writeRequestMap.clear();
}
