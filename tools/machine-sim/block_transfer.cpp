#include "block_transfer.h"

namespace msim {

namespace {
constexpr uint16_t kControl = 0x5407;
constexpr uint16_t kData = 0x5408;

uint32_t rd32(const std::vector<uint8_t>& w, std::size_t at) {
    return static_cast<uint32_t>(w[at]) | static_cast<uint32_t>(w[at + 1]) << 8 |
           static_cast<uint32_t>(w[at + 2]) << 16 | static_cast<uint32_t>(w[at + 3]) << 24;
}
}  // namespace

BlockControl BlockControl::decode(const std::vector<uint8_t>& w) {
    BlockControl c;
    if (w.size() < kWireSize) return c;
    c.blockId = rd32(w, 0);
    c.packetSize = rd32(w, 4);
    c.packetCount = rd32(w, 8);
    c.totalSize = rd32(w, 12);
    c.localAddress = rd32(w, 16);
    c.packetIndex = rd32(w, 20);
    c.state = static_cast<uint16_t>(w[24] | w[25] << 8);
    return c;
}

std::vector<uint8_t> BlockControl::encode() const {
    std::vector<uint8_t> w;
    for (uint32_t v : {blockId, packetSize, packetCount, totalSize, localAddress, packetIndex})
        for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(v >> (8 * i)));
    w.push_back(static_cast<uint8_t>(state & 0xFF));
    w.push_back(static_cast<uint8_t>(state >> 8));
    return w;
}

void BlockTransfer::event(const std::string& text) {
    node_.log().info("block transfer: %s", text.c_str());
    node_.record().addEvent(node_.now(), "block", text);
}

uint32_t BlockTransfer::checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) {
    if (index != kData || sub != 1) return 0;
    if (phase_ != Phase::Receiving) return abort_code::kDeviceState;
    if (size && *size > nextPacketSize_) return abort_code::kLength;
    return 0;
}

uint32_t BlockTransfer::control(const BlockControl& c) {
    switch (c.state) {
        case 0:
            phase_ = Phase::Idle;
            block_.clear();
            current_ = c;
            return 0;
        case 1:
            phase_ = Phase::InitRequested;
            current_ = c;
            return 0;
        case 2: {
            if (phase_ != Phase::InitRequested) return abort_code::kDeviceState;
            const uint64_t expectCount =
                c.packetSize == 0 ? 0 : (static_cast<uint64_t>(c.totalSize) + c.packetSize - 1) / c.packetSize;
            if (c.packetSize == 0 || c.packetCount != expectCount) {
                event("refused sizes: packet size " + std::to_string(c.packetSize) + ", " +
                      std::to_string(c.packetCount) + " packets for " + std::to_string(c.totalSize) + " bytes");
                return abort_code::kValueRange;
            }
            if (c.totalSize > maxBlock_) return abort_code::kOutOfMemory;
            current_ = c;
            block_.clear();
            block_.reserve(c.totalSize);
            packetsReceived_ = 0;
            nextPacketSize_ = c.packetSize;
            phase_ = Phase::Ready;
            event("block " + std::to_string(c.blockId) + ": " + std::to_string(c.totalSize) + " bytes in " +
                  std::to_string(c.packetCount) + " packets");
            return 0;
        }
        case 4:
            if (phase_ == Phase::Ready) {
                if (c.packetIndex != 0) return abort_code::kDeviceState;
                phase_ = Phase::Receiving;
                return 0;
            }
            if (phase_ != Phase::Receiving) return abort_code::kDeviceState;
            // The record after each packet carries the client's count; a packet it believes sent
            // but that never arrived must not pass unnoticed.
            if (c.packetIndex != packetsReceived_) {
                event("packet count mismatch: client says " + std::to_string(c.packetIndex) + ", " +
                      std::to_string(packetsReceived_) + " arrived");
                return abort_code::kDeviceState;
            }
            nextPacketSize_ = c.packetSize;
            return 0;
        case 6: {
            if (phase_ != Phase::Receiving) return abort_code::kDeviceState;
            if (block_.size() != current_.totalSize || packetsReceived_ != current_.packetCount) {
                event("block " + std::to_string(current_.blockId) + " incomplete: " + std::to_string(block_.size()) +
                      " of " + std::to_string(current_.totalSize) + " bytes");
                phase_ = Phase::Idle;
                return abort_code::kCannotStore;
            }
            std::string path, error;
            if (!saveFile(node_.outDir(), "block-" + std::to_string(current_.blockId) + ".bin", block_, path, error)) {
                event("not saved: " + error);
                phase_ = Phase::Idle;
                return abort_code::kCannotStore;
            }
            node_.record().addEvent(node_.now(), "file", "block " + path + " " + std::to_string(block_.size()));
            event("block " + std::to_string(current_.blockId) + " saved to " + path);
            phase_ = Phase::Idle;
            block_.clear();
            return 0;
        }
        case 7:
            if (phase_ != Phase::Idle)
                event("client reports an error; block " + std::to_string(current_.blockId) + " dropped");
            phase_ = Phase::Idle;
            block_.clear();
            return 0;
        default: return abort_code::kValueRange;
    }
}

uint32_t BlockTransfer::beforeWrite(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) {
    if (sub != 1) return 0;
    if (index == kControl) return control(BlockControl::decode(data));
    if (index != kData) return 0;
    if (phase_ != Phase::Receiving) return abort_code::kDeviceState;
    const std::size_t remaining = current_.totalSize - block_.size();
    // A packet is the announced size, or the rest of the block when that is shorter.
    if (data.empty() || (data.size() != nextPacketSize_ && data.size() != remaining) || data.size() > remaining) {
        event("packet of " + std::to_string(data.size()) + " bytes refused (expected " +
              std::to_string(nextPacketSize_) + ", " + std::to_string(remaining) + " remaining)");
        return abort_code::kLength;
    }
    block_.insert(block_.end(), data.begin(), data.end());
    ++packetsReceived_;
    return 0;
}

void BlockTransfer::afterWrite(uint16_t index, uint8_t sub) {
    if (index == kData && sub == 1)
        if (OdEntry* e = node_.od().entry(index, sub)) e->value.clear();  // the packet lives in the block
}

void BlockTransfer::onReboot() {
    if (phase_ != Phase::Idle) event("restart drops block " + std::to_string(current_.blockId));
    phase_ = Phase::Idle;
    block_.clear();
}

}  // namespace msim
