// The numbered block transfer: a file sent to the machine packet by packet (0x5408), each
// state change and each packet followed by the control record (0x5407) that the machine
// follows. Every step starts from the completion of the previous write.
#include "transfers.h"

#include "library_state.h"
#include "log.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace CommDiag::detail {

namespace {

// A curve-data block is a few hundred bytes; the cap keeps a wrong path from loading a disk.
constexpr std::streamoff kMaxBlockFile = 16 << 20;
// A packet the machine refuses is sent again this often before the transfer fails.
constexpr int kPacketRetries = 3;

struct BlockTransfer {
    BlockControlRecord record{};
    std::string path;
    IClient* client = nullptr;
    BlockTransferCallback callback = nullptr;
    std::vector<uint8_t> buffer;
    bool loaded = false;
    uint32_t sendOffset = 0;
    uint32_t packetLength = 0;
    // The packet in flight can be sent again as it was.
    BlockControlRecord beforePacket{};
    uint32_t offsetBeforePacket = 0;
    int retries = 0;
};

BlockTransfer& bt() {
    static BlockTransfer state;
    return state;
}

void controlHandler(int result, int valueType, unsigned char subIndex, void* data, unsigned size);
void dataHandler(int result, int valueType, unsigned char subIndex, void* data, unsigned size);

void note(const char* text) {
    log::line(log::kAlways, text);
    log::line(log::kAlways, "");
}

void end(int failed) {
    BlockTransfer& t = bt();
    const BlockTransferCallback callback = t.callback;
    const uint32_t blockId = t.record.blockId;
    t.client = nullptr;
    t.callback = nullptr;
    t.loaded = false;
    if (callback) callback(failed, blockId);
}

// A write of the chain that the client refuses to start ends the transfer as failed.
void writeControl() {
    BlockTransfer& t = bt();
    const int started = t.client->WriteBlockControl(&t.record, controlHandler);
    if (started == RESULT_OK) return;
    log::line(log::kAlways, "Block control write could not be started (", started, ")");
    t.record.state = kTransferError;
    end(1);
}

// Reads the whole file; the stream is closed again before the first packet goes.
void load() {
    BlockTransfer& t = bt();
    t.record.state = kTransferError;
    std::ifstream file(t.path, std::ios::binary);
    if (!file.is_open()) return printFileNotOpen(file);
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxBlockFile) {
        log::line(log::kAlways, size < 0 ? "File size unknown" : "File too long...");
        return;
    }
    if (size == 0 || t.record.packetSize == 0) {
        log::line(log::kAlways, size == 0 ? "File empty: nothing to send" : "Packet size 0: nothing can be sent");
        return;
    }
    if (t.buffer.size() < static_cast<std::size_t>(size)) t.buffer.assign(static_cast<std::size_t>(size), 0);
    file.seekg(0, std::ios::beg);
    file.read(reinterpret_cast<char*>(t.buffer.data()), size);
    if (file.gcount() != size) {
        log::line(log::kAlways, "File not read completely (", file.gcount(), " of ", size, " bytes)");
        return;
    }
    t.record.totalSize = static_cast<uint32_t>(size);
    t.record.packetCount =
        t.record.totalSize / t.record.packetSize + (t.record.totalSize % t.record.packetSize ? 1 : 0);
    t.loaded = true;
    t.sendOffset = 0;
    t.record.state = kTransferInit;
}

void sendNextPacket() {
    BlockTransfer& t = bt();
    BlockControlRecord& r = t.record;
    t.beforePacket = r;
    t.offsetBeforePacket = t.sendOffset;
    r.state = kTransferUpload;
    log::line(log::kAlways, "STATE_UPLOAD: Packet ", r.packetIndex + 1, " of ", r.packetCount,
              "-> Send data packet (cmd: bdld)");
    log::line(log::kAlways, "");
    // Never past the loaded file, whatever the counters say.
    const uint32_t left = r.totalSize > t.sendOffset ? r.totalSize - t.sendOffset : 0;
    t.packetLength = r.packetSize < left ? r.packetSize : left;
    const uint32_t packetSize = t.packetLength;
    const int started = t.client->WriteBlockData(t.buffer.data() + t.sendOffset, packetSize, dataHandler);
    if (started != RESULT_OK) {
        log::line(log::kAlways, "Block data write could not be started (", started, ")");
        r.state = kTransferError;
        return end(1);
    }
    t.sendOffset += packetSize;
    r.packetIndex += 1;
    if (r.packetIndex < r.packetCount) {
        const uint32_t fullSize = t.beforePacket.packetSize;
        if (static_cast<uint64_t>(r.totalSize) < static_cast<uint64_t>(r.packetIndex + 1) * fullSize)
            r.packetSize = r.totalSize - t.sendOffset;
        return;
    }
    note("STATE_UPLOAD: All packets send!");
    r.state = kTransferAllSent;
    r.packetIndex = 0;
    r.packetCount = 0;
    r.localAddress = 0;
    r.packetSize = 0;
    r.totalSize = 0;
    t.sendOffset = 0;
    t.loaded = false;
}

void controlHandler(int result, int, unsigned char, void*, unsigned) {
    BlockTransfer& t = bt();
    if (!t.client) return;
    BlockControlRecord& r = t.record;
    switch (r.state) {
        case kTransferNotInit:
            if (result != RESULT_OK) {
                r.state = kTransferError;
                note("STATE_ERROR");
                return end(1);
            }
            r.state = kTransferInitRequested;
            t.loaded = false;
            note("STATE_INIT_REQ");
            return writeControl();
        case kTransferInitRequested:
            if (result != RESULT_OK) {
                r.state = kTransferError;
                note("STATE_ERROR");
            } else {
                if (!t.loaded) load();
                note("STATE_INIT");
            }
            return writeControl();
        case kTransferInit:
            r.state = result == RESULT_OK ? kTransferUpload : kTransferError;
            note(result == RESULT_OK ? "STATE_UPLOAD" : "STATE_ERROR");
            return writeControl();
        case kTransferUpload:
            if (result != RESULT_OK) {
                note("STATE_UPLOAD: Packet error -> Restart upload!");
                const uint32_t blockId = r.blockId;
                r = BlockControlRecord{};
                r.blockId = blockId;
                r.state = kTransferError;
                return end(1);
            }
            return sendNextPacket();
        case kTransferAllSent:
            r.state = kTransferNotInit;
            note("STATE_NOT_INIT");
            return end(0);
        default:
            r.state = kTransferNotInit;
            note("STATE_ERROR -> STATE_NOT_INIT");
            return end(1);
    }
}

void dataHandler(int result, int, unsigned char, void*, unsigned) {
    BlockTransfer& t = bt();
    if (!t.client) return;
    if (result != RESULT_OK) {
        note("Packet not written -> Restart same packet!");
        if (++t.retries > kPacketRetries) {
            t.record.state = kTransferError;
            return writeControl();
        }
        t.record = t.beforePacket;
        t.sendOffset = t.offsetBeforePacket;
        t.loaded = true;
        return sendNextPacket();
    }
    t.retries = 0;
    note("Block written successfully!");
    log::line(log::kAlways, "Length of written block: ", t.record.packetSize);
    note("Callback of domain finished successfully.");
    writeControl();
}

}  // namespace

void printFileNotOpen(const std::ios& stream) {
    if (stream.fail())
        std::printf("FAILBIT\n");
    else if (stream.eof())
        std::printf("EOFBIT\n");
    else if (stream.bad())
        std::printf("BADBIT\n");
    std::printf("File not open.\n");
    std::fflush(stdout);
}

int startBlockTransfer(IClient* client, const char* path, uint32_t blockId, uint32_t packetSize,
                       BlockTransferCallback callback, const uint32_t* localAddress) {
    if (!client || !callback || !path) return RESULT_INVALID;
    BlockTransfer& t = bt();
    StackSection lock;
    if (t.client) {
        log::line(log::kAlways, "Block transfer is still running");
        return RESULT_BUSY;
    }
    t.path = path;
    t.record.blockId = blockId;
    t.record.packetSize = packetSize;
    t.record.packetIndex = 0;
    t.record.state = kTransferNotInit;
    if (localAddress) t.record.localAddress = *localAddress;
    t.loaded = false;
    t.retries = 0;
    t.sendOffset = 0;
    t.client = client;
    t.callback = callback;
    const int started = client->WriteBlockControl(&t.record, controlHandler);
    if (started != RESULT_OK) {
        t.client = nullptr;
        t.callback = nullptr;
        log::line(log::kAlways, "Block transfer could not be started (", started, ")");
        return started;
    }
    return RESULT_OK;
}

int blockTransferProgress(unsigned char* percent) {
    StackSection lock;
    const BlockControlRecord& r = bt().record;
    if (percent) {
        *percent = 0;
        if (r.state == kTransferAllSent)
            *percent = 100;
        else if (r.state == kTransferUpload && r.packetCount != 0)
            *percent = static_cast<unsigned char>(
                r.packetIndex >= r.packetCount ? 100 : static_cast<float>(r.packetIndex) / r.packetCount * 100.0f);
    }
    return static_cast<int>(r.state);
}

void abandonBlockTransfer(IClient* client) {
    BlockTransfer& t = bt();
    if (!client || t.client != client) return;
    t.client = nullptr;
    t.callback = nullptr;
    t.loaded = false;
    t.record.state = kTransferError;
}

}  // namespace CommDiag::detail
