#include "orbel_pkghandler/orbel_clbhandlers.h"

// The machine link behind these commands is not in this build yet: each answers "failed".

int32_t ORBEL_ClbServModulStatus(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbServModulStatus", out); }
int32_t ORBEL_ClbReadBootStatus(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbReadBootStatus", out); }
int32_t ORBEL_ClbReadBootStatusAnswer(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbReadBootStatusAnswer", out); }
int32_t ORBEL_ClbModulConfigRequest(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbModulConfigRequest", out); }
int32_t ORBEL_ClbModulConfigPick(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbModulConfigPick", out); }
int32_t ORBEL_ClbStandardservicemode(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbStandardservicemode", out); }
int32_t ORBEL_ClbSinglesteuerungsMode(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbSinglesteuerungsMode", out); }
int32_t ORBEL_ClbSinglesteuerungsModeAnswer(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbSinglesteuerungsModeAnswer", out); }
int32_t ORBEL_ClbResetSingleMode(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbResetSingleMode", out); }
