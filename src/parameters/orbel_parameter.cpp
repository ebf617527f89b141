#include "parameters/orbel_parameter.h"

#include "common/orbel_trace.h"

void ORBEL_Parameter::changeValue(uint32_t newValue) {
    if (newValue == value) return;
    const char* const name = "ORBEL_Parameter::changeValue";
    ORBEL_Trace("%s(): value changed from 0x%02x to 0x%02x\n", name, value, newValue);
    ORBEL_Trace("%s(): new value 0x%x\n", name, newValue);
    value = newValue;
    changed = true;
}

void ORBEL_Parameter::setValue(uint32_t newValue) {
    ORBEL_Trace("%s(): new value 0x%x\n", "ORBEL_Parameter::setValue", newValue);
    value = newValue;
}

uint32_t ORBEL_Parameter::byteCount() const {
    switch (sizeCode) {
        case 0:
        case 1: return 1;
        case 2:
        case 3: return 2;
        case 4:
        case 5: return 4;
        default: return 0;
    }
}
