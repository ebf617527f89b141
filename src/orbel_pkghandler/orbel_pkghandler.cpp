#include "orbel_pkghandler/orbel_pkghandler.h"

#include <atomic>
#include <memory>

#include "common/frame_checksum.h"
#include "common/orbel_convbuffer.h"
#include "common/orbel_trace.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_pkghandler/orbel_clbhandlers.h"

namespace {

const char* const kUnit = "src\\orbel_pkghandler\\orbel_pkghandler";
constexpr uint32_t kCommandPos = 2;
constexpr int32_t kDataOffset = 4;
constexpr int32_t kUnknownCommand = 4;

struct Command {
    uint8_t code;
    ORBEL_CommandHandler handler;
    uint8_t answerLength;
};

// The command table: every code the legacy protocol knows, its handler and the length byte of
// its answer. Any other code is unknown.
constexpr Command kCommands[] = {
    {0x01, ORBEL_ClbServModulStatus, 6},        {0x03, ORBEL_ClbReadBootStatus, 2},
    {0x04, ORBEL_ClbReadBootStatusAnswer, 8},   {0x07, ORBEL_ClbReadBlock, 2},
    {0x08, ORBEL_ClbReadBlockAnswer, 7},        {0x0B, ORBEL_ClbWriteBlock, 2},
    {0x0C, ORBEL_ClbWriteBlockAnswer, 2},       {0x0D, ORBEL_ClbWriteBlock, 2},
    {0x0E, ORBEL_ClbWriteBlockAnswer, 2},       {0x0F, ORBEL_ClbModulConfigRequest, 2},
    {0x10, ORBEL_ClbModulConfigPick, 27},       {0x1D, ORBEL_ClbReadBlock, 2},
    {0x1E, ORBEL_ClbReadBlockAnswer, 7},        {0x1F, ORBEL_ClbWriteBlock, 2},
    {0xD5, ORBEL_ClbWriteBlockDownloadFast, 2}, {0xE6, ORBEL_ClbStandardservicemode, 2},
    {0xFA, ORBEL_ClbSinglesteuerungsMode, 2},   {0xFB, ORBEL_ClbSinglesteuerungsModeAnswer, 24},
    {0xFE, ORBEL_ClbResetSingleMode, 2},
};

const Command* findCommand(uint8_t code) {
    for (const Command& command : kCommands)
        if (command.code == code) return &command;
    return nullptr;
}

// The converter whose package is being handled, for its handlers.
std::atomic<ORBEL_Conv*> dispatchConverter{nullptr};

}  // namespace

bool ORBEL_PkgHandler::isKnownCommand(uint8_t code) { return findCommand(code) != nullptr; }

uint8_t ORBEL_PkgHandler::getAnswerLength(uint8_t code) {
    const Command* command = findCommand(code);
    return command == nullptr ? 0 : command->answerLength;
}

ORBEL_Conv* ORBEL_PkgHandler::getConverter() { return dispatchConverter.load(std::memory_order_relaxed); }

bool ORBEL_PkgHandler::hasWideAddress(uint8_t code) {
    switch (code) {
        case 0x05:
        case 0x06:
        case 0x0B:
        case 0x0C:
        case 0x1D:
        case 0x1E: return true;
        default: return false;
    }
}

void ORBEL_PkgHandler::setStateByte(ORBEL_ConvBuffer* buffer, uint8_t newState) {
    ORBEL_ASSERT(buffer->changeByte(PROTO_CMD_STATE_POS, newState) == true, kUnit);
}

void ORBEL_PkgHandler::setAnswerByte(ORBEL_ConvBuffer* buffer, uint32_t index, uint8_t value) {
    ORBEL_ASSERT(buffer->changeByte(index, value) == true, kUnit);
}

void ORBEL_PkgHandler::appendChecksum(ORBEL_ConvBuffer* outBuffer) {
    uint32_t sum = 0;
    const uint32_t count = outBuffer->getByteCount();
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t byte = 0;
        if (outBuffer->readByte(i, &byte)) sum += byte;
    }
    const uint8_t checksum = orbel::frameChecksumOfSum(sum);
    outBuffer->writeBytes(1, &checksum);
}

int32_t ORBEL_PkgHandler::handlePackage(ORBEL_Conv* converter, ORBEL_ConvBuffer* inBuffer,
                                        ORBEL_ConvBuffer* outBuffer) {
    // The work copy is as large as the input buffer and zero-filled, so a handler that reads
    // beyond a short package sees zeros, never bytes of an earlier package or foreign memory.
    const uint32_t capacity = inBuffer->getBufferSize();
    std::unique_ptr<uint8_t[]> package(new uint8_t[capacity]());
    uint32_t bufPos = 0;
    uint8_t byte = 0;
    while (inBuffer->popByte(&byte)) {
        if (!ORBEL_ASSERT(bufPos <= inBuffer->getBufferSize(), kUnit) || bufPos >= capacity) break;
        package[bufPos++] = byte;
    }

    outBuffer->clear();
    dispatchConverter.store(converter, std::memory_order_relaxed);

    const uint8_t code = package[kCommandPos];
    const Command* command = findCommand(code);
    if (command == nullptr) {
        ORBEL_Trace("%s(): unknown command detected! 0x%02x\n", "ORBEL_PkgHandler::handlePackage", code);
        return kUnknownCommand;
    }

    const uint8_t header[4] = {0xAA, command->answerLength, code, 0};
    outBuffer->writeBytes(sizeof header, header);

    int32_t result = 0;
    if (converter->isBusy())
        setStateByte(outBuffer, PROTO_STATE_BUSY);
    else
        result = command->handler(package.get(), kDataOffset, outBuffer);

    appendChecksum(outBuffer);
    return result;
}
