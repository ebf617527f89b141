#pragma once
#include <string>

#include "checks.h"

namespace wintesthost {

// Loads the CAN driver by path and checks its refusals without touching a working port: a
// bit rate other than "500K", a bus name without a number, a COM port that does not exist, a
// null handle.
void runDriverRefusals(Checks& checks, const std::string& driverPath, unsigned missingCom);

// Opens the adapter on COM<com> (linked to machine-sim's pseudo-terminal), receives on a thread of
// its own as the stack does, waits for the machine's heartbeat, reads the device type with an
// SDO upload and closes the adapter while the receive is waiting, which must end it. With a
// silent machine no frame may arrive, and the close must still end the waiting receive.
void runDriverSession(Checks& checks, const std::string& driverPath, unsigned com, bool machineSilent);

}  // namespace wintesthost
