#pragma once
// A machine node on a fake time line, driven with frames written by hand.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "eds_loader.h"
#include "machine_node.h"

namespace msim::test {

inline ObjectDictionary model(const std::string& name, uint8_t nodeId = 10) {
    return loadEds(std::string(MODELS_DIR) + "/" + name + ".eds", nodeId);
}

inline std::string frameText(const std::vector<CanFrame>& frames) {
    std::string s;
    for (const auto& f : frames) s += toCandumpText(f) + " ";
    return s;
}

struct NodeBench {
    explicit NodeBench(const std::string& name = "crane", NodeConfig cfg = {}, ObjectDictionary* od = nullptr)
        : record(t),
          node(od ? std::move(*od) : model(name, cfg.nodeId), withDefaults(cfg), record, log,
               [this](const CanFrame& f, Time) { out.push_back(f); }) {
        node.powerOn(t);
    }

    static NodeConfig withDefaults(NodeConfig c) {
        if (c.outDir == ".") c.outDir = ::testing::TempDir();
        return c;
    }

    // Sends one frame and returns what the node answered at once.
    std::vector<CanFrame> send(const CanFrame& f) {
        out.clear();
        node.onFrame(f, t);
        return out;
    }
    std::vector<CanFrame> sdo(std::initializer_list<uint8_t> bytes) { return send(CanFrame::make(0x60A, bytes)); }
    // The single SDO answer the node gives to a request, as 8 bytes.
    std::array<uint8_t, 8> ask(std::initializer_list<uint8_t> bytes) {
        auto r = sdo(bytes);
        EXPECT_EQ(r.size(), 1u) << frameText(r);
        if (r.empty()) return {};
        EXPECT_EQ(r[0].id, 0x58A);
        return r[0].data;
    }
    std::vector<CanFrame> advance(Millis ms) {
        out.clear();
        const Time end = t + ms;
        // Step through every deadline on the way, as the program's loop does.
        for (;;) {
            auto d = node.nextDeadline();
            if (!d || *d > end) break;
            t = std::max(t, *d);
            node.advance(t);
        }
        t = end;
        node.advance(t);
        return out;
    }
    void nmt(uint8_t cs, uint8_t id = 10) { send(CanFrame::make(0x000, {cs, id})); }

    Time t{};
    SimRecord record;
    Log log{[](const std::string&) {}, 0};
    std::vector<CanFrame> out;
    MachineNode node;
};

inline std::array<uint8_t, 8> bytes8(std::initializer_list<uint8_t> b) {
    std::array<uint8_t, 8> a{};
    std::size_t i = 0;
    for (uint8_t x : b) a[i++] = x;
    return a;
}

}  // namespace msim::test
