#include "reference_server.h"

#include <algorithm>
#include <cstring>

namespace sdo_test {

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

ReferenceServer::ReferenceServer(Bus& bus, uint8_t nodeId)
    : bus_(bus), requestCobId_(static_cast<uint16_t>(0x600 + nodeId)), answerCobId_(static_cast<uint16_t>(0x580 + nodeId)) {
    bus_.addListener([this](const CanMessage& m) { onFrame(m); });
}

void ReferenceServer::send(std::initializer_list<uint8_t> bytes) {
    CanMessage m = frame(answerCobId_, {0, 0, 0, 0, 0, 0, 0, 0});
    std::copy(bytes.begin(), bytes.end(), m.data);
    bus_.peerSend(m);
}

void ReferenceServer::send(const uint8_t* bytes) {
    CanMessage m = frame(answerCobId_, {0, 0, 0, 0, 0, 0, 0, 0});
    std::memcpy(m.data, bytes, 8);
    bus_.peerSend(m);
}

void ReferenceServer::sendUploadBlock() {
    size_t at = position_;
    sentInBlock_ = 0;
    lastSent_ = false;
    while (sentInBlock_ < blockSize_ && !lastSent_) {
        const size_t n = std::min<size_t>(7, object.size() - at);
        uint8_t f[8] = {};
        ++sentInBlock_;
        lastSent_ = at + n == object.size();
        f[0] = static_cast<uint8_t>(sentInBlock_ | (lastSent_ ? 0x80 : 0));
        if (n) std::memcpy(f + 1, object.data() + at, n);
        unusedInLast_ = static_cast<uint8_t>(7 - n);
        at += n;
        send(f);
    }
    mode_ = Mode::BlockUploadAck;
}

void ReferenceServer::onFrame(const CanMessage& m) {
    if (m.cobId != requestCobId_ || m.len != 8) return;
    const uint8_t* d = m.data;
    const uint8_t mux[3] = {d[1], d[2], d[3]};
    if (mode_ == Mode::BlockDownload && d[0] != 0x80) {
        const uint8_t seq = d[0] & 0x7F;
        if (seq == sequence_ + 1) {
            incoming_.insert(incoming_.end(), d + 1, d + 8);
            sequence_ = seq;
            if (d[0] & 0x80) mode_ = Mode::BlockDownloadEnd;
        }
        if ((d[0] & 0x80) || seq == receiveBlockSize) {
            send({0xA2, sequence_, receiveBlockSize});
            sequence_ = 0;
        }
        return;
    }
    switch (d[0] >> 5) {
        case 1: {  // initiate download
            incoming_.clear();
            if (d[0] & 0x02) {
                const size_t n = (d[0] & 0x01) ? 4 - ((d[0] >> 2) & 3) : 4;
                object.assign(d + 4, d + 4 + n);
                ++completed;
            } else {
                sizeGiven_ = d[0] & 0x01;
                expectedSize_ = le32(d + 4);
                toggle_ = 0;
                mode_ = Mode::SegmentedDownload;
            }
            send({0x60, mux[0], mux[1], mux[2]});
            return;
        }
        case 0: {  // download segment
            if (mode_ != Mode::SegmentedDownload || ((d[0] >> 4) & 1) != toggle_) {
                send({0x80, 0, 0, 0, 0x00, 0x00, 0x03, 0x05});
                mode_ = Mode::Idle;
                return;
            }
            const size_t n = 7 - ((d[0] >> 1) & 7);
            incoming_.insert(incoming_.end(), d + 1, d + 1 + n);
            send({static_cast<uint8_t>(0x20 | toggle_ << 4)});
            toggle_ ^= 1;
            if (d[0] & 0x01) {
                mode_ = Mode::Idle;
                if (!sizeGiven_ || incoming_.size() == expectedSize_) {
                    object = incoming_;
                    ++completed;
                }
            }
            return;
        }
        case 2: {  // initiate upload
            if (!object.empty() && object.size() <= 4) {
                uint8_t f[8] = {static_cast<uint8_t>(0x43 | (4 - object.size()) << 2), mux[0], mux[1], mux[2]};
                std::memcpy(f + 4, object.data(), object.size());
                send(f);
                ++completed;
                return;
            }
            const uint32_t size = static_cast<uint32_t>(object.size());
            send({0x41, mux[0], mux[1], mux[2], static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                  static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)});
            position_ = 0;
            toggle_ = 0;
            mode_ = Mode::SegmentedUpload;
            return;
        }
        case 3: {  // upload segment
            if (mode_ != Mode::SegmentedUpload || ((d[0] >> 4) & 1) != toggle_) {
                send({0x80, 0, 0, 0, 0x00, 0x00, 0x03, 0x05});
                mode_ = Mode::Idle;
                return;
            }
            const size_t n = std::min<size_t>(7, object.size() - position_);
            const bool last = position_ + n == object.size();
            uint8_t f[8] = {static_cast<uint8_t>(toggle_ << 4 | (7 - n) << 1 | (last ? 1 : 0))};
            if (n) std::memcpy(f + 1, object.data() + position_, n);
            position_ += n;
            toggle_ ^= 1;
            if (last) {
                mode_ = Mode::Idle;
                ++completed;
            }
            send(f);
            return;
        }
        case 4:  // abort
            lastAbort = le32(d + 4);
            mode_ = Mode::Idle;
            return;
        case 6:  // block download: initiate or end
            if ((d[0] & 0x01) == 0) {
                incoming_.clear();
                sizeGiven_ = d[0] & 0x02;
                expectedSize_ = le32(d + 4);
                sequence_ = 0;
                mode_ = Mode::BlockDownload;
                send({0xA0, mux[0], mux[1], mux[2], receiveBlockSize});
            } else if (mode_ == Mode::BlockDownloadEnd) {
                incoming_.resize(incoming_.size() - ((d[0] >> 2) & 7));
                mode_ = Mode::Idle;
                if (!sizeGiven_ || incoming_.size() == expectedSize_) {
                    object = incoming_;
                    ++completed;
                    send({0xA1});
                } else {
                    send({0x80, 0, 0, 0, 0x10, 0x00, 0x07, 0x06});
                }
            }
            return;
        case 5:  // block upload
            switch (d[0] & 0x03) {
                case 0: {
                    blockSize_ = d[4];
                    const uint32_t size = static_cast<uint32_t>(object.size());
                    send({0xC2, mux[0], mux[1], mux[2], static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                          static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)});
                    position_ = 0;
                    mode_ = Mode::BlockUploadStart;
                    return;
                }
                case 3:
                    if (mode_ == Mode::BlockUploadStart) sendUploadBlock();
                    return;
                case 2:
                    if (mode_ != Mode::BlockUploadAck) return;
                    if (d[1] == sentInBlock_ && lastSent_) {
                        send({static_cast<uint8_t>(0xC1 | unusedInLast_ << 2)});
                        mode_ = Mode::BlockUploadEnd;
                        return;
                    }
                    position_ = std::min(object.size(), position_ + 7u * d[1]);
                    blockSize_ = d[2];
                    sendUploadBlock();
                    return;
                case 1:
                    if (mode_ == Mode::BlockUploadEnd) ++completed;
                    mode_ = Mode::Idle;
                    return;
            }
            return;
    }
}

}  // namespace sdo_test
