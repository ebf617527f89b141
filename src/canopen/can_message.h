#pragma once
// The records that cross the boundary to the CAN driver library. Their layout is the driver
// interface itself: keep it byte for byte.
#include <cstdint>

#pragma pack(push, 1)
struct CanMessage {
    uint16_t cobId;  // 11-bit identifier; bits 11..15 are 0
    uint8_t rtr;     // 1: remote transmission request
    uint8_t len;     // data length code, 0..8
    uint8_t data[8];
};
#pragma pack(pop)
static_assert(sizeof(CanMessage) == 12, "CanMessage is the driver's 12-byte frame record");

// The board descriptor given to the driver's open entry: the bus name (the COM port number
// in decimal for the serial adapter) and the bit-rate text such as "500K". The caller owns
// both strings; they outlive the open port.
typedef struct struct_s_BOARD {
    const char* busname;
    const char* baudrate;
} s_BOARD;
