#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "object_dictionary.h"
#include "sdo_server.h"
#include "sim_time.h"

namespace msim {

// Counts of what crossed the serial line, for the record and the exit summary.
struct LinkCounters {
    uint64_t framesFromHost = 0;
    uint64_t framesToHost = 0;
    uint64_t closeFrames = 0;
    uint64_t badBytesFromHost = 0;
    uint64_t droppedToBus = 0;
    uint64_t droppedToHost = 0;
    uint64_t garbageBursts = 0;
    uint64_t lostWhileHostAway = 0;
    uint64_t overflowToHost = 0;
    uint64_t hostOpened = 0;
    uint64_t hostClosed = 0;
};

// Everything a test may want to assert on after a run: each SDO access, the NMT and
// heartbeat events, saved files, the link counters and the final object values. Written
// as JSON when the program ends.
class SimRecord {
public:
    explicit SimRecord(Time start = Time{}) : start_(start) {}

    void setStart(Time start) { start_ = start; }
    void addSdo(const SdoTransferReport& report, Time now);
    void addEvent(Time now, const std::string& kind, const std::string& text);

    LinkCounters& counters() { return counters_; }
    const LinkCounters& counters() const { return counters_; }

    struct Meta {
        std::string pty, eds, product;
        unsigned nodeId = 0;
    };
    std::string toJson(const ObjectDictionary& od, const Meta& meta) const;
    // Writes atomically (temporary file, then rename) so a reader never sees half a record.
    bool writeFile(const std::string& path, const ObjectDictionary& od, const Meta& meta, std::string& error) const;

    struct SdoEntry {
        double ms;
        SdoTransferReport report;
        std::size_t size;
    };
    struct Event {
        double ms;
        std::string kind, text;
    };
    const std::vector<SdoEntry>& sdo() const { return sdo_; }
    const std::vector<Event>& events() const { return events_; }

private:
    double msSinceStart(Time t) const;

    Time start_;
    std::vector<SdoEntry> sdo_;
    std::vector<Event> events_;
    LinkCounters counters_;
};

}  // namespace msim
