#include "driver_session.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "legacy_api.h"
#include "proc_address.h"

namespace wintesthost {

namespace {

struct Driver {
    HMODULE module = nullptr;
    CanOpenFn open = nullptr;
    CanCloseFn close = nullptr;
    CanSendFn send = nullptr;
    CanReceiveFn receive = nullptr;
    CanChangeBaudRateFn changeBaudRate = nullptr;
};

template <typename Fn>
bool resolve(Checks& checks, HMODULE module, const char* name, Fn& fn) {
    fn = procAddress<Fn>(module, name);
    return checks.expect(fn != nullptr, format("driver entry %s found by its plain name", name));
}

bool load(Checks& checks, const std::string& path, Driver& d) {
    d.module = LoadLibraryA(path.c_str());
    if (!checks.expect(d.module != nullptr, "LoadLibraryA " + path, format("error %lu", GetLastError()))) return false;
    bool all = resolve(checks, d.module, "canOpen_driver", d.open);
    all &= resolve(checks, d.module, "canClose_driver", d.close);
    all &= resolve(checks, d.module, "canSend_driver", d.send);
    all &= resolve(checks, d.module, "canReceive_driver", d.receive);
    all &= resolve(checks, d.module, "canChangeBaudRate_driver", d.changeBaudRate);
    return all;
}

void unload(Checks& checks, Driver& d) {
    if (d.module != nullptr) checks.expect(FreeLibrary(d.module) != 0, "FreeLibrary of the driver");
    d.module = nullptr;
}

// canOpen_driver must give a null handle.
void expectRefused(Checks& checks, const Driver& d, const char* busname, const char* baudrate,
                   const std::string& what) {
    Board board{busname, baudrate};
    const CallRecord opened = call(d.open, &board);
    if (!checks.convention("canOpen_driver", opened)) return;
    if (!checks.expect(opened.value == 0, what, "a handle came back")) {
        call(d.close, reinterpret_cast<void*>(static_cast<uintptr_t>(opened.value)));
    }
}

// The receiving side, as the stack's receive thread: blocks in canReceive_driver and keeps the
// frames; ends when told to and the driver returns.
struct Receiver {
    CanReceiveFn receive = nullptr;
    void* handle = nullptr;
    HANDLE frameArrived = nullptr;  // auto-reset: one wake per frame
    volatile LONG stopping = 0;
    std::mutex lock;
    std::vector<CanMessage> frames;
    LONG conventionBroken = 0;

    static DWORD WINAPI main(LPVOID self) {
        auto* r = static_cast<Receiver*>(self);
        int emptyInARow = 0;
        for (;;) {
            CanMessage message{};
            const CallRecord got = call(r->receive, r->handle, &message);
            if (got.stackDelta != 0 || !got.registersKept) InterlockedExchange(&r->conventionBroken, 1);
            if (InterlockedCompareExchange(&r->stopping, 0, 0) != 0) return 0;
            if (got.value == 0) {
                emptyInARow = 0;
                std::lock_guard<std::mutex> guard(r->lock);
                r->frames.push_back(message);
                SetEvent(r->frameArrived);
                continue;
            }
            // 1 without a close: nothing decodable arrived. The stack would end its thread here;
            // this host receives again for the next frame, but gives up on a line that only fails.
            if (++emptyInARow >= 100) return 1;
            Sleep(10);
        }
    }

    // The first frame with this identifier (and, if given, this first data byte), waiting at most timeoutMs.
    bool waitFor(uint16_t cobId, DWORD timeoutMs, CanMessage& found) {
        const DWORD start = GetTickCount();
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(lock);
                for (const auto& frame : frames) {
                    if (frame.cobId == cobId) {
                        found = frame;
                        return true;
                    }
                }
            }
            const DWORD spent = GetTickCount() - start;
            if (spent >= timeoutMs) return false;
            WaitForSingleObject(frameArrived, timeoutMs - spent);
        }
    }
};

std::string hexBytes(const CanMessage& m) {
    std::string text;
    for (int i = 0; i < m.len && i < 8; ++i) text += format("%s%02X", i ? " " : "", m.data[i]);
    return text;
}

}  // namespace

void runDriverRefusals(Checks& checks, const std::string& driverPath, unsigned missingCom) {
    Driver d;
    if (load(checks, driverPath, d)) {
        const std::string missing = std::to_string(missingCom);
        expectRefused(checks, d, missing.c_str(), "250K", "bit rate 250K is refused");
        expectRefused(checks, d, "COM", "500K", "a bus name without a number is refused");
        expectRefused(checks, d, missing.c_str(), "500K", "COM" + missing + ", which does not exist, is refused");
        checks.result("canClose_driver", call(d.close, static_cast<void*>(nullptr)), 1,
                      "closing a null handle answers 1");
        char rate[] = "125K";
        checks.result("canChangeBaudRate_driver", call(d.changeBaudRate, static_cast<void*>(nullptr), rate), 0,
                      "changing the bit rate changes nothing and answers 0");
    }
    unload(checks, d);
}

void runDriverSession(Checks& checks, const std::string& driverPath, unsigned com, bool machineSilent) {
    Driver d;
    if (!load(checks, driverPath, d)) {
        unload(checks, d);
        return;
    }
    const std::string bus = std::to_string(com);
    Board board{bus.c_str(), "500K"};
    const CallRecord opened = call(d.open, &board);
    checks.convention("canOpen_driver", opened);
    void* handle = reinterpret_cast<void*>(static_cast<uintptr_t>(opened.value));
    if (!checks.expect(handle != nullptr, "canOpen_driver opens COM" + bus)) {
        unload(checks, d);
        return;
    }

    Receiver receiver;
    receiver.receive = d.receive;
    receiver.handle = handle;
    receiver.frameArrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, &Receiver::main, &receiver, 0, &threadId);
    checks.expect(thread != nullptr, "receive thread started (CreateThread)");

    CanMessage frame{};
    // SDO upload of the device type, object 0x1000 sub 0, from node 10.
    CanMessage request{0x60A, 0, 8, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}};
    if (machineSilent) {
        // The line takes the frame even when nothing answers; the receive just keeps waiting.
        checks.result("canSend_driver", call(d.send, handle, &request), 0,
                      "SDO upload request sent to a silent machine");
        Sleep(1500);
        std::lock_guard<std::mutex> guard(receiver.lock);
        checks.expect(receiver.frames.empty(), "a silent machine: no frame arrives in 1.5 s",
                      format("%u frames", static_cast<unsigned>(receiver.frames.size())));
    } else {
        // The machine produces its heartbeat every second.
        if (checks.expect(receiver.waitFor(0x70A, 3000, frame), "the machine's heartbeat (0x70A) arrives")) {
            checks.expect(frame.len == 1, "heartbeat carries one byte (the node state)",
                          format("length %u", frame.len));
        }
        checks.result("canSend_driver", call(d.send, handle, &request), 0, "SDO upload request sent");
        if (checks.expect(receiver.waitFor(0x58A, 3000, frame), "the machine answers the SDO request (0x58A)")) {
            checks.expect(frame.len == 8 && (frame.data[0] == 0x43 || frame.data[0] == 0x80) && frame.data[1] == 0x00 &&
                              frame.data[2] == 0x10 && frame.data[3] == 0x00,
                          "the answer is about object 0x1000 sub 0", hexBytes(frame));
        }
    }

    // The receive thread is blocked in canReceive_driver now; closing must wake it at once.
    InterlockedExchange(&receiver.stopping, 1);
    checks.result("canClose_driver", call(d.close, handle), 1, "closing the adapter answers 1");
    const bool ended = thread != nullptr && WaitForSingleObject(thread, 1000) == WAIT_OBJECT_0;
    checks.expect(ended, "closing wakes the waiting receive within 1000 ms");
    if (thread != nullptr) {
        if (!ended) TerminateThread(thread, 1);  // what the stack does to a thread that does not end
        CloseHandle(thread);
    }
    if (kConventionChecked)
        checks.expect(receiver.conventionBroken == 0, "canReceive_driver keeps the calling convention on every call");
    CloseHandle(receiver.frameArrived);
    if (ended) unload(checks, d);  // a thread still inside the driver would run into freed code
}

}  // namespace wintesthost
