#pragma once
// The machine as the client's tests script it: a CANopen node on the test driver's virtual
// bus that answers NMT and node guarding, and serves SDO transfers of every kind from a small
// dictionary through the machine twin's SDO server, with aborts and silence where a test asks
// for them. It runs on the test's thread: serve() reads what the local node sent and injects
// the answers.
#include "canopen/can_message.h"
#include "testcan/testcan.h"

#include "sdo_server.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace CommDiag::test {

using Bytes = std::vector<uint8_t>;

CanMessage frame(uint16_t cobId, std::initializer_list<uint8_t> bytes, uint8_t rtr = 0);

struct TestBus {
    std::string name;
    TestcanInject inject = nullptr;
    TestcanSentCount sentCount = nullptr;
    TestcanSentFrame sentFrame = nullptr;
    TestcanWaitSent waitSent = nullptr;
    TestcanWaitIdle waitIdle = nullptr;
    TestcanOpenBoards openBoards = nullptr;

    // Loads the test driver's control entries (the library stays loaded while the client
    // loads and unloads it).
    bool open(const std::string& busName);
    void send(const CanMessage& message) const;
    std::vector<CanMessage> sent() const;
};

class MachineNode : private msim::ObjectAccess {
public:
    using Key = std::pair<uint16_t, uint8_t>;

    MachineNode(TestBus& bus, uint8_t nodeId = 10);

    // Behaviour.
    bool becomesOperational = true;  // an NMT start is answered with a heartbeat
    std::map<Key, Bytes> objects;    // what uploads read and downloads write
    std::map<Key, uint32_t> aborts;  // answered with this abort code instead
    std::set<Key> silent;            // never answered
    std::set<uint8_t> guardAnswers;  // node ids whose guard request gets an Operational answer

    // Handles everything sent since the last call, then waits for more, until done() holds
    // or timeoutMs has passed; false on time-out.
    bool serve(const std::function<bool()>& done, unsigned timeoutMs = 5000);
    // Handles what was sent so far, without waiting.
    void serveSent();

    int nmtCommands(uint8_t command, uint8_t target) const;
    // SDO requests that reached the machine, by object.
    int requests(Key key) const;
    uint8_t lastInitiate() const { return lastInitiate_; }

private:
    uint32_t readObject(uint16_t index, uint8_t sub, std::vector<uint8_t>& out) override;
    uint32_t checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) override;
    uint32_t writeObject(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) override;

    void handle(const CanMessage& message);
    void handleSdo(const CanMessage& message);
    void heartbeat(uint8_t nodeId, uint8_t state);

    TestBus& bus_;
    uint8_t nodeId_;
    int handled_ = 0;
    std::map<std::pair<uint8_t, uint8_t>, int> nmt_;
    std::map<Key, int> requests_;
    uint8_t lastInitiate_ = 0;
    msim::SdoServer sdo_;
};

}  // namespace CommDiag::test
