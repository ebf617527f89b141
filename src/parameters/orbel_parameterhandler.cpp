#include "parameters/orbel_parameterhandler.h"

#include <cstring>

#include "common/orbel_trace.h"

void ORBEL_ParameterHandler::ClearParameterList() {
    ORBEL_Trace("%s(): clearing parameter index\n", "ORBEL_ParameterHandler::ClearParameterList");
    currentListKey = 0;
}

void ORBEL_ParameterHandler::SetParameterValueForCurrentReq(int32_t, const void* value) {
    const char* const name = "ORBEL_ParameterHandler::SetParameterValueForCurrentReq";
    if (currentObjectId == 0x4002 && static_cast<int32_t>(currentAddress) == owner.getOpHoursCounterReqAddr()) {
        uint32_t seconds = 0;
        std::memcpy(&seconds, value, sizeof seconds);
        owner.setMainOpHoursCounter(seconds);
        ORBEL_Trace("%s(): op hours counter value detected - value %d\n", name, static_cast<int>(seconds));
        return;
    }
    ORBEL_Trace("%s(): no parameter list for address 0x%04x in this build, value dropped\n", name, currentAddress);
}
