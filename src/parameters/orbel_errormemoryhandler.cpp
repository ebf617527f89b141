#include "parameters/orbel_errormemoryhandler.h"

#include "common/orbel_trace.h"

void ORBEL_ErrorMemoryHandler::reset() {
    const char* const name = "ORBEL_ErrorMemoryHandler::reset";
    ORBEL_Trace("%s(): ++\n", name);
    writeIndex = 0;
    ORBEL_Trace("%s(): --\n", name);
}
