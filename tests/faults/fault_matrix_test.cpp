// The fault matrix: each workload against machine-sim with each fault it can inject, through the
// converter's exports and the real serican on a pty. A cell must end done with exactly the
// twin's data, or failed and reported so, within the client's time-outs; afterwards the
// converter must answer the next package, and a next session against a sound machine must work.
// Every cell runs in a child process of its own (the converter is a process-wide singleton),
// two at a time; the test prints the matrix as a table.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_session.h"
#include "machine_sim_process.h"
#include "orbel_dll/orbel_dll.h"
#include "platform/clock.h"

namespace {

using orbeltest::exchange;
using orbeltest::MachineSimProcess;
using orbeltest::pollWhileBusy;

// Longer than any outcome the client's time-outs allow: 10 s connection budget plus a 4 s SDO
// transfer still running at its end; two 4 s transfers for the identification.
constexpr uint32_t kConnectLimitMs = 20000;
constexpr uint32_t kIdentifyLimitMs = 20000;

enum class Outcome : int { Done, FailedReported, WrongData, Hang, NoAnswerAfter, NextSessionBroken, NoTwin };

const char* nameOf(Outcome o) {
    switch (o) {
    case Outcome::Done: return "done";
    case Outcome::FailedReported: return "failed-reported";
    case Outcome::WrongData: return "DONE WITH WRONG DATA";
    case Outcome::Hang: return "HANG";
    case Outcome::NoAnswerAfter: return "NO ANSWER AFTER";
    case Outcome::NextSessionBroken: return "NEXT SESSION BROKEN";
    case Outcome::NoTwin: return "machine-sim did not start";
    }
    return "?";
}

bool acceptable(Outcome o) { return o == Outcome::Done || o == Outcome::FailedReported; }

// What the child reports through its pipe.
struct CellResult {
    Outcome outcome = Outcome::NoTwin;
    uint32_t elapsedMs = 0;
    char detail[160] = {};
};

struct Fault {
    const char* name;
    std::vector<std::string> simArgs;
    Outcome knownOutcome = Outcome::Done;  // a converter fault not yet mended gives this instead
};

// Converter faults known and reported, not yet mended. Their cells show the outcome as known and
// do not fail the test; remove an entry once its fault is mended.
//  - a connection started right after ORBEL_DllInit can be cut off by the alarm thread's start,
//    which sets the local node to Initialisation and frees the running SDO line (connection
//    failed within milliseconds, "Node did not respond in time"); the host's second attempt
//    connects, but the next identification can then stay busy.
constexpr const char* kKnownNextSessionFault = "identification still busy";

// A next session broken by the known fault above, and only by it.
bool knownNextSessionFault(const CellResult& r) {
    const char* next = std::strstr(r.detail, "next session: ");
    return r.outcome == Outcome::NextSessionBroken && next != nullptr &&
           std::strstr(next, kKnownNextSessionFault) != nullptr;
}

// What machine-sim injects today.
const std::vector<Fault>& faults() {
    static const std::vector<Fault> all = {
        {"none", {}},
        {"1% lost to machine", {"--drop-share", "0.01", "--drop-direction", "to-bus", "--seed", "3"}},
        {"1% lost to host", {"--drop-share", "0.01", "--drop-direction", "to-host", "--seed", "3"}},
        {"10% lost to machine", {"--drop-share", "0.1", "--drop-direction", "to-bus", "--seed", "5"}},
        {"10% lost to host", {"--drop-share", "0.1", "--drop-direction", "to-host", "--seed", "5"}},
        {"garbage on the line", {"--garbage-every", "3", "--seed", "7"}},
        {"reboot mid-transfer", {"--reboot-in-transfer", "0x5404:1"}},  // the 13-byte serial number
        {"silent 2 s", {"--silent-after-ms", "150", "--silent-for-ms", "2000"}},
        {"silent for good", {"--silent-after-ms", "150"}},
        {"abort heartbeat setup", {"--abort", "0x1016:1=0x08000000"}},
        {"abort diagnose session", {"--abort", "0x2222:1=0x08000000"}},
        {"abort machine mode", {"--abort", "0x5600:1=0x08000000"}},
        {"abort serial number", {"--abort", "0x5404:1=0x08000000"}},
        {"abort version", {"--abort", "0x5401:1=0x08000000"}},
        {"abort machine type", {"--abort", "0x2000:1=0x08000000"}},
        {"answers past time-out", {"--delay-answers-ms", "4500"}},
    };
    return all;
}

// The twin's crane: machine number 5 (0xFB 0x0A 0x0C), software 2.05.13.
bool identificationExact(std::string& detail) {
    const auto id = exchange({0xAA, 0x03, 0xFB, 0x00, 0x00}).answer;
    uint8_t revision[3] = {};
    const bool revisionRead = ORBEL_ConvGetSWRevision(3, revision) == ORBEL_OK;
    char text[160];
    std::snprintf(text, sizeof text, "0xFB %zu bytes, 6..8: %02X %02X %02X; revision %u.%u.%u", id.size(),
                  id.size() > 8 ? id[6] : 0, id.size() > 8 ? id[7] : 0, id.size() > 8 ? id[8] : 0, revision[0],
                  revision[1], revision[2]);
    detail = text;
    return id.size() == 26 && id[3] == 1 && id[6] == 0x0A && id[7] == 0x0C && id[8] == 0x25 && revisionRead &&
           revision[0] == 2 && revision[1] == 5 && revision[2] == 13;
}

bool startTwin(MachineSimProcess& sim, const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--model", "crane", "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    if (!sim.start(args, error)) return false;
    setenv("SERICAN_COM1", sim.ptyPath().c_str(), 1);
    setenv("ORBEL_CAN_DRIVER", (MachineSimProcess::binDir() + "/libserican.so").c_str(), 1);
    return true;
}

// Connect (0xE6, then 0x0F while busy: 0xE6 itself would start a new attempt after a failure),
// once more after a failure as the host does, and identify (0xFA while busy, each step starting
// the next read).
Outcome connectAndIdentify(std::string& detail) {
    for (int attempt = 1;; ++attempt) {
        const auto started = exchange({0xAA, 0x03, 0xE6, 0x00, 0x00}).answer;
        if (started.size() < 4) {
            detail = "no answer to 0xE6";
            return Outcome::Hang;
        }
        const auto connected = started[3] == 2 ? pollWhileBusy(0x0F, kConnectLimitMs) : started;
        if (connected.size() < 4 || connected[3] == 2) {
            detail = "connection still busy";
            return Outcome::Hang;
        }
        if (connected[3] == 1) {
            if (attempt > 1) detail = "connected at the second attempt; ";
            break;
        }
        if (attempt == 2) {
            detail = "connection failed twice";
            return Outcome::FailedReported;
        }
    }
    const auto identified = pollWhileBusy(0xFA, kIdentifyLimitMs);
    if (identified.size() < 4 || identified[3] == 2) {
        detail += "identification still busy";
        return Outcome::Hang;
    }
    if (identified[3] != 1) {
        detail += "identification failed";
        return Outcome::FailedReported;
    }
    std::string data;
    const bool exact = identificationExact(data);
    detail += data;
    return exact ? Outcome::Done : Outcome::WrongData;
}

CellResult runCell(const Fault& fault) {
    CellResult result;
    std::string detail;
    MachineSimProcess sim;
    char port[] = "\\\\.\\COM1";
    if (!startTwin(sim, fault.simArgs) || ORBEL_DllInit(port) != ORBEL_OK) return result;
    const uint32_t start = platform::tickCountMs();
    result.outcome = connectAndIdentify(detail);
    result.elapsedMs = platform::tickCountMs() - start;

    if (acceptable(result.outcome) && pollWhileBusy(0x01, kConnectLimitMs).size() != 9) {
        result.outcome = Outcome::NoAnswerAfter;
        detail += "; 0x01 unanswered afterwards";
    }
    ORBEL_DllDeInit();
    sim.stop();

    if (acceptable(result.outcome)) {
        MachineSimProcess sound;
        std::string next;
        if (!startTwin(sound, {}) || ORBEL_DllInit(port) != ORBEL_OK) {
            result.outcome = Outcome::NoTwin;
        } else if (connectAndIdentify(next) != Outcome::Done) {
            result.outcome = Outcome::NextSessionBroken;
            detail += "; next session: " + next;
        }
        ORBEL_DllDeInit();
    }
    std::snprintf(result.detail, sizeof result.detail, "%s", detail.c_str());
    return result;
}

struct Child {
    pid_t pid;
    int pipe;
    std::size_t cell;
};

// Runs one cell in a child whose standard output (the converter's trace) is discarded.
Child startCell(std::size_t cell) {
    int fds[2];
    if (pipe(fds) != 0) return {-1, -1, cell};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        const CellResult r = runCell(faults()[cell]);
        const ssize_t written = write(fds[1], &r, sizeof r);
        _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(fds[1]);
    return {pid, fds[0], cell};
}

CellResult finish(const Child& child) {
    CellResult r;
    std::snprintf(r.detail, sizeof r.detail, "the cell's process died");
    r.outcome = Outcome::Hang;
    CellResult got;
    if (child.pipe >= 0 && read(child.pipe, &got, sizeof got) == static_cast<ssize_t>(sizeof got)) r = got;
    if (child.pipe >= 0) close(child.pipe);
    int status = 0;
    if (child.pid > 0) waitpid(child.pid, &status, 0);
    return r;
}

TEST(FaultMatrix, ConnectAndIdentify) {
    const std::size_t cells = faults().size();
    std::vector<CellResult> results(cells);
    std::vector<Child> running;
    constexpr std::size_t kParallel = 2;
    for (std::size_t next = 0; next < cells || !running.empty();) {
        while (next < cells && running.size() < kParallel) running.push_back(startCell(next++));
        // Cells end in any order; wait for the oldest, which keeps the code plain.
        results[running.front().cell] = finish(running.front());
        running.erase(running.begin());
    }

    std::printf("\n%-18s | %-24s | %s\n", "workload", "fault", "outcome (time taken)");
    std::printf("%s\n", std::string(90, '-').c_str());
    for (std::size_t i = 0; i < cells; ++i) {
        const CellResult& r = results[i];
        const Fault& f = faults()[i];
        const bool known = r.outcome != Outcome::Done && (r.outcome == f.knownOutcome || knownNextSessionFault(r));
        std::printf("%-18s | %-24s | %s (%.1f s)%s%s%s\n", "connect+identify", f.name, nameOf(r.outcome),
                    r.elapsedMs / 1000.0, r.detail[0] ? ": " : "", r.detail, known ? " [known fault]" : "");
    }
    std::fflush(stdout);
    for (std::size_t i = 0; i < cells; ++i) {
        const CellResult& r = results[i];
        const Fault& f = faults()[i];
        EXPECT_TRUE(acceptable(r.outcome) || r.outcome == f.knownOutcome || knownNextSessionFault(r))
            << f.name << ": " << nameOf(r.outcome) << " " << r.detail;
    }
    EXPECT_EQ(results[0].outcome, Outcome::Done) << "without a fault the workload must end done";
}

}  // namespace
