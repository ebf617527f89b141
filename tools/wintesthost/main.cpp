// wintesthost: a small 32-bit Windows host (built 64-bit too, for the x86_64 lane of the wine
// stage) that loads the deliverables as the legacy service application and the converter do, and
// checks the calling convention of every call.
//
//   wintesthost selftest
//   wintesthost converter [--library PATH] [--port NAME]
//   wintesthost refused-connection [--library PATH] [--port NAME] [--limit-ms N] [--may-stay-busy]
//   wintesthost driver-refusals [--driver PATH] [--missing-com N]
//   wintesthost driver --com N [--driver PATH] [--silent]
//
// The converter is taken from beside this program by default, the driver from its fixed path.
// Prints one line per check and "N passed, N failed"; exit status 0 when all passed, 1 when a
// check failed, 2 for a wrong command line. The 64-bit build makes the same calls without the
// calling-convention checks, names them as not run, and answers selftest with 77 (not run).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "checks.h"
#include "converter_session.h"
#include "driver_session.h"
#include "legacy_api.h"
#include "selftest.h"

namespace {

std::string besideThisProgram(const char* fileName) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, n < sizeof path ? n : 0);
    const auto slash = dir.find_last_of("\\/");
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
    return dir + "\\" + fileName;
}

// The test runner counts this exit status as skipped, not passed.
constexpr int kNotRun = 77;

int usage() {
    std::fputs(
        "usage: wintesthost selftest\n"
        "       wintesthost converter [--library PATH] [--port NAME]\n"
        "       wintesthost refused-connection [--library PATH] [--port NAME] [--limit-ms N] [--may-stay-busy]\n"
        "       wintesthost driver-refusals [--driver PATH] [--missing-com N]\n"
        "       wintesthost driver --com N [--driver PATH] [--silent]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string mode = argv[1];
    std::string library = besideThisProgram("orbel_dll.dll");
    std::string driver = wintesthost::kFixedDriverPath;
    std::string port = "\\\\.\\COM1";
    unsigned com = 0;
    unsigned missingCom = 199;
    unsigned limitMs = 30000;
    bool silent = false;
    bool mayStayBusy = false;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--silent" || option == "--may-stay-busy") {
            (option == "--silent" ? silent : mayStayBusy) = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        const char* value = argv[++i];
        if (option == "--library")
            library = value;
        else if (option == "--driver")
            driver = value;
        else if (option == "--port")
            port = value;
        else if (option == "--com")
            com = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        else if (option == "--missing-com")
            missingCom = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        else if (option == "--limit-ms")
            limitMs = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        else
            return usage();
    }

    wintesthost::Checks checks;
    if (mode == "selftest") {
#if defined(__i386__)
        wintesthost::runSelfTest(checks);
#else
        std::puts("not run on this machine: the self-test of the 32-bit __stdcall checks (a 64-bit build)");
        return kNotRun;
#endif
    } else if (mode == "converter") {
        wintesthost::runConverterSession(checks, library, port);
    } else if (mode == "refused-connection") {
        wintesthost::runRefusedConnection(checks, library, port, limitMs, mayStayBusy);
    } else if (mode == "driver-refusals") {
        wintesthost::runDriverRefusals(checks, driver, missingCom);
    } else if (mode == "driver") {
        if (com == 0) return usage();
        wintesthost::runDriverSession(checks, driver, com, silent);
    } else {
        return usage();
    }
    if (!wintesthost::kConventionChecked) {
        std::puts(
            "not run on this machine: the __stdcall checks of every call (stack pointer, EBX, ESI, EDI);"
            " a 64-bit build has one calling convention");
    }
    // The host outlived every refusal: that is part of what is checked.
    return checks.finish();
}
