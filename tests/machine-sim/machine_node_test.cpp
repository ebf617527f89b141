// NMT, heartbeat and node guarding of the machine node, against CiA 301 frames.
#include <gtest/gtest.h>

#include "twin_bench.h"

namespace msim {
namespace {

using test::NodeBench;

bool hasEvent(const SimRecord& r, const std::string& kind, const std::string& text) {
    for (const auto& e : r.events())
        if (e.kind == kind && e.text.find(text) != std::string::npos) return true;
    return false;
}

TEST(MachineNode, PowerOnSendsOneBootUpFrameAndEntersPreOperational) {
    SimRecord rec;
    Log log([](const std::string&) {}, 0);
    std::vector<CanFrame> out;
    MachineNode node(test::model("crane"), NodeConfig{}, rec, log, [&](const CanFrame& f, Time) { out.push_back(f); });
    node.powerOn(Time{});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], CanFrame::make(0x70A, {0x00}));
    EXPECT_EQ(node.state(), NmtState::PreOperational);
}

TEST(MachineNode, NmtCommandsMoveTheStateAndOthersNodesCommandsAreIgnored) {
    NodeBench b;
    b.nmt(0x01, 11);
    EXPECT_EQ(b.node.state(), NmtState::PreOperational);
    b.nmt(0x01, 10);
    EXPECT_EQ(b.node.state(), NmtState::Operational);
    b.nmt(0x02, 0);  // broadcast
    EXPECT_EQ(b.node.state(), NmtState::Stopped);
    b.nmt(0x80);
    EXPECT_EQ(b.node.state(), NmtState::PreOperational);
    b.nmt(0x01);
    auto out = b.send(CanFrame::make(0x000, {0x81, 10}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], CanFrame::make(0x70A, {0x00}));
    EXPECT_EQ(b.node.state(), NmtState::PreOperational);
    out = b.send(CanFrame::make(0x000, {0x82, 0}));
    EXPECT_EQ(out.size(), 1u);
    // A one-byte NMT frame carries no node id: ignored.
    b.send(CanFrame::make(0x000, {0x01}));
    EXPECT_EQ(b.node.state(), NmtState::PreOperational);
}

TEST(MachineNode, StoppedNodeDoesNotAnswerSdo) {
    NodeBench b;
    b.nmt(0x02);
    EXPECT_TRUE(b.sdo({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}).empty());
    b.nmt(0x01);
    EXPECT_EQ(b.sdo({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}).size(), 1u);
}

TEST(MachineNode, HeartbeatProducerFollows0x1017) {
    NodeBench b;
    auto hb = b.advance(Millis(999));
    EXPECT_TRUE(hb.empty());
    hb = b.advance(Millis(1));
    ASSERT_EQ(hb.size(), 1u);
    EXPECT_EQ(hb[0], CanFrame::make(0x70A, {0x7F}));
    b.nmt(0x01);
    // 250 ms from now on, written as an expedited download of 0x1017.
    b.ask({0x2B, 0x17, 0x10, 0x00, 0xFA, 0x00, 0, 0});
    hb = b.advance(Millis(1000));
    ASSERT_EQ(hb.size(), 4u) << test::frameText(hb);
    EXPECT_EQ(hb[0], CanFrame::make(0x70A, {0x05}));
    b.ask({0x2B, 0x17, 0x10, 0x00, 0x00, 0x00, 0, 0});
    EXPECT_TRUE(b.advance(Millis(5000)).empty());
}

TEST(MachineNode, HeartbeatConsumerNoticesWhenTheHostFallsSilent) {
    NodeBench b;
    b.nmt(0x01);
    // The converter's entry: node 1, 1000 ms.
    b.ask({0x23, 0x16, 0x10, 0x01, 0xE8, 0x03, 0x01, 0x00});
    b.ask({0x2F, 0x22, 0x22, 0x01, 0x01, 0, 0, 0});
    // Nothing happens until the first heartbeat arms the watch.
    b.advance(Millis(3000));
    EXPECT_EQ(b.node.state(), NmtState::Operational);
    for (int i = 0; i < 4; ++i) {
        b.send(CanFrame::make(0x701, {0x05}));
        b.advance(Millis(500));
    }
    // The last heartbeat came 500 ms ago; the watch runs out 1000 ms after it.
    EXPECT_FALSE(hasEvent(b.record, "heartbeat", "lost"));
    b.advance(Millis(499));
    EXPECT_FALSE(hasEvent(b.record, "heartbeat", "lost"));
    b.advance(Millis(2));
    EXPECT_TRUE(hasEvent(b.record, "heartbeat", "heartbeat of node 1 lost"));
    EXPECT_EQ(b.node.state(), NmtState::PreOperational);
    EXPECT_EQ(b.node.dictionary().entry(0x2222, 1)->asUnsigned(), 0u);
    b.send(CanFrame::make(0x701, {0x05}));
    EXPECT_TRUE(hasEvent(b.record, "heartbeat", "heartbeat of node 1 back"));
}

TEST(MachineNode, ConsumerTableRefusesTheSameNodeTwice) {
    NodeBench b;
    b.ask({0x23, 0x16, 0x10, 0x01, 0xE8, 0x03, 0x01, 0x00});
    auto r = b.ask({0x23, 0x16, 0x10, 0x02, 0xF4, 0x01, 0x01, 0x00});
    EXPECT_EQ(r[0], 0x80);
    EXPECT_EQ(r[7], 0x06);
    EXPECT_EQ(r[6], 0x04);
    EXPECT_EQ(r[5], 0x00);
    EXPECT_EQ(r[4], 0x43);
}

TEST(MachineNode, NodeGuardAnswerToggles) {
    NodeBench b;
    CanFrame rtr;
    rtr.id = 0x70A;
    rtr.rtr = true;
    auto a = b.send(rtr);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0], CanFrame::make(0x70A, {0x7F}));
    b.nmt(0x01);
    a = b.send(rtr);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0], CanFrame::make(0x70A, {0x85}));
    rtr.id = 0x70B;
    EXPECT_TRUE(b.send(rtr).empty());
}

TEST(MachineNode, OtherNodeIdMovesEveryCobId) {
    NodeConfig cfg;
    cfg.nodeId = 0x22;
    NodeBench b("crane", cfg);
    auto r = b.send(CanFrame::make(0x622, {0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].id, 0x5A2);
    EXPECT_TRUE(b.sdo({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}).empty());
    b.nmt(0x01, 0x22);
    EXPECT_EQ(b.node.state(), NmtState::Operational);
}

TEST(MachineNode, NeverOperationalIgnoresStart) {
    NodeConfig cfg;
    cfg.neverOperational = true;
    NodeBench b("crane", cfg);
    b.nmt(0x01);
    EXPECT_EQ(b.node.state(), NmtState::PreOperational);
    EXPECT_TRUE(hasEvent(b.record, "fault", "start command ignored"));
    EXPECT_EQ(b.advance(Millis(1000)).at(0), CanFrame::make(0x70A, {0x7F}));
}

TEST(MachineNode, AbortRuleAnswersTheGivenCode) {
    NodeConfig cfg;
    cfg.aborts.push_back(AbortRule{0x5401, 1, 0x08000024});
    cfg.aborts.push_back(AbortRule{0x2000, std::nullopt, 0x06020000});
    NodeBench b("crane", cfg);
    auto r = b.ask({0x40, 0x01, 0x54, 0x01, 0, 0, 0, 0});
    EXPECT_EQ(r, test::bytes8({0x80, 0x01, 0x54, 0x01, 0x24, 0x00, 0x00, 0x08}));
    r = b.ask({0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0});
    EXPECT_EQ(r, test::bytes8({0x80, 0x00, 0x20, 0x01, 0x00, 0x00, 0x02, 0x06}));
    EXPECT_EQ(b.ask({0x40, 0x04, 0x54, 0x01, 0, 0, 0, 0})[0], 0x41);
}

TEST(MachineNode, BootloaderAnswersObjectMissingForTheConnectionWrites) {
    NodeBench b("bootloader");
    // Heartbeat consumer and diagnose session, as the converter's connection writes them.
    auto r = b.ask({0x23, 0x16, 0x10, 0x01, 0xE8, 0x03, 0x01, 0x00});
    EXPECT_EQ(r, test::bytes8({0x80, 0x16, 0x10, 0x01, 0x00, 0x00, 0x02, 0x06}));
    r = b.ask({0x2F, 0x22, 0x22, 0x01, 0x01, 0, 0, 0});
    EXPECT_EQ(r, test::bytes8({0x80, 0x22, 0x22, 0x01, 0x00, 0x00, 0x02, 0x06}));
    r = b.ask({0x40, 0x00, 0x56, 0x01, 0, 0, 0, 0});
    EXPECT_EQ(r[0], 0x80);
}

TEST(MachineNode, RebootInTheMiddleOfATransferDropsItAndBootsAgain) {
    NodeConfig cfg;
    cfg.rebootInTransfer = RebootRule{0x5404, std::nullopt};
    cfg.rebootTime = Millis(200);
    NodeBench b("crane", cfg);
    b.ask({0x40, 0x04, 0x54, 0x01, 0, 0, 0, 0});
    b.ask({0x60, 0, 0, 0, 0, 0, 0, 0});  // 7 of 13 bytes: past half, the machine goes down
    EXPECT_FALSE(b.node.running());
    EXPECT_TRUE(b.sdo({0x70, 0, 0, 0, 0, 0, 0, 0}).empty());
    auto boot = b.advance(Millis(200));
    ASSERT_FALSE(boot.empty());
    EXPECT_EQ(boot[0], CanFrame::make(0x70A, {0x00}));
    EXPECT_TRUE(b.node.running());
    EXPECT_EQ(b.node.state(), NmtState::PreOperational);
    // Once only: the next read goes through.
    b.ask({0x40, 0x04, 0x54, 0x01, 0, 0, 0, 0});
    b.ask({0x60, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(b.ask({0x70, 0, 0, 0, 0, 0, 0, 0})[0], 0x13);
}

}  // namespace
}  // namespace msim
