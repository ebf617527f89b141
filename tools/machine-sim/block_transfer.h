#pragma once
#include "object_behaviour.h"

namespace msim {

// The control record of a numbered block transfer, as object 0x5407 sub 1 carries it
// (26 bytes: six 32-bit fields and a 16-bit state, little-endian).
struct BlockControl {
    uint32_t blockId = 0, packetSize = 0, packetCount = 0, totalSize = 0, localAddress = 0, packetIndex = 0;
    uint16_t state = 0;

    static constexpr std::size_t kWireSize = 26;
    static BlockControl decode(const std::vector<uint8_t>& wire);
    std::vector<uint8_t> encode() const;
};

// Follows a block transfer through the states the client announces in 0x5407 (0 reset,
// 1 init requested, 2 sizes known, 4 packets flowing, 6 all sent, 7 error), collects the
// packets written to 0x5408 and saves the assembled block as "block-<id>.bin".
class BlockTransfer : public ObjectBehaviour {
public:
    explicit BlockTransfer(NodeControl& node, std::size_t maxBlock = 16u << 20) : node_(node), maxBlock_(maxBlock) {}

    uint32_t checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) override;
    uint32_t beforeWrite(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) override;
    void afterWrite(uint16_t index, uint8_t sub) override;
    void onReboot() override;

private:
    enum class Phase { Idle, InitRequested, Ready, Receiving };
    uint32_t control(const BlockControl& c);
    void event(const std::string& text);

    NodeControl& node_;
    std::size_t maxBlock_;
    Phase phase_ = Phase::Idle;
    BlockControl current_;
    std::vector<uint8_t> block_;
    uint32_t packetsReceived_ = 0;
    uint32_t nextPacketSize_ = 0;
};

}  // namespace msim
