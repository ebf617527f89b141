#include "orbel_pkghandler/orbel_clbhandlers.h"

// The machine link behind these commands is not in this build yet: each answers "failed".

int32_t ORBEL_ClbWriteBlock(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbWriteBlock", out); }
int32_t ORBEL_ClbWriteBlockAnswer(const uint8_t*, int32_t, ORBEL_ConvBuffer* out) { return ORBEL_ClbNotAvailable("ORBEL_ClbWriteBlockAnswer", out); }
