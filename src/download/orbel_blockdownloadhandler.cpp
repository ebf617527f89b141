#include "download/orbel_blockdownloadhandler.h"

#include <cstdio>
#include <vector>

#include "common/orbel_trace.h"
#include "platform/files.h"

namespace {
constexpr const char* kTempPrefix = "dravenik";
constexpr uint32_t kConversionCapacity = 256;
constexpr int32_t kTransferError = 7;
}  // namespace

bool ORBEL_BlockDownloadHandler::setUpdateRunning() {
    uint8_t idle = 0;
    if (!running.compare_exchange_strong(idle, 1, std::memory_order_acq_rel)) return false;
    ORBEL_Trace("%s(): ++ running %d\n", "ORBEL_BlockDownloadHandler::setUpdateRunning", 1);
    return true;
}

bool ORBEL_BlockDownloadHandler::claimStart(const char* name, const char* path) {
    if (!path || !setUpdateRunning()) {
        ORBEL_Trace("%s(): previous block download is still running!\n", name);
        return false;
    }
    if (owner.markBusyForDownload()) return true;
    ORBEL_Trace("%s(): converter is busy\n", name);
    running.store(0, std::memory_order_release);
    return false;
}

void ORBEL_BlockDownloadHandler::resetBlockDownload() {
    ORBEL_Trace("%s(): ++ resetting block download (current state: %d)\n",
                "ORBEL_BlockDownloadHandler::resetBlockDownload", running.load());
    forgetTempFile();
    running.store(0, std::memory_order_release);
}

void ORBEL_BlockDownloadHandler::abandon() {
    if (isRunning()) resetBlockDownload();
}

void ORBEL_BlockDownloadHandler::forgetTempFile() {
    std::lock_guard<std::mutex> lock(tempFileMutex);
    if (tempFile.empty()) return;
    if (!platform::removeFile(tempFile))
        ORBEL_Trace("%s(): unable to remove temp file %s\n", "ORBEL_BlockDownloadHandler::resetBlockDownload",
                    tempFile.c_str());
    tempFile.clear();
}

bool ORBEL_BlockDownloadHandler::StartBlockDownload(const char* path, uint32_t address) {
    ORBEL_Trace("%s(): file path: %s address: 0x%04x\n", "ORBEL_BlockDownloadHandler::StartBlockDownload",
                path ? path : "", address);
    return startBlock(path, address, nullptr);
}

bool ORBEL_BlockDownloadHandler::StartBlockDownload(const char* path, uint32_t address, uint8_t localAddress) {
    ORBEL_Trace("%s(): file path: %s address: 0x%04x localAddress: 0x%04x\n",
                "ORBEL_BlockDownloadHandler::StartBlockDownload", path ? path : "", address, localAddress);
    const uint32_t local = localAddress;
    return startBlock(path, address, &local);
}

bool ORBEL_BlockDownloadHandler::startBlock(const char* path, uint32_t address, const uint32_t* localAddress) {
    const char* const name = "ORBEL_BlockDownloadHandler::StartBlockDownload";
    if (address == 0) {
        ORBEL_Trace("%s(): invalid address\n", name);
        return false;
    }
    if (isRunning()) {
        ORBEL_Trace("%s(): previous block download is still running!\n", name);
        return false;
    }
    // An address the model maps to no block would go out as block 0xFFFFFFFF.
    const int32_t blockId = owner.convertAddrToBlockDownloadId(address);
    if (blockId < 0) {
        ORBEL_Trace("%s(): no block id for address 0x%04x\n", name, address);
        return false;
    }
    const uint32_t packetSize = owner.getBlockDownloadPacketSize(address);
    if (!claimStart(name, path)) return false;
    if (requests.StartBlockTransfer(path, static_cast<uint32_t>(blockId), packetSize, localAddress) != 0) {
        ORBEL_Trace("%s(): failed to start block download\n", name);
        owner.undoBusyForDownload();
        running.store(0, std::memory_order_release);
        return false;
    }
    ORBEL_Trace("%s(): block download successfully started (id: %d, packet size: %d)\n", name, blockId,
                static_cast<int>(packetSize));
    return true;
}

bool ORBEL_BlockDownloadHandler::StartFirmwareDownload(const char* path) {
    const char* const name = "ORBEL_BlockDownloadHandler::StartFirmwareDownload";
    ORBEL_Trace("%s(): file path: %s\n", name, path ? path : "");
    if (!claimStart(name, path)) return false;
    if (requests.StartFirmwareUpdate(path) != 0) {
        ORBEL_Trace("%s(): failed to start firmware download\n", name);
        owner.undoBusyForDownload();
        running.store(0, std::memory_order_release);
        return false;
    }
    ORBEL_Trace("%s(): firmware download successfully started\n", name);
    return true;
}

bool ORBEL_BlockDownloadHandler::SendCurveDataAsBlock(uint32_t address, uint32_t size, const uint8_t* data) {
    const char* const name = "ORBEL_BlockDownloadHandler::SendCurveDataAsBlock";
    // The last byte is the local address; a block needs at least one more byte of data.
    if (!data || size < 1) {
        ORBEL_Trace("%s(): no data to send!\n", name);
        return false;
    }
    const uint8_t localAddress = data[size - 1];
    std::vector<uint8_t> converted;
    const uint8_t* bytes = data;
    uint32_t length = size;
    if (owner.dataBlockConvNecessary(address)) {
        converted.assign(kConversionCapacity, 0);
        if (!owner.dataBlockConv(address, data, &length, converted.data(), kConversionCapacity) ||
            length > kConversionCapacity) {
            ORBEL_Trace("%s(): unable to convert data!\n", name);
            return false;
        }
        bytes = converted.data();
    }
    if (length < 1) {
        ORBEL_Trace("%s(): block is empty after conversion!\n", name);
        return false;
    }
    if (isRunning()) {
        ORBEL_Trace("%s(): previous block download is still running!\n", name);
        return false;
    }
    std::string path;
    std::size_t written = 0;
    switch (platform::writeTempFile(kTempPrefix, bytes, length, path, written)) {
        case platform::TempFileStep::TempFolder: ORBEL_Trace("%s(): unable to get temp path!\n", name); return false;
        case platform::TempFileStep::UniqueName:
            ORBEL_Trace("%s(): unable to get temporary file name!\n", name);
            return false;
        case platform::TempFileStep::Create:
            ORBEL_Trace("%s(): unable to create temp file!\n", name);
            if (!path.empty()) platform::removeFile(path);
            return false;
        case platform::TempFileStep::Write:
            ORBEL_Trace("%s(): WriteFile failed!\n", name);
            platform::removeFile(path);
            return false;
        case platform::TempFileStep::Done: break;
    }
    ORBEL_Trace("%s(): %d bytes written (expected: %d)\n", name, static_cast<int>(written), static_cast<int>(length));
    {
        std::lock_guard<std::mutex> lock(tempFileMutex);
        if (!tempFile.empty()) platform::removeFile(tempFile);
        tempFile = path;
    }
    if (!StartBlockDownload(path.c_str(), address, localAddress)) {
        ORBEL_Trace("%s(): unable to start block transfer!\n", name);
        std::lock_guard<std::mutex> lock(tempFileMutex);
        // A transfer that did start owns the file now; only a refused one leaves it to us.
        if (tempFile == path && !isRunning()) {
            platform::removeFile(tempFile);
            tempFile.clear();
        }
        return false;
    }
    return true;
}

namespace {

// Appends the whole of `source` to `out`; false on any read or write failure.
bool appendFile(std::FILE* source, std::FILE* out) {
    char chunk[8192];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, source);
        if (n > 0 && std::fwrite(chunk, 1, n, out) != n) return false;
        if (n < sizeof chunk) return std::ferror(source) == 0 && std::feof(source) != 0;
    }
}

}  // namespace

bool ORBEL_BlockDownloadHandler::BuildBlockDownloadBinary(const char* directory, const char* fileName) {
    const char* const name = "ORBEL_BlockDownloadHandler::BuildBlockDownloadBinary";
    if (!directory || !fileName || !*fileName) {
        ORBEL_Trace("%s(): unable to create binary\n", name);
        return false;
    }
    const std::string folder = directory;
    const std::string outPath = folder + platform::kPathSeparator + fileName;
    ORBEL_Trace("%s(): building binary %s\n", name, outPath.c_str());
    std::FILE* out = std::fopen(outPath.c_str(), "wb");
    if (!out) {
        ORBEL_Trace("%s(): unable to create binary\n", name);
        return false;
    }
    std::vector<std::string> images;
    int errorCode = 0;
    const bool found = platform::listFilesEndingIn(folder, "hex", images, errorCode);
    // The output itself may end in "hex"; joining it into itself would never end.
    for (auto it = images.begin(); it != images.end();)
        it = platform::sameFileName(*it, fileName) ? images.erase(it) : it + 1;
    if (!found || images.empty()) {
        const std::string pattern = folder + platform::kPathSeparator + "*hex";
        ORBEL_Trace("%s(): unable to find files (path: %s errno: %d)\n", name, pattern.c_str(), errorCode);
        std::fclose(out);
        return false;
    }
    // A binary missing one of its images must not pass for a whole one.
    bool ok = true;
    for (const std::string& image : images) {
        ORBEL_Trace("%s(): found file: %s\n", name, image.c_str());
        const std::string imagePath = folder + platform::kPathSeparator + image;
        std::FILE* in = std::fopen(imagePath.c_str(), "rb");
        if (!in) {
            ORBEL_Trace("%s(): unable to open file %s in binary mode\n", name, image.c_str());
            ok = false;
            break;
        }
        const bool appended = appendFile(in, out);
        std::fclose(in);
        if (!appended) {
            ORBEL_Trace("%s(): unable to copy file %s into the binary\n", name, image.c_str());
            ok = false;
            break;
        }
    }
    if (std::fclose(out) != 0 && ok) {
        ORBEL_Trace("%s(): unable to write binary %s\n", name, outPath.c_str());
        ok = false;
    }
    if (!ok) platform::removeFile(outPath);
    return ok;
}

namespace {

// The transfer's state (7: failed) and percentage, for the caller's progress value.
bool progressOf(int32_t state, uint8_t percent, uint8_t* progress, const char* failedLine, const char* name) {
    if (progress) *progress = percent;
    if (state != kTransferError) return true;
    ORBEL_Trace(failedLine, name);
    return false;
}

}  // namespace

bool ORBEL_BlockDownloadHandler::GetBlockDownloadProgress(uint8_t* progress) {
    uint8_t percent = 0;
    const int32_t state = requests.GetBlockTransferProgress(&percent);
    return progressOf(state, percent, progress, "%s(): block download failed - handler state == STATE_ERROR\n",
                      "ORBEL_BlockDownloadHandler::GetBlockDownloadProgress");
}

bool ORBEL_BlockDownloadHandler::GetFirmwareDownloadProgress(uint8_t* progress) {
    uint8_t percent = 0;
    const int32_t state = requests.GetFirmwareUpdateProgress(&percent);
    return progressOf(state, percent, progress, "%s(): firmware download failed - handler state == STATE_ERROR\n",
                      "ORBEL_BlockDownloadHandler::GetFirmwareDownloadProgress");
}
