#include "machine_node.h"

#include <cstdio>

#include "block_transfer.h"
#include "firmware_update.h"

namespace msim {

namespace {
constexpr uint16_t kConsumerHeartbeat = 0x1016;
constexpr uint16_t kProducerHeartbeat = 0x1017;
constexpr uint16_t kSdoServer = 0x1200;
constexpr uint16_t kDiagnoseSession = 0x2222;
constexpr uint32_t kParameterIncompatible = 0x06040043;

// What the boot loader offers: identity, heartbeat, SDO server, the program objects and the
// update control with the serial and material number (as the shipped bootloader model has it).
bool loaderObject(uint16_t index) {
    switch (index) {
        case 0x1000:
        case 0x1001:
        case 0x1008:
        case 0x100A:
        case 0x1017:
        case 0x1018:
        case 0x1200:
        case 0x1F50:
        case 0x1F51:
        case 0x1F57:
        case 0x5404:
        case 0x5405:
        case 0x5406: return true;
        default: return false;
    }
}

std::string hex16(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%04X", v);
    return b;
}
}  // namespace

const char* nmtStateName(NmtState s) {
    switch (s) {
        case NmtState::Initialising: return "initialising";
        case NmtState::Stopped: return "stopped";
        case NmtState::Operational: return "operational";
        case NmtState::PreOperational: return "pre-operational";
    }
    return "?";
}

MachineNode::MachineNode(ObjectDictionary od, NodeConfig config, SimRecord& record, Log& log, FrameSink sink)
    : od_(std::move(od)),
      config_(std::move(config)),
      record_(record),
      log_(log),
      sink_(std::move(sink)),
      sdo_(*this, config_.sdo, [this](const SdoTransferReport& r) {
          record_.addSdo(r, now_);
          if (r.abortCode)
              log_.info("SDO %s of %04X:%02X aborted by the %s: 0x%08X%s%s", r.upload ? "read" : "write", r.index,
                        r.sub, r.abortedByClient ? "client" : "machine", r.abortCode, r.note.empty() ? "" : ", ",
                        r.note.c_str());
          else
              log_.debug("SDO %s %04X:%02X, %zu bytes, %s", r.upload ? "read" : "write", r.index, r.sub, r.data.size(),
                         sdoModeName(r.mode));
      }) {
    NodeControl& self = *this;
    behaviours_.push_back(std::make_unique<FirmwareUpdate>(self, config_.eraseTime, config_.flashed));
    behaviours_.push_back(std::make_unique<BlockTransfer>(self));
    behaviours_.push_back(std::make_unique<ErrorBuffer>(self, config_.errorEntries));
}

MachineNode::~MachineNode() = default;

void MachineNode::send(const CanFrame& f) { sink_(f, now_); }

void MachineNode::powerOn(Time now) {
    now_ = now;
    boot("power on");
}

void MachineNode::boot(const char* why) {
    powered_ = true;
    if (inLoader_ != loaderNext_) {
        inLoader_ = loaderNext_;
        record_.addEvent(now_, "firmware", inLoader_ ? "boot loader runs" : "application runs");
        log_.info("%s", inLoader_ ? "boot loader runs (update flag set)" : "application runs");
    }
    state_ = NmtState::Initialising;
    od_.resetRange(0x1000, 0x1FFF);
    guardToggle_ = false;
    loadConsumers();
    send(CanFrame::make(static_cast<uint16_t>(0x700 + config_.nodeId), {0x00}));
    record_.addEvent(now_, "nmt", std::string("boot-up (") + why + ")");
    log_.info("node %u boot-up (%s)", config_.nodeId, why);
    setState(NmtState::PreOperational, why);
    restartProducer();
}

void MachineNode::setState(NmtState s, const char* why) {
    if (s == state_) return;
    record_.addEvent(now_, "nmt", std::string(nmtStateName(state_)) + " -> " + nmtStateName(s) + " (" + why + ")");
    log_.info("%s -> %s (%s)", nmtStateName(state_), nmtStateName(s), why);
    state_ = s;
    if (s == NmtState::Stopped) sdo_.reset("node stopped");
}

void MachineNode::restartProducer() {
    const OdEntry* e = od_.entry(kProducerHeartbeat, 0);
    const uint64_t ms = e ? e->asUnsigned() : 0;
    if (ms == 0)
        nextHeartbeat_.reset();
    else
        nextHeartbeat_ = now_ + Millis(ms);
}

void MachineNode::loadConsumers() {
    consumers_.clear();
    const OdObject* o = od_.object(kConsumerHeartbeat);
    if (!o) return;
    for (const auto& [sub, e] : o->subs) {
        if (sub == 0) continue;
        const uint64_t v = e.asUnsigned();
        const uint8_t node = static_cast<uint8_t>((v >> 16) & 0x7F);
        const unsigned ms = static_cast<unsigned>(v & 0xFFFF);
        if (node != 0 && ms != 0) consumers_.push_back(Consumer{node, Millis(ms), std::nullopt, false});
    }
}

uint32_t MachineNode::checkConsumerTable(uint8_t sub, const std::vector<uint8_t>& data) const {
    if (sub == 0 || data.size() != 4) return 0;
    const uint32_t v = static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16) | static_cast<uint32_t>(data[3])
                                                                                           << 24;
    const uint8_t node = static_cast<uint8_t>((v >> 16) & 0x7F);
    if (node == 0 || (v & 0xFFFF) == 0) return 0;
    // CiA 301: one node may be watched by one entry only.
    for (const auto& [s, e] : od_.object(kConsumerHeartbeat)->subs) {
        if (s == 0 || s == sub) continue;
        const uint64_t o = e.asUnsigned();
        if (((o >> 16) & 0x7F) == node && (o & 0xFFFF) != 0) return kParameterIncompatible;
    }
    return 0;
}

uint16_t MachineNode::sdoRxId() const {
    const OdEntry* e = od_.entry(kSdoServer, 1);
    return e ? static_cast<uint16_t>(e->asUnsigned() & 0x7FF) : static_cast<uint16_t>(0x600 + config_.nodeId);
}

uint16_t MachineNode::sdoTxId() const {
    const OdEntry* e = od_.entry(kSdoServer, 2);
    return e ? static_cast<uint16_t>(e->asUnsigned() & 0x7FF) : static_cast<uint16_t>(0x580 + config_.nodeId);
}

void MachineNode::onFrame(const CanFrame& f, Time now) {
    now_ = now;
    if (!powered_) return;
    if (f.id == 0x000) return handleNmt(f);
    if (f.id >= 0x700 && f.id <= 0x77F) return handleErrorControl(f);
    if (f.id == sdoRxId() && !f.rtr) return handleSdo(f);
}

void MachineNode::handleNmt(const CanFrame& f) {
    if (f.rtr || f.len < 2) return;
    const uint8_t target = f.data[1];
    if (target != 0 && target != config_.nodeId) return;
    switch (f.data[0]) {
        case 0x01:
            if (state_ != NmtState::PreOperational && state_ != NmtState::Stopped) return;
            if (inLoader_) {
                // A boot loader with a complete image hands over to the application, which
                // restarts the machine; without one it stays where it is.
                if (!loaderNext_)
                    return shutDown("start command: the boot loader starts the new application", config_.rebootTime);
                record_.addEvent(now_, "fault", "start command ignored (boot loader without an application)");
                log_.info("start command ignored: the boot loader has no application to start");
                return;
            }
            if (config_.neverOperational) {
                record_.addEvent(now_, "fault", "start command ignored (never operational)");
                log_.info("start command ignored (never operational)");
                return;
            }
            return setState(NmtState::Operational, "start command");
        case 0x02: return setState(NmtState::Stopped, "stop command");
        case 0x80: return setState(NmtState::PreOperational, "enter pre-operational command");
        case 0x81:
            sdo_.reset("reset node");
            for (auto& b : behaviours_) b->onReboot();
            od_.resetRange(kDiagnoseSession, kDiagnoseSession);
            return boot("reset node command");
        case 0x82: sdo_.reset("reset communication"); return boot("reset communication command");
        default: log_.debug("NMT command 0x%02X ignored", f.data[0]);
    }
}

void MachineNode::handleErrorControl(const CanFrame& f) {
    const uint8_t n = static_cast<uint8_t>(f.id & 0x7F);
    if (f.rtr) {
        if (n != config_.nodeId) return;
        const uint8_t s = static_cast<uint8_t>(static_cast<uint8_t>(state_) | (guardToggle_ ? 0x80 : 0));
        guardToggle_ = !guardToggle_;
        send(CanFrame::make(static_cast<uint16_t>(0x700 + config_.nodeId), {s}));
        return;
    }
    if (n == config_.nodeId || f.len < 1) return;
    for (Consumer& c : consumers_) {
        if (c.node != n) continue;
        if (c.lost) {
            c.lost = false;
            record_.addEvent(now_, "heartbeat", "heartbeat of node " + std::to_string(n) + " back");
            log_.info("heartbeat of node %u back", n);
        }
        c.deadline = now_ + c.period;
    }
}

void MachineNode::handleSdo(const CanFrame& f) {
    if (state_ != NmtState::PreOperational && state_ != NmtState::Operational) return;
    std::vector<SdoServer::Reply> replies;
    sdo_.onRequest(f, now_, replies);
    for (const auto& r : replies) {
        CanFrame out;
        out.id = sdoTxId();
        out.len = 8;
        out.data = r;
        send(out);
    }
    checkRebootRule();
    if (pendingReboot_) shutDown(*pendingReboot_, config_.rebootTime);
}

void MachineNode::checkRebootRule() {
    if (!config_.rebootInTransfer || rebootRuleUsed_) return;
    const auto p = sdo_.progress();
    const RebootRule& r = *config_.rebootInTransfer;
    if (!p || p->index != r.index || (r.sub && *r.sub != p->sub)) return;
    const std::size_t half = p->total && *p->total > 0 ? (*p->total + 1) / 2 : 7 * 16;
    if (p->done == 0 || p->done < half) return;
    rebootRuleUsed_ = true;
    pendingReboot_ = "fault injection: restart in the middle of a transfer of " + hex16(r.index);
}

void MachineNode::requestReboot(const std::string& why) { pendingReboot_ = why; }

void MachineNode::shutDown(const std::string& why, Millis offFor) {
    record_.addEvent(now_, "reboot", why);
    log_.info("restarting: %s", why.c_str());
    pendingReboot_.reset();
    sdo_.reset("machine restarted");
    for (auto& b : behaviours_) b->onReboot();
    od_.resetRange(kDiagnoseSession, kDiagnoseSession);
    powered_ = false;
    state_ = NmtState::Initialising;
    nextHeartbeat_.reset();
    consumers_.clear();
    bootAt_ = now_ + offFor;
}

std::optional<Time> MachineNode::nextDeadline() const {
    if (!powered_) return bootAt_;
    std::optional<Time> t = earliest(sdo_.deadline(), nextHeartbeat_);
    for (const Consumer& c : consumers_) t = earliest(t, c.deadline);
    for (const auto& b : behaviours_) t = earliest(t, b->nextDeadline());
    return t;
}

void MachineNode::advance(Time now) {
    now_ = now;
    if (!powered_) {
        if (!bootAt_ || now < *bootAt_) return;
        bootAt_.reset();
        boot("restart");
    }
    if (auto d = sdo_.deadline(); d && now >= *d) {
        std::vector<SdoServer::Reply> replies;
        sdo_.onTimeout(now, replies);
        for (const auto& r : replies) {
            CanFrame out;
            out.id = sdoTxId();
            out.len = 8;
            out.data = r;
            send(out);
        }
    }
    if (nextHeartbeat_ && now >= *nextHeartbeat_) {
        send(CanFrame::make(static_cast<uint16_t>(0x700 + config_.nodeId), {static_cast<uint8_t>(state_)}));
        const OdEntry* e = od_.entry(kProducerHeartbeat, 0);
        const Millis period(e ? e->asUnsigned() : 0);
        if (period.count() == 0)
            nextHeartbeat_.reset();
        else {
            *nextHeartbeat_ += period;
            // After a stall, carry on from now instead of sending a burst of heartbeats.
            if (*nextHeartbeat_ <= now) *nextHeartbeat_ = now + period;
        }
    }
    for (Consumer& c : consumers_) {
        if (!c.deadline || now < *c.deadline) continue;
        c.deadline.reset();
        c.lost = true;
        record_.addEvent(now, "heartbeat", "heartbeat of node " + std::to_string(c.node) + " lost");
        log_.info("heartbeat of node %u lost", c.node);
        // The host has gone away: its diagnose session ends, and the machine leaves
        // Operational as CiA 301's default reaction to a communication error.
        if (OdEntry* d = od_.entry(kDiagnoseSession, 1)) d->value = d->initial;
        if (state_ == NmtState::Operational) setState(NmtState::PreOperational, "heartbeat lost");
    }
    for (auto& b : behaviours_) b->advance(now);
}

const AbortRule* MachineNode::abortRule(uint16_t index, uint8_t sub) {
    for (AbortRule& r : config_.aborts) {
        if (r.index != index || (r.sub && *r.sub != sub)) continue;
        if (r.times == 0) return &r;
        if (r.used < r.times) {
            ++r.used;
            return &r;
        }
    }
    return nullptr;
}

bool MachineNode::hidden(uint16_t index) const { return inLoader_ && !loaderObject(index); }

uint32_t MachineNode::readObject(uint16_t index, uint8_t sub, std::vector<uint8_t>& out) {
    if (const AbortRule* r = abortRule(index, sub)) return r->code;
    if (hidden(index)) return abort_code::kNoObject;
    if (uint32_t a = od_.checkRead(index, sub)) return a;
    out = od_.entry(index, sub)->value;
    return 0;
}

uint32_t MachineNode::checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) {
    if (const AbortRule* r = abortRule(index, sub)) return r->code;
    if (hidden(index)) return abort_code::kNoObject;
    if (uint32_t a = od_.checkWrite(index, sub, size)) return a;
    for (auto& b : behaviours_)
        if (uint32_t a = b->checkWrite(index, sub, size)) return a;
    return 0;
}

uint32_t MachineNode::writeObject(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) {
    if (uint32_t a = checkWrite(index, sub, data.size())) return a;
    if (index == kConsumerHeartbeat)
        if (uint32_t a = checkConsumerTable(sub, data)) return a;
    for (auto& b : behaviours_)
        if (uint32_t a = b->beforeWrite(index, sub, data)) return a;
    if (uint32_t a = od_.write(index, sub, data)) return a;
    if (index == kConsumerHeartbeat) loadConsumers();
    if (index == kProducerHeartbeat) restartProducer();
    if (index == kDiagnoseSession && sub == 1)
        record_.addEvent(now_, "session", "diagnose session " + std::to_string(od_.entry(index, sub)->asUnsigned()));
    for (auto& b : behaviours_) b->afterWrite(index, sub);
    return 0;
}

}  // namespace msim
