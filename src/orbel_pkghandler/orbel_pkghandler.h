#pragma once
#include <cstdint>

class ORBEL_Conv;
class ORBEL_ConvBuffer;

// Position of the state byte in request and answer packages.
constexpr uint32_t PROTO_CMD_STATE_POS = 3;

// Answer state byte values.
constexpr uint8_t PROTO_STATE_DONE = 1;
constexpr uint8_t PROTO_STATE_BUSY = 2;
constexpr uint8_t PROTO_STATE_FAILED = 3;

// A command handler reads the request through `package` (data from `dataOffset`, always 4) and
// writes the answer only through `out`; it reaches the converter through
// ORBEL_PkgHandler::getConverter. Every handler returns 0.
using ORBEL_CommandHandler = int32_t (*)(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);

// Takes one legacy request package out of the input buffer, answers it into the output buffer
// through the command table, and closes the answer with the checksum.
class ORBEL_PkgHandler {
public:
    // Result: the handler's result, 0 for a busy answer, 4 for an unknown command.
    static int32_t handlePackage(ORBEL_Conv* converter, ORBEL_ConvBuffer* inBuffer, ORBEL_ConvBuffer* outBuffer);

    // The converter handed to handlePackage, for the handlers it calls.
    static ORBEL_Conv* getConverter();

    static bool isKnownCommand(uint8_t code);
    static uint8_t getAnswerLength(uint8_t code);

    static void setStateByte(ORBEL_ConvBuffer* outBuffer, uint8_t newState);
    static void setAnswerByte(ORBEL_ConvBuffer* outBuffer, uint32_t index, uint8_t value);
    static void appendChecksum(ORBEL_ConvBuffer* outBuffer);

    // True for the command codes whose address is 16 bits wide (low byte at 4, high at 5,
    // length at 6); the others carry an 8-bit address at 4 and the length at 5.
    static bool hasWideAddress(uint8_t code);
};
