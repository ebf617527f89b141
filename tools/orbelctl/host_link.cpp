#include "host_link.h"

#include "common/frame_checksum.h"
#include "platform/clock.h"

namespace {
constexpr uint8_t kStateBusy = 2;
constexpr uint32_t kPollPauseMs = 20;
}  // namespace

Answer HostLink::exchange(const std::vector<uint8_t>& package) {
    Answer answer;
    std::vector<uint8_t> bytes(package);
    answer.writeResult = library_.ConvWriteData(static_cast<uint32_t>(bytes.size()), bytes.data());
    int32_t count = 0;
    if (library_.ConvGetByteCount(&count) != 0) return answer;
    for (int32_t i = 0; i < count; ++i) {
        uint8_t byte = 0;
        if (library_.ConvReadData(&byte) != 0) break;
        answer.bytes.push_back(byte);
    }
    return answer;
}

Answer HostLink::poll(const std::vector<uint8_t>& package, bool& timedOut) {
    timedOut = false;
    const uint32_t start = platform::tickCountMs();
    for (;;) {
        Answer answer = exchange(package);
        if (answer.empty() || answer.state() != kStateBusy) return answer;
        if (platform::tickCountMs() - start >= timeoutMs_) {
            timedOut = true;
            return answer;
        }
        platform::sleepMs(kPollPauseMs);
    }
}

std::vector<uint8_t> HostLink::package(uint8_t command, uint8_t stateByte, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes(data.size() + 5);
    bytes[0] = 0xAA;
    bytes[1] = static_cast<uint8_t>(data.size() + 2);
    bytes[2] = command;
    bytes[3] = stateByte;
    for (size_t i = 0; i < data.size(); ++i) bytes[4 + i] = data[i];
    bytes.back() = orbel::frameChecksum(bytes.data(), bytes.size() - 1);
    return bytes;
}
