#include "parameters/orbel_errormemoryhandler.h"

#include <iterator>

#include "common/orbel_convbuffer.h"
#include "common/orbel_trace.h"

namespace {
constexpr uint32_t kRecordSize = 5;
constexpr uint32_t kLastEntryNumber = 255;  // sub-index 0 is not an entry
}  // namespace

void ORBEL_ErrorMemoryHandler::reset() {
    const char* const name = "ORBEL_ErrorMemoryHandler::reset";
    ORBEL_Trace("%s(): ++\n", name);
    {
        std::lock_guard<std::mutex> guard(lock);
        entries.clear();
        writeIndex = 0;
    }
    ORBEL_Trace("%s(): --\n", name);
}

bool ORBEL_ErrorMemoryHandler::StartErrorMemoryReadRequest(int32_t* startResult) {
    const char* const name = "ORBEL_ErrorMemoryHandler::StartErrorMemoryReadRequest";
    ORBEL_Trace("%s(): ++\n", name);
    reset();
    *startResult = requests.ReadErrorBufferEntry(1);
    const bool started = *startResult == 0;
    if (started)
        ORBEL_Trace("%s(): error memory request running %d\n", name, 1);
    else
        ORBEL_Trace("%s(): unable to start error memory request %d\n", name, static_cast<int>(*startResult));
    ORBEL_Trace("%s(): -- ret: %d\n", name, started ? 1 : 0);
    return started;
}

void ORBEL_ErrorMemoryHandler::AddErrorMemoryEntry(uint8_t number, const ErrorBufferEntry& entry) {
    const char* const name = "ORBEL_ErrorMemoryHandler::AddErrorMemoryEntry";
    std::lock_guard<std::mutex> guard(lock);
    auto found = entries.find(number);
    if (found == entries.end()) {
        found = entries.emplace(number, ErrorBufferEntry{}).first;
    } else {
        ORBEL_Trace("%s(): error memory entry for index %d already exists. duplicate?", name, number);
    }
    ErrorBufferEntry& kept = found->second;
    kept.counter = entry.counter;
    kept.id = entry.id;
    kept.info.state = entry.info.state;
    kept.info.flag = entry.info.flag;
    kept.dataA = entry.dataA;
    kept.timeMinutes = entry.timeMinutes;
    kept.dataC = entry.dataC;
    kept.dataD = entry.dataD;
    ORBEL_Trace("%s(): it->second.id: %d it->second.info.state %d it->second.counter %d (subIndex: %d)\n", name,
                static_cast<int>(kept.id), kept.info.state, kept.counter, number);
}

uint32_t ORBEL_ErrorMemoryHandler::BuildErrorMemoryReadReqAnswer(uint32_t, uint8_t length, ORBEL_ConvBuffer* buffer,
                                                                 uint32_t offset) {
    const char* const name = "ORBEL_ErrorMemoryHandler::BuildErrorMemoryReadReqAnswer";
    std::lock_guard<std::mutex> guard(lock);
    ORBEL_Trace("%s(): error memory size: %d (buffer offset: %d)\n", name, static_cast<int>(entries.size()),
                static_cast<int>(offset));
    const uint32_t end = offset + length;  // the records stay inside the requested area
    if (offset < end) buffer->changeByte(offset, 1);
    uint32_t k = 0;
    for (const auto& entry : entries) {
        const uint32_t p = offset + 1 + kRecordSize * k;
        if (p + kRecordSize > end) break;
        const ErrorBufferEntry& e = entry.second;
        ORBEL_Trace("%s(): add error entry: %d (%d)\n", name, static_cast<int>(e.id), static_cast<int>(e.id & 0xFF));
        ORBEL_Trace("%s(): error entry will be stored on index %d\n", name, static_cast<int>(p));
        const uint32_t hours = e.timeMinutes / 60u;
        buffer->changeByte(p, static_cast<uint8_t>(e.id & 0xFF));
        buffer->changeByte(p + 1, 0);
        buffer->changeByte(p + 2, static_cast<uint8_t>(e.timeMinutes % 60u));
        buffer->changeByte(p + 3, static_cast<uint8_t>(hours & 0xFF));
        buffer->changeByte(p + 4, static_cast<uint8_t>(hours / 256u));
        ++k;
    }
    return k;
}

bool ORBEL_ErrorMemoryHandler::ResetErrorMemory(int32_t* startResult) {
    {
        std::lock_guard<std::mutex> guard(lock);
        // Every field zero, the flag byte's upper bits included: a cleared entry is all zero.
        for (auto& entry : entries) entry.second = ErrorBufferEntry{};
        writeIndex = 0;
    }
    return WriteErrorBufferElements(startResult);
}

bool ORBEL_ErrorMemoryHandler::WriteErrorBufferElements(int32_t* startResult) {
    const char* const name = "ORBEL_ErrorMemoryHandler::WriteErrorBufferElements";
    if (startResult != nullptr) *startResult = 0;
    ErrorBufferEntry entry{};
    uint32_t index = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (writeIndex >= entries.size() || writeIndex >= kLastEntryNumber) return false;
        auto it = entries.begin();
        std::advance(it, writeIndex);
        entry = it->second;
        index = writeIndex++;
    }
    // The entry is copied: the write may complete, and the next one start, inside this call.
    const int32_t result = requests.WriteErrorBufferEntry(static_cast<uint8_t>(index + 1), &entry);
    ORBEL_Trace("%s(): started error buffer writing (index: %d)\n", name, static_cast<int>(index));
    if (startResult != nullptr) *startResult = result;
    if (result != 0) {
        ORBEL_Trace("%s(): unable to write error buffer entry (index: %d ret: %d)\n", name, static_cast<int>(index),
                    static_cast<int>(result));
        return false;
    }
    return true;
}

size_t ORBEL_ErrorMemoryHandler::entryCount() {
    std::lock_guard<std::mutex> guard(lock);
    return entries.size();
}
