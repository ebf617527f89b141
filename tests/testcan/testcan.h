#pragma once
// Control entries of the test CAN driver library, beside its five driver entries. Boards
// opened with the same bus name share a virtual bus: a frame one board sends reaches every
// other open board on it (loopback) and is recorded on the bus (recorder); a test injects
// frames as if another node had sent them. A board opened with the bus name "refuse" is
// refused. Look the entries up by name in the loaded library (see the typedefs).
#include "canopen/can_message.h"

extern "C" {
// Queues the frame on every open board of the bus; the number of boards reached.
typedef int (*TestcanInject)(const char* bus, const CanMessage* message);
// Waits until every open board of the bus has taken all its frames and waits in receive
// again, i.e. the stack has handled what was injected. 1, or 0 after the time-out.
typedef int (*TestcanWaitIdle)(const char* bus, unsigned timeoutMs);
// Frames the boards of the bus have sent, in order.
typedef int (*TestcanSentCount)(const char* bus);
typedef int (*TestcanSentFrame)(const char* bus, int position, CanMessage* out);
// Waits until at least `count` frames were sent on the bus; 1, or 0 after the time-out.
typedef int (*TestcanWaitSent)(const char* bus, int count, unsigned timeoutMs);
typedef void (*TestcanClearSent)(const char* bus);
// The next `count` receive calls on the bus's boards fail at once (result 1).
typedef void (*TestcanFailReceives)(const char* bus, int count);
typedef int (*TestcanReceiveCalls)(const char* bus);
// What the close entry returns for boards of the bus (0 by default).
typedef void (*TestcanSetCloseResult)(const char* bus, int result);
// Bit-rate changes asked for on the bus; the last text is copied to `last`.
typedef int (*TestcanBaudRateChanges)(const char* bus, char* last, int size);
typedef int (*TestcanOpenBoards)(const char* bus);
}
