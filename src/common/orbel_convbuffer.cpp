#include "common/orbel_convbuffer.h"

#include <cstring>
#include <mutex>

#include "common/orbel_trace.h"

namespace {
const char* const kUnit = "src\\orbel_conv\\orbel_convbuffer";
}

ORBEL_ConvBuffer::ORBEL_ConvBuffer(uint32_t capacity) : bufferSize(capacity), data(new uint8_t[capacity]()) {
    ORBEL_ASSERT(hAccess.valid(), kUnit);
}

bool ORBEL_ConvBuffer::writeBytes(uint32_t count, const uint8_t* bytes) {
    // 64-bit sum: a huge count from the host must not wrap round the capacity test.
    if (static_cast<uint64_t>(wrPos) + count >= bufferSize) return false;
    std::lock_guard<platform::Mutex> lock(hAccess);
    if (count > 0) std::memcpy(&data[wrPos], bytes, count);
    wrPos += count;
    return true;
}

bool ORBEL_ConvBuffer::popByte(uint8_t* byte) {
    if (rdPos >= wrPos) return false;
    std::lock_guard<platform::Mutex> lock(hAccess);
    *byte = data[rdPos];
    ++rdPos;
    if (rdPos == wrPos) rdPos = wrPos = 0;
    return true;
}

bool ORBEL_ConvBuffer::readByte(uint32_t index, uint8_t* byte) {
    if (!ORBEL_ASSERT(wrPos >= rdPos, kUnit)) return false;
    if (index >= wrPos - rdPos) return false;
    if (!ORBEL_ASSERT((rdPos + index) < bufferSize, kUnit)) return false;
    std::lock_guard<platform::Mutex> lock(hAccess);
    *byte = data[rdPos + index];
    return true;
}

bool ORBEL_ConvBuffer::changeByte(uint32_t index, uint8_t value) {
    if (!ORBEL_ASSERT(wrPos >= rdPos, kUnit)) return false;
    if (index >= wrPos - rdPos) return false;
    if (!ORBEL_ASSERT((rdPos + index) < bufferSize, kUnit)) return false;
    std::lock_guard<platform::Mutex> lock(hAccess);
    data[rdPos + index] = value;
    return true;
}

uint32_t ORBEL_ConvBuffer::getByteCount() {
    if (!ORBEL_ASSERT(wrPos >= rdPos, kUnit)) return 0;
    return wrPos - rdPos;
}

void ORBEL_ConvBuffer::clear() {
    std::memset(data.get(), 0, bufferSize);
    rdPos = wrPos = 0;
}
