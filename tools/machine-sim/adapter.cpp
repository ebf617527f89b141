#include "adapter.h"

#include <algorithm>

namespace msim {

namespace {
// What the twin holds for a host that does not read: a few seconds of traffic.
constexpr std::size_t kMaxPendingOut = 256 * 1024;
// The adapter's own receive queue, as a real one has: 64 frames, 1024 bytes.
constexpr std::size_t kMaxLineBacklog = 64;
constexpr unsigned kGarbageWarnings = 20;
}  // namespace

Adapter::Adapter(AdapterConfig config, SimRecord& record, Log& log, CandumpWriter* candump, Time start)
    : config_(config),
      record_(record),
      log_(log),
      candump_(candump),
      start_(start),
      frameTime_(std::chrono::nanoseconds(160'000'000'000LL / std::max<uint32_t>(config.baud, 1))),
      rng_(config.faults.seed),
      rxFree_(start),
      txFree_(start) {}

bool Adapter::silent(Time now) const {
    const auto& f = config_.faults;
    if (!f.silentAfter) return false;
    const Time begin = start_ + *f.silentAfter;
    if (now < begin) return false;
    return f.silentFor.count() == 0 || now < begin + f.silentFor;
}

bool Adapter::dropNow(bool toHost, Time now) {
    const auto& f = config_.faults;
    using D = FaultConfig::Direction;
    if (!faulty(now)) return false;
    if (f.dropDirection == (toHost ? D::ToBus : D::ToHost)) return false;
    if (f.dropEvery > 0 && ++dropCounter_ % f.dropEvery == 0) return true;
    if (f.dropShare > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < f.dropShare) return true;
    return false;
}

bool Adapter::wantsInput() const { return !config_.lineTiming || rxQueue_.size() < kMaxLineBacklog; }

void Adapter::onHostBytes(const uint8_t* bytes, std::size_t count, Time now) {
    std::vector<HostFrameDecoder::Event> events;
    decoder_.feed(bytes, count, events);
    for (auto& e : events) {
        switch (e.kind) {
            case HostFrameDecoder::Event::Kind::Garbage:
                record_.counters().badBytesFromHost += e.skipped;
                if (garbageWarnings_++ < kGarbageWarnings)
                    log_.warn("ignored %zu bytes from the host: %s", e.skipped, e.problem.c_str());
                break;
            case HostFrameDecoder::Event::Kind::Close:
                ++record_.counters().closeFrames;
                record_.addEvent(now, "link", "close frame from the host");
                log_.info("host sent the close frame");
                break;
            case HostFrameDecoder::Event::Kind::Send:
                ++record_.counters().framesFromHost;
                if (!e.problem.empty())
                    log_.warn("host frame %s: %s", toCandumpText(e.frame).c_str(), e.problem.c_str());
                if (silent(now)) break;
                if (dropNow(false, now)) {
                    ++record_.counters().droppedToBus;
                    log_.debug("dropped host frame %s", toCandumpText(e.frame).c_str());
                    break;
                }
                if (config_.lineTiming) {
                    rxFree_ = std::max(rxFree_, now) + frameTime_;
                    rxQueue_.emplace_back(rxFree_, e.frame);
                } else {
                    deliverToBus(e.frame, now);
                }
                break;
        }
    }
}

void Adapter::deliverToBus(const CanFrame& f, Time now) {
    if (candump_) candump_->write(f, now);
    if (toNode_) toNode_(f, now);
}

void Adapter::fromBus(const CanFrame& f, Time now) {
    if (candump_) candump_->write(f, now);
    if (silent(now)) return;
    if (config_.faults.delayAnswers.count() > 0 && f.id == config_.answerId && faulty(now)) {
        delayed_.emplace(now + config_.faults.delayAnswers, f);
        return;
    }
    toHostLine(f, now);
}

void Adapter::toHostLine(const CanFrame& f, Time now) {
    if (dropNow(true, now)) {
        ++record_.counters().droppedToHost;
        log_.debug("dropped frame to host %s", toCandumpText(f).c_str());
        return;
    }
    if (!hostPresent_) {
        ++record_.counters().lostWhileHostAway;
        return;
    }
    if (config_.faults.garbageEvery > 0 && faulty(now) && ++toHostCounter_ % config_.faults.garbageEvery == 0) {
        std::vector<uint8_t> junk(std::uniform_int_distribution<int>(1, 16)(rng_));
        for (auto& b : junk) b = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 255)(rng_));
        ++record_.counters().garbageBursts;
        putOnLine(junk.data(), junk.size(), now);
    }
    const SerialFrame s = encodeReceiveFrame(f);
    ++record_.counters().framesToHost;
    putOnLine(s.data(), s.size(), now);
}

void Adapter::putOnLine(const uint8_t* bytes, std::size_t n, Time now) {
    if (config_.lineTiming) {
        txFree_ = std::max(txFree_, now) + frameTime_ * static_cast<long>(n) / static_cast<long>(kSerialFrameSize);
        txQueue_.emplace_back(txFree_, std::vector<uint8_t>(bytes, bytes + n));
        return;
    }
    if (out_.size() + n > kMaxPendingOut) {
        ++record_.counters().overflowToHost;
        return;
    }
    out_.insert(out_.end(), bytes, bytes + n);
}

void Adapter::consumed(std::size_t n) {
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(std::min(n, out_.size())));
}

void Adapter::setHostPresent(bool present, Time now) {
    if (present == hostPresent_) return;
    hostPresent_ = present;
    if (present) {
        ++record_.counters().hostOpened;
        record_.addEvent(now, "link", "host opened the line");
        log_.info("host opened the line");
    } else {
        ++record_.counters().hostClosed;
        record_.addEvent(now, "link", "host closed the line");
        log_.info("host closed the line; waiting for it to come back");
        // Nobody reads the line now; what was under way for the old host is gone.
        record_.counters().lostWhileHostAway += txQueue_.size() + out_.size() / kSerialFrameSize;
        txQueue_.clear();
        out_.clear();
        decoder_.clear();
        txFree_ = now;
    }
}

std::optional<Time> Adapter::nextDeadline() const {
    std::optional<Time> t;
    if (!rxQueue_.empty()) t = earliest(t, rxQueue_.front().first);
    if (!delayed_.empty()) t = earliest(t, delayed_.begin()->first);
    if (!txQueue_.empty()) t = earliest(t, txQueue_.front().first);
    const auto& f = config_.faults;
    if (f.silentAfter) {
        const Time begin = start_ + *f.silentAfter;
        if (silencePhase_ == 0)
            t = earliest(t, begin);
        else if (silencePhase_ == 1 && f.silentFor.count() > 0)
            t = earliest(t, begin + f.silentFor);
    }
    return t;
}

void Adapter::advance(Time now) {
    const auto& fc = config_.faults;
    if (fc.silentAfter && silencePhase_ < 2) {
        const Time begin = start_ + *fc.silentAfter;
        if (silencePhase_ == 0 && now >= begin) {
            silencePhase_ = 1;
            record_.addEvent(now, "fault", "adapter falls silent");
            log_.info("fault injection: adapter falls silent");
            rxQueue_.clear();
            delayed_.clear();
        }
        if (silencePhase_ == 1 && fc.silentFor.count() > 0 && now >= begin + fc.silentFor) {
            silencePhase_ = 2;
            record_.addEvent(now, "fault", "adapter speaks again");
            log_.info("fault injection: adapter speaks again");
        }
    }
    while (!rxQueue_.empty() && rxQueue_.front().first <= now) {
        const CanFrame f = rxQueue_.front().second;
        rxQueue_.pop_front();
        // Handed over at `now`, not at the queued time, so the node's clock never runs back.
        deliverToBus(f, now);
    }
    while (!delayed_.empty() && delayed_.begin()->first <= now) {
        const CanFrame f = delayed_.begin()->second;
        delayed_.erase(delayed_.begin());
        toHostLine(f, now);
    }
    while (!txQueue_.empty() && txQueue_.front().first <= now) {
        auto& bytes = txQueue_.front().second;
        if (out_.size() + bytes.size() > kMaxPendingOut)
            ++record_.counters().overflowToHost;
        else
            out_.insert(out_.end(), bytes.begin(), bytes.end());
        txQueue_.pop_front();
    }
}

}  // namespace msim
