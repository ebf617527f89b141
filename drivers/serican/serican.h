#pragma once
// The driver interface that the CANopen stack loads by name: the two records that cross the
// boundary and the five entries. The layouts are fixed by the stack's side; do not reorder.
#include <stddef.h>
#include <stdint.h>

#include "common/api_export.h"

// One CAN frame, 12 bytes without padding, in the host's byte order.
struct CanMessage {
    uint16_t cobId;  // 11-bit identifier
    uint8_t rtr;     // 1: remote transmission request
    uint8_t len;     // data length code, 0..8
    uint8_t data[8];
};

// The board to open: the bus name is the COM port number in decimal, the bit rate a text such as "500K".
struct struct_s_BOARD {
    const char* busname;
    const char* baudrate;
};
typedef struct struct_s_BOARD s_BOARD;

#ifdef __cplusplus
static_assert(sizeof(CanMessage) == 12, "CanMessage crosses a library boundary: 12 bytes, no padding");
static_assert(offsetof(CanMessage, data) == 4, "CanMessage data start at offset 4");
extern "C" {
#endif

// Null when the board cannot be opened.
ORBEL_DLL_EXPORT void* ORBEL_STDCALL canOpen_driver(s_BOARD* board);
// Sends the close frame, closes the port and frees the handle; always 1.
ORBEL_DLL_EXPORT int32_t ORBEL_STDCALL canClose_driver(void* handle);
// 0 when the whole frame went out.
ORBEL_DLL_EXPORT uint8_t ORBEL_STDCALL canSend_driver(void* handle, CanMessage* message);
// Blocks until a frame arrives (0), or returns 1 when nothing decodable arrived or the port closed.
ORBEL_DLL_EXPORT uint8_t ORBEL_STDCALL canReceive_driver(void* handle, CanMessage* message);
// The adapter's CAN rate is not set over the line: changes nothing, 0.
ORBEL_DLL_EXPORT uint8_t ORBEL_STDCALL canChangeBaudRate_driver(void* handle, char* baudrate);

#ifdef __cplusplus
}
#endif
