#include "converter_session.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "common/frame_checksum.h"
#include "legacy_api.h"
#include "proc_address.h"

namespace wintesthost {

namespace {

constexpr int32_t kOk = 0, kAlreadyInitialised = 1, kNotInitialised = 2, kNoData = 3, kFailure = 4;

struct Converter {
    DllInitFn DllInit = nullptr;
    DllDeInitFn DllDeInit = nullptr;
    ConvWriteDataFn ConvWriteData = nullptr;
    ConvGetByteCountFn ConvGetByteCount = nullptr;
    ConvReadDataFn ConvReadData = nullptr;
    ConvAddParameterDescriptionFn ConvAddParameterDescription = nullptr;
    ConvClearParameterListFn ConvClearParameterList = nullptr;
    ConvBuildBlockDownloadBinaryFn ConvBuildBlockDownloadBinary = nullptr;
    ConvStartBlockDownloadFileFn ConvStartBlockDownloadFile = nullptr;
    ConvStartFirmwareDownloadFn ConvStartFirmwareDownload = nullptr;
    ConvGetProgressFn ConvGetBlockDownloadProgress = nullptr;
    ConvGetProgressFn ConvGetFirmwareDownloadProgress = nullptr;
    ConvGetSWRevisionFn ConvGetSWRevision = nullptr;
};

template <typename Fn>
bool resolve(Checks& checks, HMODULE module, const char* name, int argumentBytes, Fn& fn) {
    fn = procAddress<Fn>(module, name);
    // The decorated forms must not be what the linker exported instead.
    const std::string decorated = format("%s@%d", name, argumentBytes);
    const bool plainOnly = GetProcAddress(module, decorated.c_str()) == nullptr &&
                           GetProcAddress(module, ("_" + decorated).c_str()) == nullptr;
    return checks.expect(fn != nullptr && plainOnly, format("export %s found by its plain name", name),
                         fn == nullptr ? "GetProcAddress found nothing" : "a decorated name is exported too");
}

bool resolveAll(Checks& checks, HMODULE m, Converter& c) {
    bool all = true;
    all &= resolve(checks, m, "ORBEL_DllInit", 4, c.DllInit);
    all &= resolve(checks, m, "ORBEL_DllDeInit", 0, c.DllDeInit);
    all &= resolve(checks, m, "ORBEL_ConvWriteData", 8, c.ConvWriteData);
    all &= resolve(checks, m, "ORBEL_ConvGetByteCount", 4, c.ConvGetByteCount);
    all &= resolve(checks, m, "ORBEL_ConvReadData", 4, c.ConvReadData);
    all &= resolve(checks, m, "ORBEL_ConvAddParameterDescription", 8, c.ConvAddParameterDescription);
    all &= resolve(checks, m, "ORBEL_ConvClearParameterList", 0, c.ConvClearParameterList);
    all &= resolve(checks, m, "ORBEL_ConvBuildBlockDownloadBinary", 8, c.ConvBuildBlockDownloadBinary);
    all &= resolve(checks, m, "ORBEL_ConvStartBlockDownloadFile", 8, c.ConvStartBlockDownloadFile);
    all &= resolve(checks, m, "ORBEL_ConvStartFirmwareDownload", 4, c.ConvStartFirmwareDownload);
    all &= resolve(checks, m, "ORBEL_ConvGetBlockDownloadProgress", 4, c.ConvGetBlockDownloadProgress);
    all &= resolve(checks, m, "ORBEL_ConvGetFirmwareDownloadProgress", 4, c.ConvGetFirmwareDownloadProgress);
    all &= resolve(checks, m, "ORBEL_ConvGetSWRevision", 8, c.ConvGetSWRevision);
    return all;
}

std::vector<uint8_t> package(uint8_t command) {
    std::vector<uint8_t> bytes{0xAA, 0x03, command, 0x00};
    bytes.push_back(orbel::frameChecksum(bytes.data(), bytes.size()));
    return bytes;
}

// Reads the whole answer as the host does: the byte count, then byte by byte, then one more
// read that must report "no data".
std::vector<uint8_t> readAnswer(Checks& checks, const Converter& c) {
    std::vector<uint8_t> answer;
    int32_t count = -1;
    if (!checks.result("ORBEL_ConvGetByteCount", call(c.ConvGetByteCount, &count), kOk, "byte count of the answer"))
        return answer;
    for (int32_t i = 0; i < count; ++i) {
        uint8_t byte = 0;
        if (!checks.result("ORBEL_ConvReadData", call(c.ConvReadData, &byte), kOk,
                           format("answer byte %d", static_cast<int>(i))))
            return answer;
        answer.push_back(byte);
    }
    uint8_t extra = 0;
    checks.result("ORBEL_ConvReadData", call(c.ConvReadData, &extra), kNoData, "no byte after the answer");
    return answer;
}

constexpr uint8_t kStateBusy = 2, kStateFailed = 3;

// An answer package: start byte, length, the command echoed, a state that is not "busy" (no
// machine request runs here) and the checksum over everything before it.
bool wellFormed(const std::vector<uint8_t>& answer, uint8_t command) {
    return answer.size() >= 5 && answer[0] == 0xAA && answer[2] == command && answer[3] != kStateBusy &&
           orbel::frameChecksum(answer.data(), answer.size() - 1) == answer.back();
}

void beforeInit(Checks& checks, const Converter& c) {
    auto status = package(0x01);
    checks.result("ORBEL_ConvWriteData", call(c.ConvWriteData, static_cast<uint32_t>(status.size()), status.data()),
                  kNotInitialised, "a package before init is refused");
    int32_t count = 1234;
    checks.result("ORBEL_ConvGetByteCount", call(c.ConvGetByteCount, &count), kNotInitialised,
                  "the byte count before init is refused");
    checks.expect(count == 1234, "the refused byte count leaves the host's variable alone");
    uint8_t byte = 0;
    checks.result("ORBEL_ConvReadData", call(c.ConvReadData, &byte), kNotInitialised, "a read before init is refused");
    checks.result("ORBEL_DllDeInit", call(c.DllDeInit), kNotInitialised, "de-init before init is refused");
}

void init(Checks& checks, const Converter& c, const std::string& portName) {
    std::vector<char> port(portName.begin(), portName.end());
    const std::string tail = "@anything the host appends";
    port.insert(port.end(), tail.begin(), tail.end());
    port.push_back('\0');
    checks.result("ORBEL_DllInit", call(c.DllInit, port.data()), kOk, "init with " + portName);
    checks.expect(std::strcmp(port.data(), portName.c_str()) == 0, "init cuts the port name at the at sign",
                  format("port name now \"%s\"", port.data()));
    checks.result("ORBEL_DllInit", call(c.DllInit, port.data()), kAlreadyInitialised, "a second init says so");
}

void byteStream(Checks& checks, const Converter& c) {
    auto status = package(0x01);
    checks.result("ORBEL_ConvWriteData", call(c.ConvWriteData, static_cast<uint32_t>(status.size()), status.data()),
                  kOk, "status package 0x01 handled");
    const auto answer = readAnswer(checks, c);
    checks.expect(wellFormed(answer, 0x01), "status answer: command, final state and checksum right",
                  format("%u bytes", static_cast<unsigned>(answer.size())));

    auto unknown = package(0x02);
    checks.result("ORBEL_ConvWriteData", call(c.ConvWriteData, static_cast<uint32_t>(unknown.size()), unknown.data()),
                  kFailure, "an unknown command is not handled");
    checks.expect(readAnswer(checks, c).empty(), "an unknown command gets no answer");

    // The host may hand a package over in pieces: nothing is handled before the third byte.
    auto pieces = package(0x01);
    checks.result("ORBEL_ConvWriteData", call(c.ConvWriteData, 2u, pieces.data()), kFailure,
                  "two bytes of a package are only buffered");
    checks.result("ORBEL_ConvWriteData", call(c.ConvWriteData, 3u, pieces.data() + 2), kOk,
                  "the rest of the package is handled");
    checks.expect(wellFormed(readAnswer(checks, c), 0x01), "the package written in pieces is answered");
}

void fileAndDownloadExports(Checks& checks, const Converter& c) {
    char description[] = "C:\\no such folder\\parameters.txt@list";
    checks.result("ORBEL_ConvAddParameterDescription", call(c.ConvAddParameterDescription, description, 1), kFailure,
                  "a missing parameter description file is refused");
    checks.expect(std::strcmp(description, "C:\\no such folder\\parameters.txt") == 0,
                  "the description path is cut at the at sign");
    checks.result("ORBEL_ConvClearParameterList", call(c.ConvClearParameterList), kOk, "clearing the parameter list");
    char folder[] = "C:\\no such folder";
    char output[] = "blocks.bin";
    checks.result("ORBEL_ConvBuildBlockDownloadBinary", call(c.ConvBuildBlockDownloadBinary, folder, output), kFailure,
                  "building a block download from a missing folder is refused");
    char blockFile[] = "C:\\no such folder\\blocks.bin";
    checks.result("ORBEL_ConvStartBlockDownloadFile", call(c.ConvStartBlockDownloadFile, blockFile, 0x100), kFailure,
                  "a block download of a missing file is refused");
    char firmware[] = "C:\\no such folder\\firmware.hex";
    checks.result("ORBEL_ConvStartFirmwareDownload", call(c.ConvStartFirmwareDownload, firmware), kFailure,
                  "a firmware download of a missing file is refused");
    uint32_t progress[4] = {};
    checks.result("ORBEL_ConvGetBlockDownloadProgress", call(c.ConvGetBlockDownloadProgress, progress), kFailure,
                  "no block download progress while none runs");
    checks.result("ORBEL_ConvGetFirmwareDownloadProgress", call(c.ConvGetFirmwareDownloadProgress, progress), kFailure,
                  "no firmware download progress while none runs");
    uint8_t revision[3] = {0xEE, 0xEE, 0xEE};
    checks.result("ORBEL_ConvGetSWRevision", call(c.ConvGetSWRevision, 3u, revision), kFailure,
                  "no software revision without a connected machine");
    checks.expect(revision[0] == 0xEE && revision[1] == 0xEE && revision[2] == 0xEE,
                  "the refused revision leaves the host's buffer alone");
}

void deInit(Checks& checks, const Converter& c) {
    checks.result("ORBEL_DllDeInit", call(c.DllDeInit), kOk, "de-init");
    checks.result("ORBEL_DllDeInit", call(c.DllDeInit), kNotInitialised, "a second de-init is refused");
    auto status = package(0x01);
    checks.result("ORBEL_ConvWriteData", call(c.ConvWriteData, static_cast<uint32_t>(status.size()), status.data()),
                  kNotInitialised, "a package after de-init is refused");
}

void secondSession(Checks& checks, const Converter& c, const std::string& portName) {
    std::vector<char> port(portName.begin(), portName.end());
    port.push_back('\0');
    checks.result("ORBEL_DllInit", call(c.DllInit, port.data()), kOk, "init again after de-init");
    auto status = package(0x01);
    checks.result("ORBEL_ConvWriteData", call(c.ConvWriteData, static_cast<uint32_t>(status.size()), status.data()),
                  kOk, "status in the second session");
    checks.expect(wellFormed(readAnswer(checks, c), 0x01), "the second session answers");
    checks.result("ORBEL_DllDeInit", call(c.DllDeInit), kOk, "de-init of the second session");
}

// Writes one package and reads its answer, without checking each call of the exchange.
std::vector<uint8_t> exchange(Checks& checks, const Converter& c, uint8_t command) {
    auto bytes = package(command);
    const CallRecord written = call(c.ConvWriteData, static_cast<uint32_t>(bytes.size()), bytes.data());
    if (!checks.convention("ORBEL_ConvWriteData", written)) return {};
    std::vector<uint8_t> answer;
    int32_t count = 0;
    if (call(c.ConvGetByteCount, &count).value != static_cast<uint32_t>(kOk)) return answer;
    for (int32_t i = 0; i < count; ++i) {
        uint8_t byte = 0;
        if (call(c.ConvReadData, &byte).value != static_cast<uint32_t>(kOk)) break;
        answer.push_back(byte);
    }
    return answer;
}

bool loadConverter(Checks& checks, const std::string& libraryPath, HMODULE& module, Converter& c) {
    module = LoadLibraryA(libraryPath.c_str());
    if (!checks.expect(module != nullptr, "LoadLibraryA " + libraryPath, format("error %lu", GetLastError())))
        return false;
    return resolveAll(checks, module, c);
}

}  // namespace

void runRefusedConnection(Checks& checks, const std::string& libraryPath, const std::string& portName, unsigned limitMs,
                          bool mayStayBusy) {
    HMODULE module = nullptr;
    Converter c;
    if (loadConverter(checks, libraryPath, module, c)) {
        std::vector<char> port(portName.begin(), portName.end());
        port.push_back('\0');
        checks.result("ORBEL_DllInit", call(c.DllInit, port.data()), kOk, "init with " + portName);
        // The host repeats the connect command while the answer says busy.
        const DWORD start = GetTickCount();
        std::vector<uint8_t> answer;
        for (;;) {
            answer = exchange(checks, c, 0xE6);
            if (answer.size() < 4 || answer[3] != kStateBusy || GetTickCount() - start > limitMs) break;
            Sleep(50);
        }
        const DWORD spent = GetTickCount() - start;
        const bool busy = answer.size() >= 4 && answer[3] == kStateBusy;
        if (mayStayBusy && busy) {
            checks.expect(true, format("connecting still busy after %lu ms, never reported done", spent));
            // While busy the converter answers every package with state busy and runs no handler.
            const auto status = exchange(checks, c, 0x01);
            checks.expect(status.size() >= 5 && status[0] == 0xAA && status[2] == 0x01 && status[3] == kStateBusy,
                          "the status package is answered busy meanwhile");
        } else {
            checks.expect(answer.size() >= 4 && answer[3] == kStateFailed, "connecting ends with state failed",
                          answer.size() < 4 ? "no answer" : format("state %u after %lu ms", answer[3], spent));
            checks.expect(spent <= limitMs, format("and within %u ms", limitMs), format("%lu ms", spent));
            checks.expect(wellFormed(exchange(checks, c, 0x01), 0x01),
                          "the converter still answers the status package");
        }
        const DWORD deInitStart = GetTickCount();
        checks.result("ORBEL_DllDeInit", call(c.DllDeInit), kOk, "de-init after the connection attempt");
        checks.expect(GetTickCount() - deInitStart < 5000, "de-init returns within 5 s");
    }
    if (module != nullptr) checks.expect(FreeLibrary(module) != 0, "FreeLibrary of the converter");
}

void runConverterSession(Checks& checks, const std::string& libraryPath, const std::string& portName) {
    HMODULE module = nullptr;
    Converter c;
    if (loadConverter(checks, libraryPath, module, c)) {
        beforeInit(checks, c);
        init(checks, c, portName);
        byteStream(checks, c);
        fileAndDownloadExports(checks, c);
        deInit(checks, c);
        secondSession(checks, c, portName);
    }
    if (module != nullptr) checks.expect(FreeLibrary(module) != 0, "FreeLibrary of the converter");
}

}  // namespace wintesthost
