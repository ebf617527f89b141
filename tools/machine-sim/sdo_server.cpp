#include "sdo_server.h"

#include <algorithm>

#include "block_crc.h"
#include "object_dictionary.h"

namespace msim {

namespace {

// Bound on what a transfer of unknown size may collect before it is refused.
constexpr std::size_t kMaxTransfer = 64u << 20;

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

const char* sdoModeName(SdoMode m) {
    switch (m) {
        case SdoMode::Expedited: return "expedited";
        case SdoMode::Segmented: return "segmented";
        case SdoMode::Block: return "block";
    }
    return "?";
}

SdoServer::SdoServer(ObjectAccess& access, SdoServerConfig config, Observer observer)
    : access_(access), config_(config), observer_(std::move(observer)) {
    if (config_.blockSize < 1 || config_.blockSize > 127) config_.blockSize = 127;
}

SdoServer::Reply SdoServer::reply(uint8_t cmd, uint16_t index, uint8_t sub) {
    Reply r{};
    r[0] = cmd;
    r[1] = static_cast<uint8_t>(index & 0xFF);
    r[2] = static_cast<uint8_t>(index >> 8);
    r[3] = sub;
    return r;
}

std::optional<Time> SdoServer::deadline() const { return state_ == State::Idle ? std::nullopt : deadline_; }

std::optional<SdoServer::Progress> SdoServer::progress() const {
    switch (state_) {
        case State::Idle: return std::nullopt;
        case State::SegUpload:
        case State::BlkUploadWaitStart:
        case State::BlkUploadWaitAck:
        case State::BlkUploadWaitEnd: return Progress{index_, sub_, true, offset_, data_.size()};
        default: return Progress{index_, sub_, false, data_.size(), size_};
    }
}

void SdoServer::reset(const char* why) {
    if (state_ != State::Idle && observer_) {
        SdoTransferReport r;
        r.upload = progress()->upload;
        r.mode = mode_;
        r.index = index_;
        r.sub = sub_;
        r.abortCode = abort_code::kGeneral;
        r.note = why;
        observer_(r);
    }
    state_ = State::Idle;
    data_.clear();
    data_.shrink_to_fit();
}

void SdoServer::replaceRunning() {
    if (state_ != State::Idle) reset("replaced by a new request of the client");
}

void SdoServer::abort(uint16_t index, uint8_t sub, uint32_t code, std::vector<Reply>& out, const char* note) {
    Reply r = reply(0x80, index, sub);
    putLe32(&r[4], code);
    out.push_back(r);
    if (observer_) {
        SdoTransferReport rep;
        rep.upload = state_ != State::Idle && progress()->upload;
        rep.mode = mode_;
        rep.index = index;
        rep.sub = sub;
        rep.abortCode = code;
        rep.note = note;
        observer_(rep);
    }
    state_ = State::Idle;
    data_.clear();
}

void SdoServer::finish(bool upload, SdoMode mode) {
    if (observer_) {
        SdoTransferReport r;
        r.upload = upload;
        r.mode = mode;
        r.index = index_;
        r.sub = sub_;
        r.data = std::move(data_);
        observer_(r);
    }
    state_ = State::Idle;
    data_.clear();
}

void SdoServer::onTimeout(Time now, std::vector<Reply>& replies) {
    if (state_ == State::Idle || !deadline_ || now < *deadline_) return;
    abort(index_, sub_, abort_code::kTimeout, replies, "the client went quiet");
}

void SdoServer::onRequest(const CanFrame& frame, Time now, std::vector<Reply>& out) {
    const uint8_t* d = frame.data.data();
    if (frame.rtr || frame.len != 8) {
        // SDO frames always carry 8 bytes; anything else cannot be parsed safely.
        abort(state_ == State::Idle ? 0 : index_, state_ == State::Idle ? 0 : sub_, abort_code::kGeneral, out,
              "request frame not 8 bytes long");
        return;
    }
    if (d[0] == 0x80) {
        if (state_ != State::Idle && observer_) {
            SdoTransferReport r;
            r.upload = progress()->upload;
            r.mode = mode_;
            r.index = index_;
            r.sub = sub_;
            r.abortCode = le32(&d[4]);
            r.abortedByClient = true;
            observer_(r);
        }
        state_ = State::Idle;
        data_.clear();
        return;
    }
    deadline_ = now + config_.timeout;
    // While a block download runs every frame but an abort is a segment, whatever its bits.
    if (state_ == State::BlkDownload) return blockSegment(d, out);

    const uint8_t ccs = d[0] >> 5;
    const uint16_t index = static_cast<uint16_t>(d[1] | d[2] << 8);
    const uint8_t sub = d[3];
    switch (ccs) {
        case 1: return initiateDownload(d, out);
        case 2: replaceRunning(); return initiateUpload(index, sub, SdoMode::Expedited, out);
        case 0:
            if (state_ != State::SegDownload)
                return abort(index_, sub_, abort_code::kCommand, out, "segment without a download");
            return downloadSegment(d, out);
        case 3:
            if (state_ != State::SegUpload)
                return abort(index_, sub_, abort_code::kCommand, out, "segment request without an upload");
            return uploadSegment(d, out);
        case 6:
            if ((d[0] & 1) == 0) return initiateBlockDownload(d, out);
            if (state_ != State::BlkDownloadEnd)
                return abort(index_, sub_, abort_code::kCommand, out, "block end out of turn");
            return endBlockDownload(d, out);
        case 5:
            if ((d[0] & 3) == 0) return initiateBlockUpload(d, out);
            return blockUploadCommand(d, out);
        default:
            return abort(state_ == State::Idle ? index : index_, state_ == State::Idle ? sub : sub_,
                         abort_code::kCommand, out, "unknown command specifier");
    }
}

void SdoServer::initiateDownload(const uint8_t* d, std::vector<Reply>& out) {
    replaceRunning();
    index_ = static_cast<uint16_t>(d[1] | d[2] << 8);
    sub_ = d[3];
    const bool expedited = d[0] & 0x02;
    const bool sized = d[0] & 0x01;
    if (expedited) {
        mode_ = SdoMode::Expedited;
        std::size_t n = 4;
        if (sized) {
            n = 4 - ((d[0] >> 2) & 3);
        } else {
            // Size not indicated: take what the object holds, if that fits a frame.
            std::vector<uint8_t> cur;
            if (access_.checkWrite(index_, sub_, std::nullopt) == 0 && access_.readObject(index_, sub_, cur) == 0 &&
                cur.size() >= 1 && cur.size() <= 4)
                n = cur.size();
        }
        data_.assign(d + 4, d + 4 + n);
        state_ = State::SegDownload;  // so that an abort reports a download
        if (uint32_t a = access_.writeObject(index_, sub_, data_)) return abort(index_, sub_, a, out);
        out.push_back(reply(0x60, index_, sub_));
        return finish(false, SdoMode::Expedited);
    }
    mode_ = SdoMode::Segmented;
    size_.reset();
    if (sized) size_ = le32(&d[4]);
    state_ = State::SegDownload;
    data_.clear();
    toggle_ = 0;
    if (uint32_t a = access_.checkWrite(index_, sub_, size_)) return abort(index_, sub_, a, out);
    out.push_back(reply(0x60, index_, sub_));
}

void SdoServer::downloadSegment(const uint8_t* d, std::vector<Reply>& out) {
    const uint8_t t = (d[0] >> 4) & 1;
    if (t != toggle_) return abort(index_, sub_, abort_code::kToggle, out);
    const std::size_t n = 7 - ((d[0] >> 1) & 7);
    data_.insert(data_.end(), d + 1, d + 1 + n);
    if (size_ ? data_.size() > *size_ : data_.size() > kMaxTransfer)
        return abort(index_, sub_, size_ ? abort_code::kLength : abort_code::kOutOfMemory, out);
    toggle_ ^= 1;
    Reply r = reply(static_cast<uint8_t>(0x20 | t << 4), 0, 0);
    if (d[0] & 1) {
        if (size_ && data_.size() != *size_) return abort(index_, sub_, abort_code::kLength, out);
        if (uint32_t a = access_.writeObject(index_, sub_, data_)) return abort(index_, sub_, a, out);
        out.push_back(r);
        return finish(false, SdoMode::Segmented);
    }
    out.push_back(r);
}

void SdoServer::initiateUpload(uint16_t index, uint8_t sub, SdoMode mode, std::vector<Reply>& out) {
    index_ = index;
    sub_ = sub;
    data_.clear();
    state_ = State::SegUpload;
    mode_ = mode;
    offset_ = 0;
    if (uint32_t a = access_.readObject(index, sub, data_)) return abort(index, sub, a, out);
    if (!data_.empty() && data_.size() <= 4) {
        Reply r = reply(static_cast<uint8_t>(0x43 | (4 - data_.size()) << 2), index, sub);
        std::copy(data_.begin(), data_.end(), r.begin() + 4);
        out.push_back(r);
        return finish(true, SdoMode::Expedited);
    }
    mode_ = SdoMode::Segmented;
    toggle_ = 0;
    Reply r = reply(0x41, index, sub);
    putLe32(&r[4], static_cast<uint32_t>(data_.size()));
    out.push_back(r);
}

void SdoServer::uploadSegment(const uint8_t* d, std::vector<Reply>& out) {
    const uint8_t t = (d[0] >> 4) & 1;
    if (t != toggle_) return abort(index_, sub_, abort_code::kToggle, out);
    const std::size_t n = std::min<std::size_t>(7, data_.size() - offset_);
    const bool last = offset_ + n >= data_.size();
    Reply r{};
    r[0] = static_cast<uint8_t>(t << 4 | (7 - n) << 1 | (last ? 1 : 0));
    std::copy(data_.begin() + static_cast<std::ptrdiff_t>(offset_),
              data_.begin() + static_cast<std::ptrdiff_t>(offset_ + n), r.begin() + 1);
    offset_ += n;
    toggle_ ^= 1;
    out.push_back(r);
    if (last) finish(true, SdoMode::Segmented);
}

void SdoServer::initiateBlockDownload(const uint8_t* d, std::vector<Reply>& out) {
    replaceRunning();
    index_ = static_cast<uint16_t>(d[1] | d[2] << 8);
    sub_ = d[3];
    mode_ = SdoMode::Block;
    crc_ = d[0] & 0x04;
    size_.reset();
    if (d[0] & 0x02) size_ = le32(&d[4]);
    state_ = State::BlkDownload;
    data_.clear();
    lastSeq_ = 0;
    lastSegment_ = false;
    blkSize_ = config_.blockSize;
    if (uint32_t a = access_.checkWrite(index_, sub_, size_)) return abort(index_, sub_, a, out);
    Reply r = reply(0xA4, index_, sub_);  // server CRC support: we compute it when asked
    r[4] = blkSize_;
    out.push_back(r);
}

void SdoServer::blockSegment(const uint8_t* d, std::vector<Reply>& out) {
    const bool last = d[0] & 0x80;
    const uint8_t seq = d[0] & 0x7F;
    if (seq == 0 || seq > blkSize_) return abort(index_, sub_, abort_code::kSequence, out);
    bool inOrder = false;
    if (seq == lastSeq_ + 1 && !lastSegment_) {
        data_.insert(data_.end(), d + 1, d + 8);
        lastSeq_ = seq;
        inOrder = true;
        if (size_ ? data_.size() > *size_ + 7 : data_.size() > kMaxTransfer)
            return abort(index_, sub_, size_ ? abort_code::kLength : abort_code::kOutOfMemory, out);
        if (last) lastSegment_ = true;
    }
    // Out-of-order segments are dropped; the acknowledgement at the block's end tells the
    // client where to resume.
    if (last || seq == blkSize_) {
        Reply r{};
        r[0] = 0xA2;
        r[1] = lastSeq_;
        r[2] = blkSize_;
        out.push_back(r);
        lastSeq_ = 0;
        if (lastSegment_ && inOrder) state_ = State::BlkDownloadEnd;
    }
}

void SdoServer::endBlockDownload(const uint8_t* d, std::vector<Reply>& out) {
    const std::size_t unused = (d[0] >> 2) & 7;
    if (unused > data_.size()) return abort(index_, sub_, abort_code::kCommand, out, "unused bytes beyond the data");
    data_.resize(data_.size() - unused);
    if (size_ && data_.size() != *size_) return abort(index_, sub_, abort_code::kLength, out);
    if (crc_) {
        const uint16_t theirs = static_cast<uint16_t>(d[1] | d[2] << 8);
        if (theirs != blockCrc(data_.data(), data_.size())) return abort(index_, sub_, abort_code::kCrc, out);
    }
    if (uint32_t a = access_.writeObject(index_, sub_, data_)) return abort(index_, sub_, a, out);
    out.push_back(Reply{0xA1, 0, 0, 0, 0, 0, 0, 0});
    finish(false, SdoMode::Block);
}

void SdoServer::initiateBlockUpload(const uint8_t* d, std::vector<Reply>& out) {
    replaceRunning();
    const uint16_t index = static_cast<uint16_t>(d[1] | d[2] << 8);
    const uint8_t sub = d[3];
    const uint8_t blk = d[4];
    const uint8_t pst = d[5];
    index_ = index;
    sub_ = sub;
    mode_ = SdoMode::Block;
    state_ = State::BlkUploadWaitStart;
    if (blk < 1 || blk > 127) return abort(index, sub, abort_code::kBlockSize, out);
    data_.clear();
    if (uint32_t a = access_.readObject(index, sub, data_)) return abort(index, sub, a, out);
    if (pst != 0 && data_.size() <= pst) {
        // The client allows the normal protocol for small objects (protocol switch).
        return initiateUpload(index, sub, SdoMode::Segmented, out);
    }
    crc_ = d[0] & 0x04;
    blkSize_ = blk;
    offset_ = 0;
    blockStart_ = 0;
    Reply r = reply(0xC6, index, sub);  // CRC supported, size indicated
    putLe32(&r[4], static_cast<uint32_t>(data_.size()));
    out.push_back(r);
}

void SdoServer::sendUploadBlock(std::vector<Reply>& out) {
    segsInBlock_ = 0;
    lastInBlock_ = false;
    std::size_t pos = blockStart_;
    while (segsInBlock_ < blkSize_) {
        Reply r{};
        const std::size_t n = std::min<std::size_t>(7, data_.size() - pos);
        std::copy(data_.begin() + static_cast<std::ptrdiff_t>(pos),
                  data_.begin() + static_cast<std::ptrdiff_t>(pos + n), r.begin() + 1);
        pos += n;
        ++segsInBlock_;
        const bool last = pos >= data_.size();
        r[0] = static_cast<uint8_t>((last ? 0x80 : 0) | segsInBlock_);
        out.push_back(r);
        if (last) {
            lastInBlock_ = true;
            break;
        }
    }
    state_ = State::BlkUploadWaitAck;
}

void SdoServer::blockUploadCommand(const uint8_t* d, std::vector<Reply>& out) {
    const uint8_t cs = d[0] & 3;
    if (cs == 3 && state_ == State::BlkUploadWaitStart) return sendUploadBlock(out);
    if (cs == 2 && state_ == State::BlkUploadWaitAck) {
        const uint8_t ack = d[1];
        const uint8_t blk = d[2];
        if (ack > segsInBlock_) return abort(index_, sub_, abort_code::kSequence, out);
        if (blk < 1 || blk > 127) return abort(index_, sub_, abort_code::kBlockSize, out);
        blkSize_ = blk;
        offset_ = std::min(data_.size(), blockStart_ + 7u * ack);
        if (lastInBlock_ && ack == segsInBlock_) {
            const std::size_t unused = data_.empty() ? 7 : (7 - data_.size() % 7) % 7;
            Reply r{};
            r[0] = static_cast<uint8_t>(0xC1 | unused << 2);
            if (crc_) {
                const uint16_t crc = blockCrc(data_.data(), data_.size());
                r[1] = static_cast<uint8_t>(crc & 0xFF);
                r[2] = static_cast<uint8_t>(crc >> 8);
            }
            out.push_back(r);
            state_ = State::BlkUploadWaitEnd;
            return;
        }
        blockStart_ = offset_;
        return sendUploadBlock(out);
    }
    if (cs == 1 && state_ == State::BlkUploadWaitEnd) return finish(true, SdoMode::Block);
    abort(index_, sub_, abort_code::kCommand, out, "block upload command out of turn");
}

}  // namespace msim
