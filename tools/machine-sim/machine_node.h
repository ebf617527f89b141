#pragma once
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "can_frame.h"
#include "error_buffer.h"
#include "log.h"
#include "object_behaviour.h"
#include "object_dictionary.h"
#include "sdo_server.h"
#include "sim_record.h"
#include "sim_time.h"

namespace msim {

enum class NmtState : uint8_t { Initialising = 0x00, Stopped = 0x04, Operational = 0x05, PreOperational = 0x7F };
const char* nmtStateName(NmtState s);

// Answer every access to an object (or one sub-index) with a fixed abort code, or only the
// first `times` accesses (0: every one).
struct AbortRule {
    uint16_t index = 0;
    std::optional<uint8_t> sub;
    uint32_t code = 0;
    uint32_t times = 0;
    uint32_t used = 0;
};

// Restart the machine once, halfway through the first multi-frame transfer of an object.
struct RebootRule {
    uint16_t index = 0;
    std::optional<uint8_t> sub;
};

// An object's bytes once a firmware image is programmed: what the new image reports.
struct FlashedValue {
    uint16_t index = 0;
    uint8_t sub = 0;
    std::vector<uint8_t> bytes;
};

struct NodeConfig {
    uint8_t nodeId = 10;
    bool neverOperational = false;
    Millis rebootTime{500};  // silent time of a commanded restart before the boot-up frame
    Millis eraseTime{1000};
    std::string outDir = ".";
    SdoServerConfig sdo;
    std::vector<AbortRule> aborts;
    std::optional<RebootRule> rebootInTransfer;
    std::optional<std::vector<ErrorEntrySpec>> errorEntries;  // replace the model's error buffer
    std::vector<FlashedValue> flashed;                        // what a programmed image changes
};

// CANopen node of the machine: NMT slave with boot-up, heartbeat producer (0x1017) and
// consumer (0x1016), node guarding answers, the SDO server and the machine's behaviours.
// It owns no clock and no I/O: frames come in through onFrame, leave through the sink.
class MachineNode : private NodeControl, private ObjectAccess {
public:
    using FrameSink = std::function<void(const CanFrame&, Time)>;

    MachineNode(ObjectDictionary od, NodeConfig config, SimRecord& record, Log& log, FrameSink sink);
    ~MachineNode() override;

    void powerOn(Time now);
    void onFrame(const CanFrame& frame, Time now);
    std::optional<Time> nextDeadline() const;
    void advance(Time now);

    NmtState state() const { return state_; }
    bool running() const { return powered_; }
    bool inBootLoader() const { return inLoader_; }
    const ObjectDictionary& dictionary() const { return od_; }
    uint8_t nodeId() const override { return config_.nodeId; }

private:
    // NodeControl
    ObjectDictionary& od() override { return od_; }
    SimRecord& record() override { return record_; }
    Log& log() override { return log_; }
    Time now() const override { return now_; }
    const std::string& outDir() const override { return config_.outDir; }
    void requestReboot(const std::string& why) override;
    void bootIntoLoader(bool loader) override { loaderNext_ = loader; }

    // ObjectAccess
    uint32_t readObject(uint16_t index, uint8_t sub, std::vector<uint8_t>& out) override;
    uint32_t checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) override;
    uint32_t writeObject(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) override;

    void send(const CanFrame& f);
    void boot(const char* why);
    void setState(NmtState s, const char* why);
    void handleNmt(const CanFrame& f);
    void handleSdo(const CanFrame& f);
    void handleErrorControl(const CanFrame& f);
    void shutDown(const std::string& why, Millis offFor);
    void restartProducer();
    void loadConsumers();
    uint32_t checkConsumerTable(uint8_t sub, const std::vector<uint8_t>& data) const;
    uint16_t sdoRxId() const;
    uint16_t sdoTxId() const;
    const AbortRule* abortRule(uint16_t index, uint8_t sub);
    bool hidden(uint16_t index) const;
    void checkRebootRule();

    ObjectDictionary od_;
    NodeConfig config_;
    SimRecord& record_;
    Log& log_;
    FrameSink sink_;
    SdoServer sdo_;
    std::vector<std::unique_ptr<ObjectBehaviour>> behaviours_;

    Time now_{};
    bool powered_ = false;
    NmtState state_ = NmtState::Initialising;
    std::optional<Time> bootAt_;  // power returns after a restart
    std::optional<std::string> pendingReboot_;
    std::optional<Time> nextHeartbeat_;
    bool guardToggle_ = false;
    bool rebootRuleUsed_ = false;
    bool inLoader_ = false;    // the boot loader runs: application objects are absent
    bool loaderNext_ = false;  // ... after the next restart

    struct Consumer {
        uint8_t node;
        Millis period;
        std::optional<Time> deadline;  // armed by the first heartbeat, as CiA 301 has it
        bool lost = false;
    };
    std::vector<Consumer> consumers_;
};

}  // namespace msim
