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

#include "host_session.h"
#include "machine_sim_process.h"
#include "orbel_dll/orbel_dll.h"
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
        sim_.serveCom1();
        return true;
    }

private:
    MachineSimProcess sim_;
};

struct SessionOutcome {
    std::string failure;      // empty when the session went as expected
    bool identified = false;  // identification asked for and done
};

// One host session: init, connect (0xE6 polled while busy, which retries a failed connection as
// the host does), identify when asked (0xFA polled while busy, for at most identifyLimitMs),
// identification answer, status, de-init. The identification is reported apart: a converter
// that keeps it busy must not stop the soak of everything else.
inline SessionOutcome converterSession(bool identify, uint32_t identifyLimitMs = 3000) {
    SessionOutcome outcome;
    if (initOnCom1() != ORBEL_OK) {
        outcome.failure = "ORBEL_DllInit failed";
        return outcome;
    }
    const auto connect = pollWhileBusy(0xE6);
    if (connect.size() < 4 || connect[3] != 1) {
        outcome.failure =
            connect.size() < 4 ? "no answer to connect" : "connect ended with state " + std::to_string(connect[3]);
    } else {
        if (identify) {
            const auto done = pollWhileBusy(0xFA, identifyLimitMs);
            outcome.identified = done.size() >= 4 && done[3] == 1;
        }
        // An identification cut off by the limit leaves a request running: status waits for it.
        if (outcome.identified && exchange({0xAA, 0x03, 0xFB, 0x00, 0x00}).answer.size() != 26)
            outcome.failure = "no identification answer";
        else if (pollWhileBusy(0x01).size() != 9)
            outcome.failure = "no status answer";
    }
    if (ORBEL_DllDeInit() != ORBEL_OK && outcome.failure.empty()) outcome.failure = "ORBEL_DllDeInit failed";
    return outcome;
}

// Sessions one after the other, identification asked for until it first fails (it is a fault
// of the converter then, and every later one would only wait out the limit).
class SessionCycles {
public:
    std::string cycle() {
        const SessionOutcome outcome = converterSession(identifyFailedIn_ < 0);
        if (identifyFailedIn_ < 0) {
            if (outcome.identified)
                ++identified_;
            else if (outcome.failure.empty())
                identifyFailedIn_ = cycles_;
        }
        ++cycles_;
        return outcome.failure;
    }
    void report(FILE* to) const {
        if (identifyFailedIn_ < 0)
            std::fprintf(to, "identification done in all %d sessions\n", identified_);
        else
            std::fprintf(to, "identification done in %d sessions, then stayed busy in session %d (not asked after)\n",
                         identified_, identifyFailedIn_ + 1);
        std::fflush(to);
    }
    bool allIdentified() const { return identifyFailedIn_ < 0; }

private:
    int cycles_ = 0;
    int identified_ = 0;
    int identifyFailedIn_ = -1;
};

// serican (Linux build) loaded once, its adapter opened and closed again and again.
class SericanCycles {
public:
    bool load(std::string& error) {
        module_ = platform::loadLibrary(MachineSimProcess::canDriverPath().c_str());
        if (!module_) {
            error = "cannot load " + MachineSimProcess::canDriverPath();
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
