#pragma once
// An SDO server for one object of any size, written straight from the CiA 301 protocol tables
// and kept apart from the engine, so that the client is tested against a peer that is not
// itself. It answers every initiate for any index with its one object.
#include "sdo_bus.h"

#include <cstdint>
#include <vector>

namespace sdo_test {

class ReferenceServer {
public:
    ReferenceServer(Bus& bus, uint8_t nodeId);

    std::vector<uint8_t> object;   // what uploads read and downloads write
    uint8_t receiveBlockSize = 127;  // asked for in block downloads
    int completed = 0;             // transfers that ended well
    uint32_t lastAbort = 0;        // last abort code received

private:
    enum class Mode { Idle, SegmentedDownload, SegmentedUpload, BlockDownload, BlockDownloadEnd, BlockUploadStart,
                      BlockUploadAck, BlockUploadEnd };

    void onFrame(const CanMessage& message);
    void send(std::initializer_list<uint8_t> bytes);
    void send(const uint8_t* bytes);
    void sendUploadBlock();

    Bus& bus_;
    uint16_t requestCobId_;
    uint16_t answerCobId_;
    Mode mode_ = Mode::Idle;
    std::vector<uint8_t> incoming_;
    uint32_t expectedSize_ = 0;
    bool sizeGiven_ = false;
    int toggle_ = 0;
    size_t position_ = 0;      // upload: next byte to send; block upload: start of the block
    uint8_t sequence_ = 0;     // block download: last segment taken in order
    uint8_t blockSize_ = 0;    // block upload: segments per block asked for by the client
    uint8_t sentInBlock_ = 0;  // block upload
    bool lastSent_ = false;    // block upload: the block held the last segment
    uint8_t unusedInLast_ = 0;
};

}  // namespace sdo_test
