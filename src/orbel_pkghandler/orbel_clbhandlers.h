#pragma once
#include "orbel_pkghandler/orbel_pkghandler.h"

// Command handlers of the legacy protocol, one per command code (some serve two codes).

// Status, mode and boot status.
int32_t ORBEL_ClbServModulStatus(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbReadBootStatus(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbReadBootStatusAnswer(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbModulConfigRequest(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbModulConfigPick(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbStandardservicemode(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbSinglesteuerungsMode(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbSinglesteuerungsModeAnswer(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbResetSingleMode(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);

// Read block.
int32_t ORBEL_ClbReadBlock(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbReadBlockAnswer(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);

// Write block.
int32_t ORBEL_ClbWriteBlock(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbWriteBlockAnswer(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);
int32_t ORBEL_ClbWriteBlockDownloadFast(const uint8_t* package, int32_t dataOffset, ORBEL_ConvBuffer* out);

// Answers a command whose handling this build does not have yet: state byte "failed".
int32_t ORBEL_ClbNotAvailable(const char* handlerName, ORBEL_ConvBuffer* out);
