// Description files of any content: split, loaded, then read and written through a list, with
// every answer byte kept inside its area.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/orbel_convbuffer.h"
#include "parameters/orbel_parameterlist.h"
#include "parameters/parameter_requests.h"

namespace {

class NullLink : public IParameterRequests, public IParameterOwner {
public:
    int32_t ReadMachineParameter(int32_t, uint8_t) override { return 0; }
    int32_t WriteMachineParameter(int32_t, uint8_t, uint32_t) override { return 0; }
    int32_t ReadOpHoursCounter(int32_t, uint8_t) override { return 0; }
    int32_t WriteOpHoursCounter(int32_t, uint8_t, uint32_t) override { return 0; }
    int32_t ReadErrorBufferEntry(uint8_t) override { return 0; }
    int32_t WriteErrorBufferEntry(uint8_t, const CommDiag::ErrorBufferEntry*) override { return 0; }
    uint8_t handleReadOpHoursCounter(uint32_t, uint32_t s) override { return static_cast<uint8_t>(s); }
    uint32_t getOpHoursCounterStartAddr(uint32_t a) override { return a >= 110 && a <= 125 ? a - (a - 110) % 4 : 0; }
    uint32_t handleWriteOpHoursCounter(uint8_t s, uint8_t m, uint8_t l, uint8_t h) override {
        return s + 60u * (m + 60u * (256u * h + l));
    }
    int32_t getOpHoursCounterReqAddr() override { return -1; }
    void setMainOpHoursCounter(uint32_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    NullLink link;
    ORBEL_ParameterList list;
    list.AddDescriptionLines(lines);
    list.MarkParametersToBeRequested(0, 300);
    ParameterRequest request;
    size_t remaining = 0;
    while (list.TakeReadRequest(&request, &remaining)) {
        const uint32_t value = 0x89ABCDEFu;
        list.SetParameterValue(request.address, request.valueType, &value);
        list.ChangeParameterValue(request.address, 3, &value);
    }
    list.MarkChangedParametersToBeWritten(link);
    while (list.TakeWriteRequest(&request, &remaining)) {
    }
    return 0;
}
