// The adapter between the serial line and the bus: line pace, faults, candump log.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "adapter.h"
#include "twin_bench.h"

namespace msim {
namespace {

// Node behind an adapter, driven through serial bytes on a fake time line.
struct LineBench {
    explicit LineBench(AdapterConfig ac, NodeConfig nc = {}, CandumpWriter* candump = nullptr)
        : record(t0),
          adapter(ac, record, log, candump, t0),
          node(test::model("crane"), withOutDir(nc), record, log,
               [this](const CanFrame& f, Time t) { adapter.fromBus(f, t); }) {
        adapter.setBus([this](const CanFrame& f, Time t) { node.onFrame(f, t); });
        adapter.setHostPresent(true, t0);
        node.powerOn(t0);
        adapter.advance(t0);
        take();
        inbox.clear();  // the boot-up frame
    }
    static NodeConfig withOutDir(NodeConfig c) {
        c.outDir = ::testing::TempDir();
        return c;
    }

    void hostSends(const CanFrame& f) {
        const SerialFrame s = encodeHostSendFrame(f);
        adapter.onHostBytes(s.data(), s.size(), now);
    }
    void run(Time until) {
        for (;;) {
            auto d = earliest(adapter.nextDeadline(), node.nextDeadline());
            if (!d || *d > until) break;
            now = std::max(now, *d);
            adapter.advance(now);
            node.advance(now);
        }
        now = until;
        adapter.advance(now);
        node.advance(now);
    }
    // Runs until the host has received a frame from `id`, returning it.
    std::optional<CanFrame> waitFor(uint16_t id, Millis limit = Millis(10000)) {
        const Time end = now + limit;
        while (now < end) {
            for (auto it = inbox.begin(); it != inbox.end(); ++it)
                if (it->id == id) {
                    CanFrame f = *it;
                    inbox.erase(it);
                    return f;
                }
            auto d = earliest(adapter.nextDeadline(), node.nextDeadline());
            run(d && *d < end ? *d : end);
            take();
        }
        return std::nullopt;
    }
    // Moves the adapter's output into `inbox` (receive frames) and `junk` (anything else).
    void take() {
        const auto& out = adapter.output();
        std::size_t i = 0;
        while (i < out.size()) {
            if (out.size() - i >= 16 && out[i] == 0xAA && out[i + 1] == 0x0F && out[i + 2] == 0x12) {
                CanFrame f;
                f.id = static_cast<uint16_t>(out[i + 3] << 8 | out[i + 4]);
                f.rtr = out[i + 5];
                f.len = out[i + 6];
                std::memcpy(f.data.data(), &out[i + 7], 8);
                inbox.push_back(f);
                i += 16;
            } else {
                ++junk;
                ++i;
            }
        }
        adapter.consumed(out.size());
    }

    Time t0{};
    Time now{};
    SimRecord record;
    Log log{[](const std::string&) {}, 0};
    Adapter adapter;
    MachineNode node;
    std::vector<CanFrame> inbox;
    std::size_t junk = 0;
};

CanFrame sdoReq(std::initializer_list<uint8_t> b) { return CanFrame::make(0x60A, b); }

TEST(Adapter, LineTimingPacesA64KiBBlockDownloadAsTheSerialLineWould) {
    AdapterConfig ac;
    ac.lineTiming = true;
    NodeConfig nc;
    nc.eraseTime = Millis(0);
    LineBench b(ac, nc);
    b.hostSends(sdoReq({0x2F, 0x51, 0x1F, 0x01, 0x03, 0, 0, 0}));
    ASSERT_TRUE(b.waitFor(0x58A));
    b.run(b.now + Millis(10));

    const std::size_t size = 64 * 1024;
    const Time start = b.now;
    std::size_t hostFrames = 0, answers = 0;
    b.hostSends(sdoReq({0xC2, 0x50, 0x1F, 0x01, 0x00, 0x00, 0x01, 0x00}));
    ++hostFrames;
    auto init = b.waitFor(0x58A);
    ASSERT_TRUE(init);
    ++answers;
    ASSERT_EQ(init->data[0], 0xA4);
    uint8_t blk = init->data[4];
    std::size_t pos = 0;
    while (pos < size) {
        // The host writes a whole block at once, as a driver with a deep queue does.
        uint8_t seq = 0;
        for (std::size_t at = pos; at < size && seq < blk; at += 7) {
            ++seq;
            CanFrame f;
            f.id = 0x60A;
            f.len = 8;
            f.data[0] = static_cast<uint8_t>((at + 7 >= size ? 0x80 : 0) | seq);
            b.hostSends(f);
            ++hostFrames;
        }
        auto ack = b.waitFor(0x58A);
        ASSERT_TRUE(ack);
        ++answers;
        ASSERT_EQ(ack->data[0], 0xA2);
        ASSERT_EQ(ack->data[1], seq);
        pos += 7u * seq;
        blk = ack->data[2];
    }
    b.hostSends(sdoReq({static_cast<uint8_t>(0xC1 | ((7 - size % 7) % 7) << 2), 0, 0, 0, 0, 0, 0, 0}));
    ++hostFrames;
    auto end = b.waitFor(0x58A);
    ASSERT_TRUE(end);
    ++answers;
    EXPECT_EQ(end->data[0], 0xA1);
    const auto took = b.now - start;
    const auto ft = b.adapter.frameTime();
    EXPECT_EQ(ft.count(), 4166666);  // 16 bytes x 10 bits at 38400 bit/s
    // At least the line time of everything the host sent ...
    EXPECT_GE(took, ft * static_cast<long>(hostFrames));
    // ... and no more than that plus the answers waited for on the way back.
    EXPECT_LE(took, ft * static_cast<long>(hostFrames + answers) + Millis(1));
    EXPECT_EQ(hostFrames, 1 + (size + 6) / 7 + 1);
    EXPECT_GT(took, std::chrono::seconds(39));
    std::remove((::testing::TempDir() + "/firmware-node10.bin").c_str());
}

TEST(Adapter, WithoutLineTimingFramesPassAtOnce) {
    LineBench b(AdapterConfig{});
    b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.take();
    ASSERT_EQ(b.inbox.size(), 1u);
    EXPECT_EQ(b.inbox[0], CanFrame::make(0x58A, {0x43, 0x18, 0x10, 0x02, 0x05, 0, 0, 0}));
}

TEST(Adapter, DropEveryThirdFrameTowardsTheBus) {
    AdapterConfig ac;
    ac.faults.dropEvery = 3;
    ac.faults.dropDirection = FaultConfig::Direction::ToBus;
    LineBench b(ac);
    for (int i = 0; i < 6; ++i) b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.take();
    EXPECT_EQ(b.inbox.size(), 4u);
    EXPECT_EQ(b.record.counters().droppedToBus, 2u);
    EXPECT_EQ(b.record.counters().droppedToHost, 0u);
}

TEST(Adapter, RandomDropsRepeatWithTheSameSeed) {
    auto run = [](uint64_t seed) {
        AdapterConfig ac;
        ac.faults.dropShare = 0.3;
        ac.faults.seed = seed;
        LineBench b(ac);
        std::string pattern;
        for (int i = 0; i < 40; ++i) {
            b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
            const std::size_t before = b.inbox.size();
            b.take();
            pattern += b.inbox.size() > before ? '1' : '0';
        }
        return pattern;
    };
    const std::string a = run(7);
    EXPECT_EQ(a, run(7));
    EXPECT_NE(a, run(8));
    EXPECT_NE(a.find('0'), std::string::npos);
    EXPECT_NE(a.find('1'), std::string::npos);
}

TEST(Adapter, DelayedAnswersArriveLateWhileHeartbeatsDoNot) {
    AdapterConfig ac;
    ac.faults.delayAnswers = Millis(200);
    LineBench b(ac);
    b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.take();
    EXPECT_TRUE(b.inbox.empty());
    b.run(b.now + Millis(199));
    b.take();
    EXPECT_TRUE(b.inbox.empty());
    b.run(b.now + Millis(1));
    b.take();
    ASSERT_EQ(b.inbox.size(), 1u);
    EXPECT_EQ(b.inbox[0].id, 0x58A);
    b.run(b.now + Millis(800));
    b.take();
    ASSERT_EQ(b.inbox.size(), 2u);
    EXPECT_EQ(b.inbox[1].id, 0x70A);
}

TEST(Adapter, GarbageBurstsComeBeforeEveryNthFrame) {
    AdapterConfig ac;
    ac.faults.garbageEvery = 2;
    LineBench b(ac);
    for (int i = 0; i < 4; ++i) b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.take();
    EXPECT_EQ(b.record.counters().garbageBursts, 2u);
    EXPECT_GE(b.junk, 2u);
    EXPECT_GE(b.inbox.size(), 3u);  // random bytes may swallow a frame start, never add one
}

TEST(Adapter, LossesGarbageAndDelaysBeginAtTheirTime) {
    AdapterConfig ac;
    ac.faults.dropEvery = 2;
    ac.faults.garbageEvery = 1;
    ac.faults.delayAnswers = Millis(200);
    ac.faults.faultsAfter = Millis(100);
    LineBench b(ac);
    for (int i = 0; i < 4; ++i) b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.take();
    EXPECT_EQ(b.inbox.size(), 4u) << "before their time every answer comes at once, whole";
    EXPECT_EQ(b.record.counters().garbageBursts, 0u);
    b.run(b.t0 + Millis(100));
    b.take();
    const std::size_t before = b.inbox.size();
    for (int i = 0; i < 4; ++i) b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.take();
    EXPECT_EQ(b.inbox.size(), before) << "answers held back";
    EXPECT_EQ(b.record.counters().droppedToBus + b.record.counters().droppedToHost, 2u);
}

TEST(Adapter, SilenceStopsBothDirectionsForItsTime) {
    AdapterConfig ac;
    ac.faults.silentAfter = Millis(100);
    ac.faults.silentFor = Millis(500);
    LineBench b(ac);
    b.run(b.t0 + Millis(150));
    b.hostSends(CanFrame::make(0x000, {0x01, 0x0A}));
    b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.run(b.t0 + Millis(599));
    b.take();
    EXPECT_TRUE(b.inbox.empty());
    EXPECT_EQ(b.node.state(), NmtState::PreOperational);
    b.run(b.t0 + Millis(601));
    b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.take();
    ASSERT_EQ(b.inbox.size(), 1u);
    EXPECT_EQ(b.inbox[0].id, 0x58A);
}

TEST(Adapter, NothingQueuesForAnAbsentHostAndTheDecoderStartsAfresh) {
    LineBench b(AdapterConfig{});
    const SerialFrame s = encodeHostSendFrame(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.adapter.onHostBytes(s.data(), 7, b.now);  // half a frame, then the host goes away
    b.adapter.setHostPresent(false, b.now);
    b.run(b.now + Millis(3000));
    EXPECT_TRUE(b.adapter.output().empty());
    EXPECT_GE(b.record.counters().lostWhileHostAway, 3u);
    b.adapter.setHostPresent(true, b.now);
    b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    b.take();
    ASSERT_EQ(b.inbox.size(), 1u);
    EXPECT_EQ(b.record.counters().badBytesFromHost, 0u);
}

TEST(CandumpWriter, WritesTheCandumpLogFormat) {
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* f = open_memstream(&buf, &len);
    const Time t0{};
    const auto wall = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
    {
        CandumpWriter w(f, "vcan3", t0, wall);
        w.write(CanFrame::make(0x60A, {0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}), t0 + Micros(123));
        CanFrame rtr;
        rtr.id = 0x70A;
        rtr.rtr = true;
        w.write(rtr, t0 + Millis(1500));
        w.write(CanFrame::make(0x000, {}), t0 + Millis(2000));
    }
    std::fclose(f);
    EXPECT_EQ(std::string(buf, len),
              "(1700000000.000123) vcan3 60A#4018100200000000\n"
              "(1700000001.500000) vcan3 70A#R\n"
              "(1700000002.000000) vcan3 000#\n");
    std::free(buf);
}

TEST(Adapter, CandumpLogShowsBothDirections) {
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* f = open_memstream(&buf, &len);
    {
        CandumpWriter w(f, "can0", Time{}, std::chrono::system_clock::time_point{});
        LineBench b(AdapterConfig{}, NodeConfig{}, &w);
        b.hostSends(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    }
    std::fclose(f);
    const std::string log(buf, len);
    std::free(buf);
    EXPECT_NE(log.find(" can0 70A#00\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" can0 60A#4018100200000000\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" can0 58A#4318100205000000\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace msim
