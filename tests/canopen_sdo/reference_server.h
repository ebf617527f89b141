#pragma once
// The machine twin's SDO server on the test bus, serving one object of any size for every index:
// a peer written apart from the engine, so that the client is tested against a server that is
// not itself.
#include "sdo_bus.h"

#include "sdo_server.h"

#include <cstdint>
#include <vector>

namespace sdo_test {

class ReferenceServer : private msim::ObjectAccess {
public:
    ReferenceServer(Bus& bus, uint8_t nodeId);

    std::vector<uint8_t> object;  // what uploads read and downloads write
    int completed = 0;            // transfers that ended well

private:
    uint32_t readObject(uint16_t index, uint8_t sub, std::vector<uint8_t>& out) override;
    uint32_t checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) override;
    uint32_t writeObject(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) override;
    void onFrame(const CanMessage& message);

    Bus& bus_;
    uint16_t requestCobId_;
    uint16_t answerCobId_;
    msim::SdoServer server_;
};

}  // namespace sdo_test
