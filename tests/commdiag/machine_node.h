#pragma once
// The machine as the client's tests script it: a CANopen node on the test driver's virtual
// bus that answers NMT, node guarding and SDO transfers (expedited and segmented) from a
// small dictionary, with aborts, silence and wrong sizes where a test asks for them. It runs
// on the test's thread: serve() reads what the local node sent and injects the answers.
#include "canopen/can_message.h"
#include "testcan/testcan.h"

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

class MachineNode {
public:
    using Key = std::pair<uint16_t, uint8_t>;

    MachineNode(TestBus& bus, uint8_t nodeId = 10) : bus_(bus), nodeId_(nodeId) {}

    // Behaviour.
    bool becomesOperational = true;     // an NMT start is answered with a heartbeat
    std::map<Key, Bytes> objects;       // what uploads read and downloads write
    std::map<Key, uint32_t> aborts;     // answered with this abort code instead
    std::set<Key> silent;               // never answered
    std::set<uint8_t> guardAnswers;     // node ids whose guard request gets an Operational answer

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
    void handle(const CanMessage& message);
    void handleSdo(const CanMessage& message);
    void answer(std::initializer_list<uint8_t> bytes);
    void answer(const uint8_t (&bytes)[8]);
    void abort(Key key, uint32_t code);
    void heartbeat(uint8_t nodeId, uint8_t state);

    TestBus& bus_;
    uint8_t nodeId_;
    int handled_ = 0;
    std::map<std::pair<uint8_t, uint8_t>, int> nmt_;
    std::map<Key, int> requests_;
    uint8_t lastInitiate_ = 0;

    // The transfer in progress.
    enum class Transfer { None, Upload, Download } transfer_ = Transfer::None;
    Key key_{};
    Bytes data_;
    size_t offset_ = 0;
    uint8_t toggle_ = 0;
};

}  // namespace CommDiag::test
