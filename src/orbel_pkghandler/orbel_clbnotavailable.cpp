#include "common/orbel_trace.h"
#include "orbel_pkghandler/orbel_clbhandlers.h"

int32_t ORBEL_ClbNotAvailable(const char* handlerName, ORBEL_ConvBuffer* out) {
    ORBEL_Trace("%s(): command not available in this build, answered as failed\n", handlerName);
    ORBEL_PkgHandler::setStateByte(out, PROTO_STATE_FAILED);
    return 0;
}
