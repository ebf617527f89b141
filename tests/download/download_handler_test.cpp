// The block download handler against fake machine requests and a fake owner: refusals, the
// running flag and the converter state around starts, temporary curve files, joined binaries.
#include "download/orbel_blockdownloadhandler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct FakeRequests : IDownloadRequests {
    int32_t startResult = 0;
    int32_t progressState = 4;
    uint8_t progressPercent = 0;
    std::vector<std::string> blockPaths;
    std::vector<uint32_t> blockIds, packetSizes;
    std::vector<int64_t> localAddresses;             // -1: none
    std::vector<std::vector<uint8_t>> fileContents;  // what each started file held at its start
    std::vector<std::string> firmwarePaths;
    bool fileExistedAtStart = false;
    std::function<void()> onStart;  // a completion that comes inside the start

    int32_t CloseConnection() override { return 0; }
    int32_t StartBlockTransfer(const char* path, uint32_t blockId, uint32_t packetSize,
                               const uint32_t* localAddress) override {
        blockPaths.push_back(path);
        blockIds.push_back(blockId);
        packetSizes.push_back(packetSize);
        localAddresses.push_back(localAddress ? static_cast<int64_t>(*localAddress) : -1);
        std::ifstream in(path, std::ios::binary);
        fileExistedAtStart = in.is_open();
        fileContents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (onStart) onStart();
        return startResult;
    }
    int32_t GetBlockTransferProgress(uint8_t* percent) override {
        *percent = progressPercent;
        return progressState;
    }
    int32_t StartFirmwareUpdate(const char* path) override {
        firmwarePaths.push_back(path);
        if (onStart) onStart();
        return startResult;
    }
    int32_t GetFirmwareUpdateProgress(uint8_t* percent) override {
        *percent = progressPercent;
        return progressState;
    }
};

// A model with a charger range 0x200-0x240 (block 1, converted two bytes shorter), block 3 at
// 0x5500, and nothing at 0x5501; packets of 256.
struct FakeOwner : IDownloadOwner {
    enum State { Idle, Busy, Error } state = Idle;
    State before = Idle;
    int32_t convertAddrToBlockDownloadId(uint32_t address) override {
        if (address >= 0x200 && address <= 0x240) return 1;
        if (address == 0x5500) return 3;
        return -1;
    }
    uint32_t getBlockDownloadPacketSize(uint32_t) override { return 256; }
    bool dataBlockConvNecessary(uint32_t address) override { return address >= 0x200 && address <= 0x240; }
    bool dataBlockConv(uint32_t, const uint8_t* source, uint32_t* length, uint8_t* destination,
                       uint32_t capacity) override {
        if (*length < 2 || *length - 2 > capacity) return false;
        std::copy(source, source + *length - 2, destination);
        *length -= 2;
        return true;
    }
    bool markBusyForDownload() override {
        if (state == Busy) return false;
        before = state;
        state = Busy;
        return true;
    }
    void undoBusyForDownload() override { state = before; }
};

class DownloadHandler : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        oldTmp = old ? old : "";
        std::string pattern = ::testing::TempDir() + "/download-XXXXXX";
        dir = ::mkdtemp(pattern.data());
        tmp = dir / "tmp";
        fs::create_directory(tmp);
        ::setenv("TMPDIR", tmp.c_str(), 1);
    }
    void TearDown() override {
        if (oldTmp.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", oldTmp.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::vector<std::string> tempFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(tmp)) names.push_back(e.path().filename().string());
        return names;
    }
    void write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir, tmp;
    std::string oldTmp;
    FakeRequests requests;
    FakeOwner owner;
    ORBEL_BlockDownloadHandler handler{requests, owner};
};

TEST_F(DownloadHandler, StartsAreRefusedBeforeAnythingStartsAndRunningIsUndoneOnRefusal) {
    EXPECT_FALSE(handler.StartBlockDownload("f", 0)) << "address 0";
    EXPECT_FALSE(handler.StartBlockDownload("f", 0x5501)) << "no block id: never sent as 0xFFFFFFFF";
    EXPECT_TRUE(requests.blockIds.empty());

    requests.startResult = 4;
    EXPECT_FALSE(handler.StartBlockDownload("f", 0x5500));
    EXPECT_FALSE(handler.isRunning()) << "a refused start leaves nothing running";
    EXPECT_EQ(owner.state, FakeOwner::Idle) << "busy was undone";
    owner.state = FakeOwner::Error;
    EXPECT_FALSE(handler.StartFirmwareDownload("fw.hex"));
    EXPECT_EQ(owner.state, FakeOwner::Error) << "the state from before comes back";
    EXPECT_FALSE(handler.isRunning());

    requests.startResult = 0;
    EXPECT_TRUE(handler.StartFirmwareDownload("fw.hex"));
    EXPECT_TRUE(handler.isRunning());
    EXPECT_EQ(owner.state, FakeOwner::Busy);
    EXPECT_FALSE(handler.StartBlockDownload("f", 0x5500)) << "one download at a time";
    EXPECT_FALSE(handler.StartFirmwareDownload("fw.hex"));
    EXPECT_THAT(requests.firmwarePaths, ElementsAre("fw.hex", "fw.hex"));
    handler.resetBlockDownload();
    EXPECT_FALSE(handler.isRunning());

    owner.state = FakeOwner::Busy;  // a legacy request in flight
    EXPECT_FALSE(handler.StartBlockDownload("f", 0x5500));
    EXPECT_EQ(owner.state, FakeOwner::Busy);
    EXPECT_FALSE(handler.isRunning());
}

// A transfer that ends before its start returns (its callback on a stack thread) leaves the
// handler free and the converter as the callback left it.
TEST_F(DownloadHandler, CompletionInsideTheStartLeavesNothingRunning) {
    requests.onStart = [this] {
        handler.resetBlockDownload();
        owner.state = FakeOwner::Idle;
    };
    EXPECT_TRUE(handler.StartFirmwareDownload("fw.hex"));
    EXPECT_FALSE(handler.isRunning());
    EXPECT_EQ(owner.state, FakeOwner::Idle);
    EXPECT_TRUE(handler.StartBlockDownload("f", 0x5500));
    EXPECT_FALSE(handler.isRunning());
    EXPECT_EQ(owner.state, FakeOwner::Idle);
}

TEST_F(DownloadHandler, ProgressReportsTheFailedStateAndGuardsTheValue) {
    uint8_t progress = 0;
    requests.progressPercent = 42;
    EXPECT_TRUE(handler.GetFirmwareDownloadProgress(&progress));
    EXPECT_EQ(progress, 42);
    EXPECT_TRUE(handler.GetBlockDownloadProgress(nullptr));
    requests.progressState = 7;
    EXPECT_FALSE(handler.GetFirmwareDownloadProgress(&progress));
    EXPECT_FALSE(handler.GetBlockDownloadProgress(&progress));
}

// Charger data: converted two bytes shorter, its last received byte the local address, sent
// from a temporary file that is gone once the transfer ends - and at once when it is refused.
TEST_F(DownloadHandler, CurveDataGoesThroughATemporaryFileRemovedAtTheEnd) {
    const uint8_t data[] = {1, 2, 3, 4, 5, 0x37};
    ASSERT_TRUE(handler.SendCurveDataAsBlock(0x200, sizeof data, data));
    ASSERT_EQ(requests.blockPaths.size(), 1u);
    EXPECT_TRUE(requests.fileExistedAtStart);
    EXPECT_THAT(requests.fileContents[0], ElementsAre(1, 2, 3, 4));
    EXPECT_EQ(requests.blockIds[0], 1u);
    EXPECT_EQ(requests.localAddresses[0], 0x37);
    EXPECT_EQ(tempFiles().size(), 1u);
    EXPECT_THAT(tempFiles()[0], HasSubstr("dravenik"));
    handler.resetBlockDownload();
    owner.state = FakeOwner::Idle;  // as the completion callback leaves it
    EXPECT_TRUE(tempFiles().empty()) << "removed when its transfer ends";

    // Unconverted data is sent as it is.
    const uint8_t curve[] = {9, 8, 7};
    ASSERT_TRUE(handler.SendCurveDataAsBlock(0x5500, sizeof curve, curve));
    EXPECT_THAT(requests.fileContents[1], ElementsAre(9, 8, 7));
    handler.abandon();
    owner.state = FakeOwner::Idle;
    EXPECT_TRUE(tempFiles().empty()) << "de-init ends it too";
    EXPECT_FALSE(handler.isRunning());

    requests.startResult = 4;
    EXPECT_FALSE(handler.SendCurveDataAsBlock(0x5500, sizeof curve, curve));
    EXPECT_TRUE(tempFiles().empty()) << "a refused start leaves no file";
}

TEST_F(DownloadHandler, CurveDataTooShortOrTooLongIsRefusedWithoutAFile) {
    const uint8_t one[] = {0x11};
    EXPECT_FALSE(handler.SendCurveDataAsBlock(0x200, 0, one)) << "nothing to take the local address from";
    EXPECT_FALSE(handler.SendCurveDataAsBlock(0x200, 1, one)) << "converted to less than nothing";
    const uint8_t two[] = {0x11, 0x22};
    EXPECT_FALSE(handler.SendCurveDataAsBlock(0x200, 2, two)) << "converted to nothing";
    std::vector<uint8_t> big(259, 5);
    EXPECT_FALSE(handler.SendCurveDataAsBlock(0x200, static_cast<uint32_t>(big.size()), big.data()))
        << "beyond the conversion's 256 bytes";
    EXPECT_TRUE(requests.blockPaths.empty());
    EXPECT_TRUE(tempFiles().empty());
}

TEST_F(DownloadHandler, TempFolderThatCannotBeWrittenIsAClearRefusal) {
    ::setenv("TMPDIR", (dir / "missing").c_str(), 1);
    const uint8_t curve[] = {9, 8, 7};
    testing::internal::CaptureStdout();
    EXPECT_FALSE(handler.SendCurveDataAsBlock(0x5500, sizeof curve, curve));
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("unable to get temp path!"));
    EXPECT_TRUE(requests.blockPaths.empty());
}

// Images in name order whatever the file system lists, folders and other files left out, the
// output itself too although its name ends in "hex"; names with spaces and UTF-8 are fine.
TEST_F(DownloadHandler, BinaryJoinsImagesInNameOrder) {
    const fs::path images = dir / "images ü";
    fs::create_directory(images);
    write(images / "b.hex", "BB");
    write(images / "a.hex", "A");
    write(images / "c d ä.hex", "CCC");
    write(images / "readme.txt", "x");
    fs::create_directory(images / "old.hex");
    write(images / "all.hex", "stale");
    EXPECT_TRUE(handler.BuildBlockDownloadBinary(images.c_str(), "all.hex"));
    EXPECT_EQ(read(images / "all.hex"), "ABBCCC");
    EXPECT_TRUE(handler.BuildBlockDownloadBinary(images.c_str(), "all.hex")) << "built again, not into itself";
    EXPECT_EQ(read(images / "all.hex"), "ABBCCC");
}

TEST_F(DownloadHandler, BinaryFailsOnAnyImageItCannotTake) {
    const fs::path images = dir / "images";
    fs::create_directory(images);
    EXPECT_FALSE(handler.BuildBlockDownloadBinary(images.c_str(), "out.bin")) << "no images";
    EXPECT_TRUE(fs::exists(images / "out.bin")) << "the empty output stays, as before";
    EXPECT_FALSE(handler.BuildBlockDownloadBinary((dir / "nowhere").c_str(), "out.bin"));

    write(images / "a.hex", "A");
    fs::create_symlink(dir / "gone", images / "b.hex");  // found, but cannot be opened
    EXPECT_FALSE(handler.BuildBlockDownloadBinary(images.c_str(), "out.bin"));
    EXPECT_FALSE(fs::exists(images / "out.bin")) << "no partial binary is left to be sent";
}

}  // namespace
