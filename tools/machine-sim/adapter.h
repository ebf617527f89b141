#pragma once
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "can_frame.h"
#include "candump_writer.h"
#include "log.h"
#include "serial_link.h"
#include "sim_record.h"
#include "sim_time.h"

namespace msim {

struct FaultConfig {
    enum class Direction { Both, ToBus, ToHost };
    uint32_t dropEvery = 0;  // drop every Nth frame crossing the adapter (0: none)
    double dropShare = 0.0;  // drop this share of frames at random
    uint64_t seed = 1;       // seed of every random decision, so runs repeat
    Direction dropDirection = Direction::Both;
    Millis delayAnswers{0};             // hold back the machine's SDO answers
    uint32_t garbageEvery = 0;          // put random bytes on the line before every Nth frame to the host
    std::optional<Millis> silentAfter;  // stop passing anything on after this time
    Millis silentFor{0};                // ... for this long (0: for good)
    Millis faultsAfter{0};              // losses, garbage and delays only from this time on
};

struct AdapterConfig {
    bool lineTiming = false;
    uint32_t baud = 38400;
    uint16_t answerId = 0x58A;  // the machine's SDO answers, for delayAnswers
    FaultConfig faults;
};

// The serial CAN adapter: host frames in, CAN frames onto the bus, bus frames back to the
// host as receive frames. The serial line's pace, when emulated, and the injected faults
// live here. Like the node it owns no clock or I/O; the caller moves bytes and time.
class Adapter {
public:
    using BusSink = std::function<void(const CanFrame&, Time)>;

    Adapter(AdapterConfig config, SimRecord& record, Log& log, CandumpWriter* candump, Time start);

    void setBus(BusSink toNode) { toNode_ = std::move(toNode); }
    void onHostBytes(const uint8_t* bytes, std::size_t count, Time now);
    void fromBus(const CanFrame& frame, Time now);

    std::optional<Time> nextDeadline() const;
    void advance(Time now);

    // Bytes ready for the host; the caller writes what it can and reports it consumed.
    const std::vector<uint8_t>& output() const { return out_; }
    void consumed(std::size_t n);
    // False while the emulated line still has a backlog from the host: stop reading then, so
    // the host feels the line's pace through its own writes.
    bool wantsInput() const;
    void setHostPresent(bool present, Time now);
    bool hostPresent() const { return hostPresent_; }
    std::chrono::nanoseconds frameTime() const { return frameTime_; }

private:
    bool silent(Time now) const;
    bool dropNow(bool toHost, Time now);
    bool faulty(Time now) const { return now >= start_ + config_.faults.faultsAfter; }
    void deliverToBus(const CanFrame& f, Time now);
    void toHostLine(const CanFrame& f, Time now);
    void putOnLine(const uint8_t* bytes, std::size_t n, Time now);

    AdapterConfig config_;
    SimRecord& record_;
    Log& log_;
    CandumpWriter* candump_;
    Time start_;
    BusSink toNode_;
    HostFrameDecoder decoder_;
    std::chrono::nanoseconds frameTime_;
    std::mt19937_64 rng_;

    bool hostPresent_ = false;
    int silencePhase_ = 0;  // 0 before the silence, 1 during, 2 over
    uint64_t dropCounter_ = 0;
    uint64_t toHostCounter_ = 0;
    unsigned garbageWarnings_ = 0;

    std::deque<std::pair<Time, CanFrame>> rxQueue_;  // host frames still on the emulated line
    Time rxFree_{};
    std::multimap<Time, CanFrame> delayed_;                      // held-back answers
    std::deque<std::pair<Time, std::vector<uint8_t>>> txQueue_;  // bytes still on the line
    Time txFree_{};
    std::vector<uint8_t> out_;
};

}  // namespace msim
