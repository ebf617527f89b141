#pragma once
#include <cstdint>

// Connects again some time after a close, on a thread of the machine link's own: the close's
// callback runs on a stack thread with the stack lock held, where a wait of seconds would stall
// the heartbeat and every other completion. One reconnection is pending at a time.
//
// After `delayMs`, calls `connect` on the reconnect thread, unless cancelled first.
void ORBEL_ScheduleReconnect(uint32_t delayMs, void (*connect)());
// Ends a pending wait without connecting and waits for the thread; for the link's destruction.
void ORBEL_CancelReconnect();
// Waits for a scheduled reconnection to have run (tests).
void ORBEL_FinishReconnectForTesting();
