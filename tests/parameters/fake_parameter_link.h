#pragma once
// A machine link for the parameter and error-memory handlers that records each request and
// answers with a chosen start result. Operating-hours conversions are the family's.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "parameters/parameter_requests.h"

namespace orbeltest {

class FakeParameterLink : public IParameterRequests, public IParameterOwner {
public:
    struct Request {
        std::string op;
        int32_t type = 0;
        uint32_t sub = 0;
        uint32_t value = 0;
        CommDiag::ErrorBufferEntry entry{};
    };
    std::vector<Request> requests;
    int32_t nextResult = 0;
    std::vector<int32_t> results;   // consumed first, one per request, before nextResult
    std::function<void()> onStart;  // runs inside the start, as a fast completion would
    uint32_t mainCounter = 0;

    int32_t ReadMachineParameter(int32_t t, uint8_t s) override { return record({"ReadMachineParameter", t, s}); }
    int32_t WriteMachineParameter(int32_t t, uint8_t s, uint32_t v) override {
        return record({"WriteMachineParameter", t, s, v});
    }
    int32_t ReadOpHoursCounter(int32_t t, uint8_t s) override { return record({"ReadOpHoursCounter", t, s}); }
    int32_t WriteOpHoursCounter(int32_t t, uint8_t s, uint32_t v) override {
        return record({"WriteOpHoursCounter", t, s, v});
    }
    int32_t ReadErrorBufferEntry(uint8_t n) override { return record({"ReadErrorBufferEntry", 0, n}); }
    int32_t WriteErrorBufferEntry(uint8_t n, const CommDiag::ErrorBufferEntry* e) override {
        Request r{"WriteErrorBufferEntry", 0, n};
        if (e != nullptr) r.entry = *e;
        return record(r);
    }
    uint8_t handleReadOpHoursCounter(uint32_t address, uint32_t s) override {
        switch ((address - 110) % 4) {
            case 0: return static_cast<uint8_t>(s % 60);
            case 1: return static_cast<uint8_t>((s % 3600) / 60);
            case 2: return static_cast<uint8_t>(s / 3600);
            default: return static_cast<uint8_t>(s / 921600);
        }
    }
    uint32_t getOpHoursCounterStartAddr(uint32_t address) override {
        return address >= 110 && address <= 125 ? 110 + (address - 110) / 4 * 4 : 0;
    }
    uint32_t handleWriteOpHoursCounter(uint8_t s, uint8_t m, uint8_t hl, uint8_t hh) override {
        return s + 60u * (m + 60u * (256u * hh + hl));
    }
    int32_t getOpHoursCounterReqAddr() override { return -1; }
    void setMainOpHoursCounter(uint32_t seconds) override { mainCounter = seconds; }

private:
    // Starts may come from the host's thread and the stack's at once, as they do on a real link.
    int32_t record(Request r) {
        int32_t result = nextResult;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests.push_back(r);
            if (!results.empty()) {
                result = results.front();
                results.erase(results.begin());
            }
        }
        if (result == 0 && onStart) onStart();
        return result;
    }
    std::mutex mutex_;
};

}  // namespace orbeltest
