#pragma once
// Soak cycles against machine-sim for the soak bench and the soak test: whole converter sessions
// through the exports, and serican opened and closed, with the process's threads, descriptors
// and resident memory read from /proc before and after.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host_session.h"
#include "machine_sim_process.h"
#include "orbel_conv/orbel_dll.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"

namespace orbeltest {

struct ProcessResources {
    int threads = 0;
    int fds = 0;
    long rssKiB = 0;
};

inline int entriesIn(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count - (std::string(folder) == "/proc/self/fd" ? 1 : 0);  // the listing's own descriptor
}

inline ProcessResources processResources() {
    ProcessResources r;
    r.threads = entriesIn("/proc/self/task");
    r.fds = entriesIn("/proc/self/fd");
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        long pages = 0, resident = 0;
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) == 2) r.rssKiB = resident * (sysconf(_SC_PAGESIZE) / 1024);
        std::fclose(statm);
    }
    return r;
}

inline void printResources(FILE* to, const char* when, const ProcessResources& r) {
    std::fprintf(to, "%-26s threads %3d  fds %3d  rss %7ld KiB\n", when, r.threads, r.fds, r.rssKiB);
    std::fflush(to);
}

// The machine twin and the environment that points the converter and serican at it.
class SoakTwin {
public:
    bool start(std::string& error) {
        if (!sim_.start({"--model", "crane", "--quiet"}, error)) return false;
        setenv("SERICAN_COM1", sim_.ptyPath().c_str(), 1);
        setenv("ORBEL_CAN_DRIVER", driverPath().c_str(), 1);
        return true;
    }
    static std::string driverPath() { return MachineSimProcess::binDir() + "/libserican.so"; }

private:
    MachineSimProcess sim_;
};

// Repeats a command while the converter answers busy, as the host does; the last answer.
inline std::vector<uint8_t> pollWhileBusy(uint8_t command, uint32_t limitMs = 20000) {
    const uint32_t start = platform::tickCountMs();
    for (;;) {
        auto e = exchange({0xAA, 0x03, command, 0x00, 0x00});
        if (e.answer.size() < 4 || e.answer[3] != 2 || platform::tickCountMs() - start > limitMs) return e.answer;
        platform::sleepMs(5);
    }
}

// One host session: init, connect, identify, status, de-init. Empty when all went as expected,
// else what went wrong.
inline std::string converterSession() {
    char port[] = "\\\\.\\COM1";
    if (ORBEL_DllInit(port) != ORBEL_OK) return "ORBEL_DllInit failed";
    std::string failure;
    const auto connect = pollWhileBusy(0xE6);
    const auto identify = connect.size() >= 4 && connect[3] == 1 ? pollWhileBusy(0xFA) : connect;
    if (connect.size() < 4 || connect[3] != 1)
        failure = "connect did not end done";
    else if (identify.size() < 4 || identify[3] != 1)
        failure = "identify did not end done";
    else if (exchange({0xAA, 0x03, 0xFB, 0x00, 0x00}).answer.size() != 26)
        failure = "no identification answer";
    else if (exchange({0xAA, 0x03, 0x01, 0x00, 0x00}).answer.size() != 9)
        failure = "no status answer";
    if (ORBEL_DllDeInit() != ORBEL_OK && failure.empty()) failure = "ORBEL_DllDeInit failed";
    return failure;
}

// serican (Linux build) loaded once, its adapter opened and closed again and again.
class SericanCycles {
public:
    bool load(std::string& error) {
        module_ = platform::loadLibrary(SoakTwin::driverPath().c_str());
        if (!module_) {
            error = "cannot load " + SoakTwin::driverPath();
            return false;
        }
        open_ = reinterpret_cast<Open>(platform::librarySymbol(module_, "canOpen_driver"));
        close_ = reinterpret_cast<Close>(platform::librarySymbol(module_, "canClose_driver"));
        if (open_ == nullptr || close_ == nullptr) error = "driver entries missing";
        return open_ != nullptr && close_ != nullptr;
    }
    ~SericanCycles() {
        if (module_) platform::freeLibrary(module_);
    }
    // Empty when the adapter opened and closed.
    std::string cycle() {
        Board board{"1", "500K"};
        void* handle = open_(&board);
        if (handle == nullptr) return "canOpen_driver failed";
        return close_(handle) == 1 ? "" : "canClose_driver did not return 1";
    }

private:
    struct Board {  // the driver's board record: bus name, bit rate
        const char* busname;
        const char* baudrate;
    };
    using Open = void* (*)(Board*);
    using Close = int32_t (*)(void*);
    platform::LibraryHandle module_{};
    Open open_ = nullptr;
    Close close_ = nullptr;
};

}  // namespace orbeltest
