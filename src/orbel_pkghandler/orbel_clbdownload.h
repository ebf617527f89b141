#pragma once
#include <cstdint>

class ORBEL_Conv;
class ORBEL_ConvBuffer;

// The write-block classes that go to the block download handler.

// A charger parameter write arrives in two packages: the first (at the range's start address)
// is kept, the second is appended and both are sent as one curve-data block. Sets the answer's
// state byte and the converter state.
void ORBEL_WriteChargerParameters(ORBEL_Conv* conv, ORBEL_ConvBuffer* out, const char* name, const uint8_t* package,
                                  uint32_t address, uint8_t length);

// Forgets a first charger package (tests start from an empty buffer).
void ORBEL_ResetChargerBuffer();
