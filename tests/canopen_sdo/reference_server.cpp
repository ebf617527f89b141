#include "reference_server.h"

#include <cstring>

namespace sdo_test {

ReferenceServer::ReferenceServer(Bus& bus, uint8_t nodeId)
    : bus_(bus),
      requestCobId_(static_cast<uint16_t>(0x600 + nodeId)),
      answerCobId_(static_cast<uint16_t>(0x580 + nodeId)),
      server_(*this, msim::SdoServerConfig{}, [this](const msim::SdoTransferReport& report) {
          if (report.abortCode == 0) ++completed;
      }) {
    bus_.addListener([this](const CanMessage& m) { onFrame(m); });
}

uint32_t ReferenceServer::readObject(uint16_t, uint8_t, std::vector<uint8_t>& out) {
    out = object;
    return 0;
}

uint32_t ReferenceServer::checkWrite(uint16_t, uint8_t, std::optional<std::size_t>) { return 0; }

uint32_t ReferenceServer::writeObject(uint16_t, uint8_t, const std::vector<uint8_t>& data) {
    object = data;
    return 0;
}

// The bus has no time of its own for the twin: its time-outs never fire here, as the engine's
// own time-outs are tested elsewhere.
void ReferenceServer::onFrame(const CanMessage& message) {
    if (message.cobId != requestCobId_ || message.rtr) return;
    msim::CanFrame request;
    request.id = message.cobId;
    request.len = message.len;
    std::memcpy(request.data.data(), message.data, 8);
    std::vector<msim::SdoServer::Reply> replies;
    server_.onRequest(request, msim::Time{}, replies);
    for (const msim::SdoServer::Reply& reply : replies) {
        CanMessage answer = frame(answerCobId_, {0, 0, 0, 0, 0, 0, 0, 0});
        std::memcpy(answer.data, reply.data(), 8);
        bus_.peerSend(answer);
    }
}

}  // namespace sdo_test
