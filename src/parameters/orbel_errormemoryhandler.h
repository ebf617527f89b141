#pragma once
#include <cstdint>
#include <map>
#include <mutex>

#include "commdiag/types.h"
#include "parameters/parameter_requests.h"

class ORBEL_ConvBuffer;

// The local copy of the machine's error buffer (object 0x5300, one entry per sub-index from 1):
// read whole, entry after entry, answered to the host as 5-byte legacy records, and cleared by
// writing zero entries back. Filled by completion callbacks on the stack's threads and read by
// the host's thread, under one lock that is never held while a request is being started.
class ORBEL_ErrorMemoryHandler {
public:
    using ErrorBufferEntry = CommDiag::ErrorBufferEntry;

    explicit ORBEL_ErrorMemoryHandler(IParameterRequests& requests) : requests(requests) {}
    ORBEL_ErrorMemoryHandler(const ORBEL_ErrorMemoryHandler&) = delete;
    ORBEL_ErrorMemoryHandler& operator=(const ORBEL_ErrorMemoryHandler&) = delete;

    bool StartErrorMemoryReadRequest(int32_t* startResult);
    void AddErrorMemoryEntry(uint8_t number, const ErrorBufferEntry& entry);
    // Writes 1 at `offset` and the records after it, no further than offset + length - 1.
    uint32_t BuildErrorMemoryReadReqAnswer(uint32_t address, uint8_t length, ORBEL_ConvBuffer* buffer, uint32_t offset);
    // Zeroes the copy and starts writing it back. `startResult` tells a refused first write
    // apart from an empty copy (both return false).
    bool ResetErrorMemory(int32_t* startResult = nullptr);
    bool WriteErrorBufferElements(int32_t* startResult = nullptr);
    void reset();

    size_t entryCount();

private:
    IParameterRequests& requests;
    std::mutex lock;
    std::map<uint8_t, ErrorBufferEntry> entries;
    uint32_t writeIndex = 0;
};
