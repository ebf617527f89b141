// Feeds a byte stream to the frame decoder in reads of fuzzer-chosen sizes and checks that the
// messages are exactly those found in the whole stream at once: where a read ends must never
// matter, and nothing may pile up.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame_decoder.h"

namespace {

struct Frame {
    uint16_t cobId;
    uint8_t rtr;
    uint8_t len;
    uint8_t data[8];
};

// The whole stream at once: in step (at the start and right after a frame) a receive frame is 16
// bytes whose third byte is 0x12; after a skipped byte it must also start AA 0F and hold an
// identifier up to 0x7FF, rtr 0 or 1 and a length up to 8. Any other byte is skipped.
std::vector<Frame> framesIn(const std::vector<uint8_t>& s) {
    std::vector<Frame> found;
    std::size_t i = 0;
    bool inStep = true;
    while (s.size() - i >= 16) {
        const uint8_t* b = &s[i];
        const bool plausible = b[0] == 0xAA && b[1] == 0x0F && b[3] <= 0x07 && b[5] <= 1 && b[6] <= 8;
        if (b[2] != 0x12 || (!inStep && !plausible)) {
            ++i;
            inStep = false;
            continue;
        }
        Frame f{};
        f.cobId = static_cast<uint16_t>(b[3] << 8 | b[4]);
        f.rtr = b[5];
        f.len = b[6] > 8 ? 8 : b[6];
        std::memcpy(f.data, b + 7, f.len);
        found.push_back(f);
        i += 16;
        inStep = true;
    }
    return found;
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<uint8_t> stream;
    std::vector<Frame> decoded;
    serican::FrameDecoder decoder;
    while (input.remaining_bytes() > 0) {
        const std::size_t cut = input.ConsumeIntegralInRange<std::size_t>(1, 64);
        const std::vector<uint8_t> read = input.ConsumeBytes<uint8_t>(cut);
        stream.insert(stream.end(), read.begin(), read.end());
        decoder.append(read.data(), read.size());
        for (;;) {
            CanMessage m{};
            const auto result = decoder.next(m);
            if (result != serican::FrameDecoder::Result::Message) {
                check(decoder.pending() < 16);
                check((result == serican::FrameDecoder::Result::Empty) == (decoder.pending() == 0));
                break;
            }
            check(m.len <= 8);
            Frame f{m.cobId, m.rtr, m.len, {}};
            std::memcpy(f.data, m.data, m.len);
            decoded.push_back(f);
        }
    }
    const std::vector<Frame> expected = framesIn(stream);
    check(decoded.size() == expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        check(decoded[i].cobId == expected[i].cobId && decoded[i].rtr == expected[i].rtr &&
              decoded[i].len == expected[i].len);
        check(std::memcmp(decoded[i].data, expected[i].data, expected[i].len) == 0);
    }
    return 0;
}
