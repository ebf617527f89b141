#pragma once
#include <cstdint>
#include <memory>

#include "platform/mutex.h"

// A linear byte store between the host and the package handler: bytes are appended at wrPos
// and taken at rdPos; both return to 0 only when the buffer is read empty or cleared. The
// capacity test refuses a write that would reach the last byte, so a buffer of N bytes holds
// at most N - 1.
class ORBEL_ConvBuffer {
public:
    explicit ORBEL_ConvBuffer(uint32_t capacity);
    ORBEL_ConvBuffer(const ORBEL_ConvBuffer&) = delete;
    ORBEL_ConvBuffer& operator=(const ORBEL_ConvBuffer&) = delete;

    bool writeBytes(uint32_t count, const uint8_t* bytes);
    bool popByte(uint8_t* byte);
    bool readByte(uint32_t index, uint8_t* byte);
    bool changeByte(uint32_t index, uint8_t value);
    uint32_t getByteCount();
    uint32_t getBufferSize() const { return bufferSize; }
    void clear();

private:
    const uint32_t bufferSize;
    uint32_t rdPos = 0;
    uint32_t wrPos = 0;
    std::unique_ptr<uint8_t[]> data;
    platform::Mutex hAccess;
};
