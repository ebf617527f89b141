#include "parameters/orbel_parameterhandler.h"

#include <cstring>
#include <fstream>
#include <vector>

#include "common/orbel_convbuffer.h"
#include "common/orbel_trace.h"
#include "parameters/object_map.h"

namespace {
// Every request works on list 0, whatever key its files were loaded under.
constexpr uint8_t kRequestListKey = 0;
}  // namespace

ORBEL_ParameterList& ORBEL_ParameterHandler::list(uint8_t key) { return lists[key]; }

bool ORBEL_ParameterHandler::AddParameterDescription(const char* path, uint8_t listKey) {
    const char* const name = "ORBEL_ParameterHandler::AddParameterDescription";
    ORBEL_Trace("%s(): opening %s\n", name, path);
    std::vector<std::string> lines;
    {
        std::ifstream file(path, std::ios::in | std::ios::binary);
        if (!file) {
            ORBEL_Trace("%s(): unable to open parameter file %s\n", name, path);
            return false;
        }
        std::string line;
        while (std::getline(file, line)) lines.push_back(line);
        if (file.bad()) {  // opened but not readable, a folder for one
            ORBEL_Trace("%s(): unable to open parameter file %s\n", name, path);
            return false;
        }
    }  // closed before the lines are taken in
    std::lock_guard<std::mutex> guard(lock);
    list(listKey).AddDescriptionLines(lines);
    return true;
}

void ORBEL_ParameterHandler::ClearParameterList() {
    ORBEL_Trace("%s(): clearing parameter index\n", "ORBEL_ParameterHandler::ClearParameterList");
    std::lock_guard<std::mutex> guard(lock);
    for (auto& entry : lists) entry.second.clear();
    lists.clear();
    currentListKey = 0;
}

bool ORBEL_ParameterHandler::StartParameterReadRequest(int32_t* startResult, uint32_t address, uint8_t length) {
    ORBEL_Trace("%s(): requested addr: 0x%04x requested length: %d\n",
                "ORBEL_ParameterHandler::StartParameterReadRequest", address, length);
    {
        std::lock_guard<std::mutex> guard(lock);
        list(kRequestListKey).MarkParametersToBeRequested(address, length);
        currentListKey = kRequestListKey;
    }
    return RunReadRequest(startResult, kRequestListKey);
}

bool ORBEL_ParameterHandler::RunReadRequest(int32_t* startResult, uint8_t listKey) {
    return runRequest(false, startResult, listKey);
}

bool ORBEL_ParameterHandler::runRequest(bool write, int32_t* startResult, uint8_t listKey) {
    const char* const name =
        write ? "ORBEL_ParameterHandler::RunWriteRequest" : "ORBEL_ParameterHandler::RunReadRequest";
    ParameterRequest request;
    {
        std::lock_guard<std::mutex> guard(lock);
        size_t remaining = 0;
        ORBEL_ParameterList& queue = list(listKey);
        if (!(write ? queue.TakeWriteRequest(&request, &remaining) : queue.TakeReadRequest(&request, &remaining)))
            return false;
        ORBEL_Trace(write ? "%s(): queued elements: %d\n" : "%s(): queue elements: %d\n", name,
                    static_cast<int>(remaining));
        currentAddress = request.address;
        currentObjectId = request.canObjectId;
    }
    const int32_t type = request.valueType;
    if (write)
        ORBEL_Trace("%s(): starting new parameter write request type: 0x%04x sub index: %d value: 0x%04x\n", name,
                    static_cast<unsigned>(type), request.canSubIndex, request.value);
    else
        ORBEL_Trace("%s(): starting new parameter request param type: 0x%04x sub index: %d parameter address: 0x%02x\n",
                    name, static_cast<unsigned>(type), request.canSubIndex, request.address);
    // Every counter object goes through the counter operations (the parameter objects of the
    // same type are other data).
    if (isCounterObject(request.canObjectId)) {
        ORBEL_Trace("%s(): Starting op hours request\n", name);
        *startResult = write ? requests.WriteOpHoursCounter(type, request.canSubIndex, request.value)
                             : requests.ReadOpHoursCounter(type, request.canSubIndex);
    } else {
        ORBEL_Trace(write ? "%s(): Starting parameter write request\n" : "%s(): Starting parameter request\n", name);
        *startResult = write ? requests.WriteMachineParameter(type, request.canSubIndex, request.value)
                             : requests.ReadMachineParameter(type, request.canSubIndex);
    }
    if (*startResult != 0)
        ORBEL_Trace("%s(): unable to start machine parameter request %d\n", name, static_cast<int>(*startResult));
    else
        ORBEL_Trace("%s(): machine request running 0x%04x 0x%02x\n", name, request.canObjectId, request.canSubIndex);
    return true;
}

void ORBEL_ParameterHandler::SetParameterValueForCurrentReq(int32_t valueType, const void* value) {
    const char* const name = "ORBEL_ParameterHandler::SetParameterValueForCurrentReq";
    std::lock_guard<std::mutex> guard(lock);
    if (!isCounterObject(currentObjectId)) {
        list(currentListKey).SetParameterValue(currentAddress, valueType, value);
        return;
    }
    // A counter arrives whole, in seconds; each legacy byte address stands for one part of it.
    uint32_t seconds = 0;
    switch (CanObjIdToType(currentObjectId)) {
        case 1:
        case 4: {
            uint8_t v;
            std::memcpy(&v, value, 1);
            seconds = v;
            break;
        }
        case 2:
        case 5: {
            uint16_t v;
            std::memcpy(&v, value, 2);
            seconds = v;
            break;
        }
        default: std::memcpy(&seconds, value, 4); break;
    }
    if (currentObjectId == kCounterObjectU32 &&
        static_cast<int32_t>(currentAddress) == owner.getOpHoursCounterReqAddr()) {
        owner.setMainOpHoursCounter(seconds);
        ORBEL_Trace("%s(): op hours counter value detected - value %d\n", name, static_cast<int>(seconds));
        return;
    }
    const uint8_t b = owner.handleReadOpHoursCounter(currentAddress, seconds);
    ORBEL_Trace("%s(): op hours counter value detected - value %d\n", name, b);
    list(currentListKey).SetParameterValue(currentAddress, 1, &b);
}

void ORBEL_ParameterHandler::BuildParameterReadReqAnswer(uint32_t address, uint8_t count, ORBEL_ConvBuffer* buffer,
                                                         uint32_t position) {
    const char* const name = "ORBEL_ParameterHandler::BuildParameterReadReqAnswer";
    std::lock_guard<std::mutex> guard(lock);
    const ORBEL_ParameterList& values = list(currentListKey);
    const uint32_t end = position + count;  // first position past the answer's data area
    auto put = [&](uint32_t at, uint8_t byte) {
        if (at < end) buffer->changeByte(at, byte);
    };
    for (uint32_t i = 0; i < count; ++i, ++address, ++position) {
        const uint32_t v = values.GetParameterValue(address);
        const uint32_t n = values.GetParamByteCount(address);
        ORBEL_Trace("%s(): add value 0x%02x to position %d with byte count %d\n", name, v, static_cast<int>(position),
                    static_cast<int>(n));
        switch (n) {
            case 1:
                put(position, static_cast<uint8_t>(v));
                if (v > 0xFF)
                    ORBEL_Trace("%s(): we are loosing data on address %d data: 0x%08x!\n", name,
                                static_cast<int>(address), v);
                break;
            case 2:
                put(position, static_cast<uint8_t>(v));
                put(position + 1, static_cast<uint8_t>(v >> 8));
                if (v > 0xFFFF)
                    ORBEL_Trace("%s(): we are loosing data on address %d data: 0x%08x!\n", name,
                                static_cast<int>(address), v);
                address += 1;
                position += 1;
                i += 1;
                break;
            case 4:
                for (uint32_t k = 0; k < 4; ++k) put(position + k, static_cast<uint8_t>(v >> (8 * k)));
                address += 3;
                position += 3;
                i += 3;
                break;
            default:
                ORBEL_Trace("%s(): parameter on address %d doesn't exists or is part of another value\n", name,
                            static_cast<int>(address));
                break;
        }
    }
}

void ORBEL_ParameterHandler::ChangeValueForCurrentReqAddressBased(uint32_t address, uint8_t b0, uint8_t b1, uint8_t b2,
                                                                  uint8_t b3) {
    const char* const name = "ORBEL_ParameterHandler::ChangeValueForCurrentReqAddressBased";
    ORBEL_Trace("%s(): address: %d value0: 0x%02x value1: 0x%02x value2: 0x%02x value3: 0x%02x\n", name,
                static_cast<int>(address), b0, b1, b2, b3);
    std::lock_guard<std::mutex> guard(lock);
    ORBEL_ParameterList& values = list(currentListKey);
    const uint32_t n = values.GetParamByteCount(address);
    switch (n) {
        case 1: {
            const uint8_t v = b0;
            values.ChangeParameterValue(address, 1, &v);
            break;
        }
        case 2: {
            const uint16_t v = static_cast<uint16_t>(b0 | (b1 << 8));
            values.ChangeParameterValue(address, 2, &v);
            break;
        }
        case 4: {
            const uint32_t v = b0 | (b1 << 8) | (b2 << 16) | (static_cast<uint32_t>(b3) << 24);
            values.ChangeParameterValue(address, 3, &v);
            break;
        }
        default:
            ORBEL_Trace("%s(): unable to change value for parameter %d - wrong parameter size %d\n", name,
                        static_cast<int>(address), static_cast<int>(n));
            break;
    }
}

uint32_t ORBEL_ParameterHandler::GetParamByteCount(uint32_t address) {
    std::lock_guard<std::mutex> guard(lock);
    return list(currentListKey).GetParamByteCount(address);
}

bool ORBEL_ParameterHandler::StartParameterWriteRequest(int32_t* startResult) {
    {
        std::lock_guard<std::mutex> guard(lock);
        list(kRequestListKey).MarkChangedParametersToBeWritten(owner);
        currentListKey = kRequestListKey;
    }
    return RunWriteRequest(startResult, kRequestListKey);
}

bool ORBEL_ParameterHandler::RunWriteRequest(int32_t* startResult, uint8_t listKey) {
    return runRequest(true, startResult, listKey);
}

void ORBEL_ParameterHandler::WriteRequestSucceeded() {
    std::lock_guard<std::mutex> guard(lock);
    if (!isCounterObject(currentObjectId)) return;
    const uint32_t start = owner.getOpHoursCounterStartAddr(currentAddress);
    if (start != 0)
        list(currentListKey).ClearChangedFlags(start, 4);
    else
        list(currentListKey).ClearChangedFlags(currentAddress, 1);
}

void ORBEL_ParameterHandler::setCurrentRequest(uint32_t address, uint32_t objectId) {
    std::lock_guard<std::mutex> guard(lock);
    currentAddress = address;
    currentObjectId = objectId;
}

uint32_t ORBEL_ParameterHandler::getCurrentObjectId() {
    std::lock_guard<std::mutex> guard(lock);
    return currentObjectId;
}

size_t ORBEL_ParameterHandler::parameterCount(uint8_t listKey) {
    std::lock_guard<std::mutex> guard(lock);
    const auto found = lists.find(listKey);
    return found == lists.end() ? 0 : found->second.size();
}

bool ORBEL_ParameterHandler::hasParameter(uint8_t listKey, uint32_t address) {
    std::lock_guard<std::mutex> guard(lock);
    const auto found = lists.find(listKey);
    return found != lists.end() && found->second.find(address) != nullptr;
}
