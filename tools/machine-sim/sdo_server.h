#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "can_frame.h"
#include "sim_time.h"

namespace msim {

// What the server reads and writes through; the node puts its fault rules and the
// machine's object behaviours behind it. Results are CiA 301 abort codes, 0 for success.
class ObjectAccess {
public:
    virtual ~ObjectAccess() = default;
    virtual uint32_t readObject(uint16_t index, uint8_t sub, std::vector<uint8_t>& out) = 0;
    // Asked when a download starts, with the size when the client indicated one.
    virtual uint32_t checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) = 0;
    virtual uint32_t writeObject(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) = 0;
};

enum class SdoMode { Expedited, Segmented, Block };
const char* sdoModeName(SdoMode m);

// One finished or aborted transfer, as the record keeps it.
struct SdoTransferReport {
    bool upload = false;  // the client read the object
    SdoMode mode = SdoMode::Expedited;
    uint16_t index = 0;
    uint8_t sub = 0;
    std::vector<uint8_t> data;  // what moved (complete transfers only)
    uint32_t abortCode = 0;     // 0: completed
    bool abortedByClient = false;
    std::string note;
};

struct SdoServerConfig {
    uint8_t blockSize = 127;  // segments per block the server asks for in block downloads
    Millis timeout{5000};     // a transfer idle this long is aborted
};

// The SDO server of CiA 301: expedited and segmented transfers both ways, block download
// and block upload with optional CRC. One transfer at a time, as CiA 301 has it for one
// server channel; a new initiate replaces a transfer the client has evidently given up.
class SdoServer {
public:
    using Reply = std::array<uint8_t, 8>;
    using Observer = std::function<void(const SdoTransferReport&)>;

    SdoServer(ObjectAccess& access, SdoServerConfig config, Observer observer);

    void onRequest(const CanFrame& frame, Time now, std::vector<Reply>& replies);
    std::optional<Time> deadline() const;
    void onTimeout(Time now, std::vector<Reply>& replies);
    // Drops the running transfer without a word on the bus (reboot, stop, reset).
    void reset(const char* why);

    struct Progress {
        uint16_t index;
        uint8_t sub;
        bool upload;
        std::size_t done;
        std::optional<std::size_t> total;
    };
    std::optional<Progress> progress() const;

private:
    enum class State {
        Idle,
        SegDownload,
        SegUpload,
        BlkDownload,
        BlkDownloadEnd,
        BlkUploadWaitStart,
        BlkUploadWaitAck,
        BlkUploadWaitEnd,
    };

    void initiateDownload(const uint8_t* d, std::vector<Reply>& out);
    void downloadSegment(const uint8_t* d, std::vector<Reply>& out);
    void initiateUpload(uint16_t index, uint8_t sub, SdoMode mode, std::vector<Reply>& out);
    void uploadSegment(const uint8_t* d, std::vector<Reply>& out);
    void initiateBlockDownload(const uint8_t* d, std::vector<Reply>& out);
    void blockSegment(const uint8_t* d, std::vector<Reply>& out);
    void endBlockDownload(const uint8_t* d, std::vector<Reply>& out);
    void initiateBlockUpload(const uint8_t* d, std::vector<Reply>& out);
    void blockUploadCommand(const uint8_t* d, std::vector<Reply>& out);
    void sendUploadBlock(std::vector<Reply>& out);

    void abort(uint16_t index, uint8_t sub, uint32_t code, std::vector<Reply>& out, const char* note = "");
    void finish(bool upload, SdoMode mode);
    void replaceRunning();
    static Reply reply(uint8_t cmd, uint16_t index, uint8_t sub);

    ObjectAccess& access_;
    SdoServerConfig config_;
    Observer observer_;

    State state_ = State::Idle;
    SdoMode mode_ = SdoMode::Segmented;
    uint16_t index_ = 0;
    uint8_t sub_ = 0;
    uint8_t toggle_ = 0;
    std::vector<uint8_t> data_;
    std::optional<std::size_t> size_;
    std::size_t offset_ = 0;
    bool crc_ = false;
    uint8_t blkSize_ = 127;
    uint8_t lastSeq_ = 0;
    bool lastSegment_ = false;
    std::size_t blockStart_ = 0;
    uint8_t segsInBlock_ = 0;
    bool lastInBlock_ = false;
    std::optional<Time> deadline_;
};

}  // namespace msim
