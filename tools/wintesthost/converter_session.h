#pragma once
#include <string>

#include "checks.h"

namespace wintesthost {

// Loads the converter with LoadLibraryA, resolves its thirteen exports by their plain names and
// drives them as the legacy host does: calls before init, init (twice), the status package,
// an unknown command, a package written in pieces, the file and download exports with nothing
// to work on, de-init twice and a second session. Every call goes through the stack check.
void runConverterSession(Checks& checks, const std::string& libraryPath, const std::string& portName);

// A connection that cannot succeed (no driver, no COM port, a machine that never answers): the
// host polls the connect command (0xE6) while busy; it must end "failed" within limitMs (or,
// with mayStayBusy, may still be busy then, as with a machine that never answers), the converter
// must go on answering, and de-init must end the session promptly, connection thread and all.
void runRefusedConnection(Checks& checks, const std::string& libraryPath, const std::string& portName, unsigned limitMs,
                          bool mayStayBusy);

}  // namespace wintesthost
