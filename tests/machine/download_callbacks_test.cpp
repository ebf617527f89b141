// The converter's side of downloads against a fake client: charger parameters in two packages,
// the download callbacks and the converter state and handler around them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/orbel_convbuffer.h"
#include "fake_client.h"
#include "fake_clock.h"
#include "machine_link/orbel_callbacks.h"
#include "machine_link/orbel_commdiag.h"
#include "machine_link/orbel_reconnect.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_pkghandler/orbel_clbdownload.h"

namespace {

namespace fs = std::filesystem;
using orbeltest::FakeClient;

class Downloads : public ::testing::Test {
protected:
    void SetUp() override {
        ORBEL_CommDiag::setClientForTesting(&client);
        clock.setWaitHook([] {});  // the machine's restart time passes at once
        conv = ORBEL_Conv::getInstance();
        conv->setConnected();
        conv->setMachineType({1, 5, 0});  // crane: charger range 512-576, block 1
        conv->setIdle();
        ORBEL_ResetChargerBuffer();
    }
    void TearDown() override {
        ORBEL_FinishReconnectForTesting();
        ORBEL_CancelReconnect();  // the reconnect thread waits on the clock, which goes with the test
        conv->getBlockDownloadHandler().abandon();
        ORBEL_CommDiag::setClientForTesting(nullptr);
    }

    // One write-block package to the charger range: data from position 7; the answer's state.
    uint8_t charger(uint32_t address, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> package(7 + data.size() + 1, 0);
        for (std::size_t i = 0; i < data.size(); ++i) package[7 + i] = data[i];  // GCC 12 misreads a copy here
        ORBEL_ConvBuffer out(512);
        const uint8_t head[] = {0xAA, 0x05, 0x0C, 0x00};
        out.writeBytes(sizeof head, head);
        ORBEL_WriteChargerParameters(conv, &out, "test", package.data(), address, static_cast<uint8_t>(data.size()));
        uint8_t state = 0;
        out.readByte(3, &state);
        return state;
    }
    std::vector<uint8_t> contentOf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    size_t starts() const {
        size_t n = 0;
        for (const auto& c : client.calls) n += c.op == "StartBlockTransfer";
        return n;
    }
    const FakeClient::Call* lastOf(const std::string& op) const {
        for (auto it = client.calls.rbegin(); it != client.calls.rend(); ++it)
            if (it->op == op) return &*it;
        return nullptr;
    }

    test_support::FakeClock clock;
    FakeClient client;
    ORBEL_Conv* conv = nullptr;
};

// Two packages make one block: converted two bytes shorter, the last byte the local address,
// busy from the start; the block's completion removes the temporary file, frees the handler and
// closes the connection, whose callback connects again off the stack's thread.
TEST_F(Downloads, ChargerParametersInTwoPackagesGoAsOneBlock) {
    EXPECT_EQ(charger(512, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 1);
    EXPECT_EQ(starts(), 0u);
    EXPECT_FALSE(conv->isBusy());
    EXPECT_EQ(charger(513, {11, 12, 13, 14, 0x2A}), 1);
    const FakeClient::Call* start = lastOf("StartBlockTransfer");
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->blockId, 1u);
    EXPECT_EQ(start->packetSize, 1024u);
    EXPECT_EQ(start->localAddress, 0x2A);
    EXPECT_EQ(contentOf(start->path), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
    EXPECT_TRUE(conv->isBusy());
    EXPECT_TRUE(conv->getBlockDownloadHandler().isRunning());

    const std::string temp = start->path;
    start->block(0, 1);
    EXPECT_FALSE(fs::exists(temp)) << "the temporary file goes with its transfer";
    EXPECT_FALSE(conv->getBlockDownloadHandler().isRunning());
    EXPECT_TRUE(conv->isBusy()) << "busy before the close is even started";
    ORBEL_FinishReconnectForTesting();  // the close runs on the link's reconnect thread
    const FakeClient::Call* close = lastOf("CloseConnection");
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(conv->isBusy());
    close->connection(0);
    ORBEL_FinishReconnectForTesting();
    EXPECT_EQ(client.last().op, "StartConnection");
    EXPECT_TRUE(conv->isBusy());
}

TEST_F(Downloads, ChargerPackagesThatDoNotFitOrCarryNothingAreRefused) {
    EXPECT_EQ(charger(512, std::vector<uint8_t>(129, 1)), 3) << "a first package over 128 bytes";
    EXPECT_EQ(charger(512, std::vector<uint8_t>(100, 1)), 1);
    EXPECT_EQ(charger(520, std::vector<uint8_t>(29, 2)), 3) << "together over 128 bytes";
    EXPECT_EQ(starts(), 0u);
    EXPECT_FALSE(conv->isBusy());
    // The buffer was emptied: a second package alone carries only its own bytes, and one of
    // fewer than three bytes converts to nothing.
    EXPECT_EQ(charger(520, {}), 3);
    EXPECT_EQ(charger(520, {7}), 3);
    EXPECT_EQ(charger(520, {7, 8}), 3);
    EXPECT_EQ(starts(), 0u);
    EXPECT_FALSE(conv->isBusy());
    EXPECT_EQ(charger(520, {7, 8, 9}), 1);
    ASSERT_NE(lastOf("StartBlockTransfer"), nullptr);
    EXPECT_EQ(contentOf(lastOf("StartBlockTransfer")->path), (std::vector<uint8_t>{7}));
}

TEST_F(Downloads, RefusedTransferLeavesTheConverterIdleAndNoFile) {
    client.nextResult = 4;
    EXPECT_EQ(charger(512, {1, 2, 3}), 1);
    EXPECT_EQ(charger(513, {4, 5, 6}), 3);
    const FakeClient::Call* start = lastOf("StartBlockTransfer");
    ASSERT_NE(start, nullptr);
    EXPECT_FALSE(fs::exists(start->path));
    EXPECT_FALSE(conv->isBusy());
    EXPECT_FALSE(conv->getBlockDownloadHandler().isRunning());
}

// A failed firmware download is an error the host can see; a successful one closes the
// connection and forgets the version and type, so that 0xFA reads them from the new firmware.
TEST_F(Downloads, FirmwareCallbackReportsFailureAndForgetsTheVersionAfterSuccess) {
    char image[] = "/tmp/fw.hex";
    ASSERT_TRUE(conv->getBlockDownloadHandler().StartFirmwareDownload(image));
    EXPECT_TRUE(conv->isBusy()) << "busy from before the start";
    lastOf("StartFirmwareUpdate")->firmware(19, 0);
    EXPECT_TRUE(conv->isError());
    EXPECT_FALSE(conv->getBlockDownloadHandler().isRunning());

    const uint8_t version[3] = {1, 2, 3};
    conv->storeSwVersion(version);
    ASSERT_TRUE(conv->getBlockDownloadHandler().StartFirmwareDownload(image)) << "the error does not block a new one";
    lastOf("StartFirmwareUpdate")->firmware(0, 0);
    ORBEL_FinishReconnectForTesting();
    EXPECT_FALSE(conv->isSwVersionRead());
    EXPECT_FALSE(conv->isMachineTypeRead()) << "0xFA reads the type again";
    EXPECT_FALSE(conv->isMachineIdentified());
    EXPECT_EQ(client.last().op, "CloseConnection");
    EXPECT_TRUE(conv->isBusy());
}

TEST_F(Downloads, BlockCallbackEndsIdleForTheFinalBlockAndInErrorOnFailure) {
    char file[] = "/tmp/curve.bin";
    ASSERT_TRUE(conv->getBlockDownloadHandler().StartBlockDownload(file, 0x300));
    EXPECT_EQ(lastOf("StartBlockTransfer")->localAddress, -1) << "none given by the two-argument start";
    lastOf("StartBlockTransfer")->block(0, 4);
    ORBEL_FinishReconnectForTesting();
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(lastOf("CloseConnection"), nullptr) << "block 4 needs no reconnection";
    ASSERT_TRUE(conv->getBlockDownloadHandler().StartBlockDownload(file, 0x5000));
    EXPECT_EQ(lastOf("StartBlockTransfer")->blockId, 0u);
    lastOf("StartBlockTransfer")->block(1, 0);
    EXPECT_TRUE(conv->isError());
    EXPECT_FALSE(conv->getBlockDownloadHandler().isRunning());
}

}  // namespace
