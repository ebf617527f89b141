#include "orbel_conv/orbel_machine.h"

#include <cmath>
#include <cstring>

#include "common/orbel_convbuffer.h"
#include "common/orbel_trace.h"
#include "machine/value_type.h"
#include "machine_link/orbel_commdiag.h"

namespace {

// Mode values of the machine mode object (SM) and of the module mode object.
constexpr uint32_t SM_NORM = 0;
constexpr uint32_t SM_TESTMODE = 1;
constexpr uint32_t SM_PARAMODE = 2;
constexpr uint32_t MODULE_MODE_NORMAL_OP = 1;
constexpr uint32_t MODULE_MODE_SERVICE = 5;
constexpr uint32_t MODULE_MODE_MANUAL = 6;

// Byte k of a feature value as the legacy answer carries it.
uint8_t featureValueByte(const FeatureRequest& request, unsigned k) {
    const unsigned shift = 8 * k;
    switch (request.valueType) {
        case VALUE_TYPE_U8: return request.valueU8;
        case VALUE_TYPE_U16: return static_cast<uint8_t>((static_cast<uint32_t>(request.valueU16) >> shift) & 0xFF);
        case VALUE_TYPE_U32: return static_cast<uint8_t>((request.valueU32 >> shift) & 0xFF);
        case VALUE_TYPE_I8: return static_cast<uint8_t>((static_cast<int32_t>(request.valueI8) >> shift) & 0xFF);
        case VALUE_TYPE_I16: return static_cast<uint8_t>((static_cast<int32_t>(request.valueI16) >> shift) & 0xFF);
        case VALUE_TYPE_I32: return static_cast<uint8_t>((request.valueI32 >> shift) & 0xFF);
        case VALUE_TYPE_FLOAT: {
            // The integer part, by way of thousandths. Out-of-range products (negative, huge,
            // not a number) wrap like the platform's conversion instead of being undefined.
            const double product = static_cast<double>(request.valueFloat) * 1000.0;
            uint32_t thousandths = 0;
            if (std::isfinite(product) && std::fabs(product) < 9.0e18)
                thousandths = static_cast<uint32_t>(static_cast<int64_t>(product));
            return static_cast<uint8_t>(((thousandths / 1000u) >> shift) & 0xFF);
        }
        default: return 0xFF;
    }
}

void traceRawValue(const char* name, const FeatureRequest& request) {
    switch (request.valueType) {
        case VALUE_TYPE_U8: ORBEL_Trace("%s(): raw value (U8): %d\n", name, request.valueU8); break;
        case VALUE_TYPE_U16: ORBEL_Trace("%s(): raw value (U16): %d\n", name, request.valueU16); break;
        case VALUE_TYPE_U32:
            ORBEL_Trace("%s(): raw value (U32): %d\n", name, static_cast<int>(request.valueU32));
            break;
        case VALUE_TYPE_I8: ORBEL_Trace("%s(): raw value (I8): %d\n", name, request.valueI8); break;
        case VALUE_TYPE_I16: ORBEL_Trace("%s(): raw value (I16): %d\n", name, request.valueI16); break;
        case VALUE_TYPE_I32:
            ORBEL_Trace("%s(): raw value (I32): %d\n", name, static_cast<int>(request.valueI32));
            break;
        case VALUE_TYPE_FLOAT:
            ORBEL_Trace("%s(): raw value (float): %f\n", name, static_cast<double>(request.valueFloat));
            break;
        default: ORBEL_Trace("%s(): unkown type\n", name); break;
    }
}

}  // namespace

ORBEL_Machine::ORBEL_Machine()
    : machineSpecific(&dummyModel),
      craneModel(linkRequests),
      swiftModel(linkRequests),
      robinModel(linkRequests),
      finchModel(linkRequests),
      wrenModel(linkRequests),
      kestrelModel(linkRequests, *this),
      parameterHandler(linkRequests, *this),
      errorMemoryHandler(linkRequests),
      blockDownloadHandler(linkRequests, *this) {}

void ORBEL_Machine::setMachineType(const MachineTypeRecord& record) {
    const char* const name = "ORBEL_Machine::setMachineType";
    machineNumber = record.number;
    machineVariant = record.variant;
    machineTypeRead.store(true, std::memory_order_release);
    if (record.type == machineType) {
        // The model stays; a failed connection start in between cleared only the flag.
        machineIdentified.store(modelRecognised, std::memory_order_release);
        return;
    }
    machineType = record.type;

    IMachineSpecific* model = &dummyModel;
    bool identified = true;
    switch (record.number) {
        case 0: ORBEL_Trace("%s(): Machine seems to be in bootloader.\n", name); break;
        case 1:
        case 2:
            model = &wrenModel;
            ORBEL_Trace("%s(): Wren machine chosen.\n", name);
            break;
        case 3:
            model = &finchModel;
            ORBEL_Trace("%s(): Finch machine chosen.\n", name);
            break;
        case 4:
            model = &swiftModel;
            ORBEL_Trace("%s(): Swift machine chosen.\n", name);
            break;
        case 5:
            model = &craneModel;
            ORBEL_Trace("%s(): Crane machine chosen.\n", name);
            break;
        case 6:
            model = &robinModel;
            ORBEL_Trace("%s(): Robin machine chosen.\n", name);
            break;
        case 9:
            model = &kestrelModel;
            ORBEL_Trace("%s(): Kestrel machine chosen.\n", name);
            break;
        default:
            identified = false;
            ORBEL_Trace("%s(): unable to detect machine number %02x\n", name, static_cast<unsigned>(record.number));
            break;
    }
    machineSpecific.store(model, std::memory_order_release);
    modelRecognised = identified;
    machineIdentified.store(identified, std::memory_order_release);
}

void ORBEL_Machine::resetMachineState() {
    useModuleModeObject.store(false);
    modeRequestedByHost.store(false);
    connected.store(false, std::memory_order_release);
    swVersionRead.store(false);
    machineIdentified.store(false);
    machineTypeRead.store(false);
    identificationFailed.store(false);
    parameterHandler.ClearParameterList();
    errorMemoryHandler.reset();
}

void ORBEL_Machine::forgetConnection() {
    connected.store(false, std::memory_order_release);
    useModuleModeObject.store(false);
    modeRequestedByHost.store(false);
}

void ORBEL_Machine::forgetSoftware() {
    swVersionRead.store(false);
    // No type matches, so that the next read chooses the model afresh (setMachineType keeps
    // the model of an unchanged type, and with it the identification flag).
    machineType = -1;
    machineIdentified.store(false);
    machineTypeRead.store(false);
}

void ORBEL_Machine::storeSwVersion(const uint8_t* bytes) {
    swVersion.store(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                    static_cast<uint32_t>(bytes[2]) << 16);
    swVersionRead.store(true, std::memory_order_release);
}

ORBEL_Machine::SwVersion ORBEL_Machine::getSwVersion() const {
    const uint32_t packed = swVersion.load();
    return {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8), static_cast<uint8_t>(packed >> 16)};
}

void ORBEL_Machine::storeSerialNumber(const uint8_t* bytes) {
    std::memcpy(serialNumber, bytes, sizeof serialNumber);
    serialNumberRead.store(true, std::memory_order_release);
}

void ORBEL_Machine::storeMaterialNumber(const uint8_t* bytes) {
    std::memcpy(materialNumber, bytes, sizeof materialNumber);
    materialNumberRead.store(true, std::memory_order_release);
}

void ORBEL_Machine::copySerialNumber(uint8_t length, ORBEL_ConvBuffer* buffer, uint32_t position) const {
    for (uint8_t i = 0; i < length && i < sizeof serialNumber; ++i) buffer->changeByte(position + i, serialNumber[i]);
}

void ORBEL_Machine::copyMaterialNumber(uint8_t length, ORBEL_ConvBuffer* buffer, uint32_t position) const {
    for (uint8_t i = 0; i < length && i < sizeof materialNumber; ++i)
        buffer->changeByte(position + i, materialNumber[i]);
}

uint32_t ORBEL_Machine::targetMachineMode(uint32_t read) {
    if (!modeRequestedByHost.load()) machineMode.store(read);
    return machineMode.load();
}

uint32_t ORBEL_Machine::targetModuleMode(uint32_t read) {
    if (!modeRequestedByHost.load()) moduleMode.store(read);
    return moduleMode.load();
}

bool ORBEL_Machine::setMachineMode(uint8_t legacyCode) {
    const char* const name = "ORBEL_Machine::setMachineMode";
    modeRequestedByHost.store(true);
    if (useModuleModeObject.load()) {
        switch (legacyCode) {
            case 0x00:
                moduleMode.store(MODULE_MODE_NORMAL_OP);
                ORBEL_Trace("%s(): switching to SM_NORM (MODULE_MODE_NORMAL_OP)\n", name);
                break;
            case 0x02:
                moduleMode.store(MODULE_MODE_SERVICE);
                ORBEL_Trace("%s(): switching to SM_PARAMODE (MODULE_MODE_SERVICE)\n", name);
                break;
            case 0x04:
                moduleMode.store(MODULE_MODE_NORMAL_OP);
                ORBEL_Trace(
                    "%s(): fake switch to fake bootloader mode requested - setting SM_NORM (MODULE_MODE_NORMAL_OP)\n",
                    name);
                break;
            case 0x40:
                moduleMode.store(MODULE_MODE_MANUAL);
                ORBEL_Trace("%s(): switching to SM_TESTMODE (MODULE_MODE_MANUAL)\n", name);
                break;
            default:
                moduleMode.store(MODULE_MODE_NORMAL_OP);
                ORBEL_Trace("%s(): unknown machine mode requested! 0x%02x (setting MODULE_MODE_NORMAL_OP mode)\n", name,
                            legacyCode);
                break;
        }
    } else {
        switch (legacyCode) {
            case 0x00:
                machineMode.store(SM_NORM);
                ORBEL_Trace("%s(): switching to SM_NORM\n", name);
                break;
            case 0x02:
                machineMode.store(SM_PARAMODE);
                ORBEL_Trace("%s(): switching to SM_PARAMODE\n", name);
                break;
            case 0x04:
                machineMode.store(SM_NORM);
                ORBEL_Trace("%s(): fake switch to fake bootloader mode requested - setting SM_NORM\n", name);
                break;
            case 0x40:
                machineMode.store(SM_TESTMODE);
                ORBEL_Trace("%s(): switching to SM_TESTMODE\n", name);
                break;
            default:
                machineMode.store(SM_NORM);
                ORBEL_Trace("%s(): unknown machine mode requested! 0x%02x\n", name, legacyCode);
                break;
        }
    }
    // A bootloader request is reported as a pending control update; the machine itself stays
    // in normal operation.
    if (legacyCode == 0x04) blockDownloadHandler.setBootStatus(1, 4);

    if (ORBEL_CommDiag::ReadMachineMode() == 0) {
        ORBEL_Trace("%s(): machine mode requested\n", name);
        return true;
    }
    ORBEL_Trace("%s(): unable to request machine mode!\n", name);
    return false;
}

uint8_t ORBEL_Machine::startSensorReq(uint32_t address, uint8_t length) {
    const char* const name = "ORBEL_Machine::startSensorReq";
    featureRequests.clear();
    getMachineSpecific()->FillSensorReqMap(address, length, featureRequests);
    currentFeatureRequest = 0;
    if (runFeatureReq(0)) {
        ORBEL_Trace("%s(): sensors request is runnning\n", name);
        return 2;
    }
    ORBEL_Trace("%s(): unable to start feature request\n", name);
    return 3;
}

bool ORBEL_Machine::runFeatureReq(uint32_t number) {
    const char* const name = "ORBEL_Machine::runFeatureReq";
    const auto found = featureRequests.find(number);
    if (found == featureRequests.end()) {
        ORBEL_Trace("%s(): unable to find requested feature %d\n", name, static_cast<int>(number));
        return false;
    }
    // The number is current before the read starts: its completion may arrive on another
    // thread before the start call returns.
    const uint32_t previous = currentFeatureRequest;
    currentFeatureRequest = number;
    const FeatureRequest& request = found->second;
    if (ORBEL_CommDiag::CallStackFnBasedOnObjId(request.valueType, request.canObjectIndex, request.canSubIndex) == 0)
        return true;
    currentFeatureRequest = previous;
    ORBEL_Trace("%s(): unable to start feature request\n", name);
    return false;
}

bool ORBEL_Machine::runNextFeatureReq() {
    if (featureRequests.find(currentFeatureRequest + 1) == featureRequests.end()) {
        ORBEL_Trace("%s(): eol reached!\n", "ORBEL_Machine::runNextFeatureReq");
        return false;
    }
    return runFeatureReq(currentFeatureRequest + 1);
}

FeatureRequest* ORBEL_Machine::currentFeature(const char* name) {
    const auto found = featureRequests.find(currentFeatureRequest);
    if (found == featureRequests.end()) {
        ORBEL_Trace("%s(): unable to set value for current feature request %d\n", name,
                    static_cast<int>(currentFeatureRequest));
        return nullptr;
    }
    return &found->second;
}

void ORBEL_Machine::setValueForCurrentFeatReq(uint8_t value) {
    const char* const name = "ORBEL_Machine::setValueForCurrentFeatReq";
    FeatureRequest* request = currentFeature(name);
    if (request == nullptr) return;
    if (request->bitShift > 0) {
        request->valueU8 = static_cast<uint8_t>((value << request->bitShift) | request->valueU8);
        ORBEL_Trace("%s(): value %d saved (it->second.valueU8: %d)\n", name, value, request->valueU8);
    } else {
        request->valueU8 = value;
        ORBEL_Trace("%s(): value %d saved\n", name, value);
    }
}

#define ORBEL_STORE_FEATURE_VALUE(type, field)                                    \
    void ORBEL_Machine::setValueForCurrentFeatReq(type value) {                   \
        const char* const name = "ORBEL_Machine::setValueForCurrentFeatReq";      \
        if (FeatureRequest* request = currentFeature(name)) {                     \
            request->field = value;                                               \
            ORBEL_Trace("%s(): value %d saved\n", name, static_cast<int>(value)); \
        }                                                                         \
    }
ORBEL_STORE_FEATURE_VALUE(uint16_t, valueU16)
ORBEL_STORE_FEATURE_VALUE(uint32_t, valueU32)
ORBEL_STORE_FEATURE_VALUE(int8_t, valueI8)
ORBEL_STORE_FEATURE_VALUE(int16_t, valueI16)
ORBEL_STORE_FEATURE_VALUE(int32_t, valueI32)
#undef ORBEL_STORE_FEATURE_VALUE

void ORBEL_Machine::setValueForCurrentFeatReq(float value) {
    const char* const name = "ORBEL_Machine::setValueForCurrentFeatReq";
    if (FeatureRequest* request = currentFeature(name)) {
        request->valueFloat = value;
        ORBEL_Trace("%s(): value %f saved\n", name, static_cast<double>(value));
    }
}

void ORBEL_Machine::fillFeatReqBuf(uint32_t address, uint8_t length, ORBEL_ConvBuffer* buffer, uint32_t position) {
    const char* const name = "ORBEL_Machine::fillFeatReqBuf";
    for (const auto& entry : featureRequests) {
        const FeatureRequest& request = entry.second;
        if (request.stAddress < address || request.stAddress >= address + length) continue;
        traceRawValue(name, request);
        const uint32_t p = request.stAddress - address + position;
        ORBEL_Trace("%s(): add value to position %d with byte count %d\n", name, static_cast<int>(p), request.stLength);
        if (request.stLength != 1 && request.stLength != 2) {
            ORBEL_Trace(
                "%s(): unable to fill feature req memory! (it->second.stAddress: 0x%x it->second.stLength: %d)\n", name,
                request.stAddress, request.stLength);
            continue;
        }
        for (unsigned k = 0; k < request.stLength; ++k) {
            const uint8_t byte = featureValueByte(request, k);
            ORBEL_Trace("%s(): adding value: 0x%02x\n", name, byte);
            // A two-byte value at the last requested address keeps to the requested area.
            if (p + k < position + length) buffer->changeByte(p + k, byte);
        }
    }
}
