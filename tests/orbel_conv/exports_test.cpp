// Each test runs in its own process, so the library starts uninitialised every time.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host_session.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_dll/orbel_dll.h"

namespace {

using orbeltest::exchange;

void init() {
    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
}

TEST(DllInit, CutsThePortNameAtTheAtSignAndParsesTheNumber) {
    char port[] = "\\\\.\\COM7@anything after";
    EXPECT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    EXPECT_STREQ(port, "\\\\.\\COM7");
    EXPECT_EQ(ORBEL_GetComPortNumber(), 7);
    char again[] = "\\\\.\\COM3";
    EXPECT_EQ(ORBEL_DllInit(again), ORBEL_ALREADY_INITIALISED);
    EXPECT_EQ(ORBEL_GetComPortNumber(), 7) << "a second init changes nothing";
}

TEST(DllInit, APortNameOfAnotherShapeLeavesPortZero) {
    char port[] = "COM4";
    EXPECT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    EXPECT_EQ(ORBEL_GetComPortNumber(), 0);
}

TEST(DllDeInit, SucceedsOnceThenReportsNotInitialised) {
    EXPECT_EQ(ORBEL_DllDeInit(), ORBEL_NOT_INITIALISED);
    init();
    EXPECT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    EXPECT_EQ(ORBEL_DllDeInit(), ORBEL_NOT_INITIALISED);
}

TEST(DllDeInit, LeavesAConverterThatWasNeverUsedUncreated) {
    // Creating it would create the machine link's client and open the port just to close it.
    init();
    EXPECT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    EXPECT_EQ(ORBEL_Conv::getInstanceIfCreated(), nullptr);
}

TEST(ByteStream, RefusedBeforeInitAndAfterDeInit) {
    uint8_t package[] = {0xAA, 0x03, 0x01, 0x00, 0x52};
    int32_t count = 1234;
    uint8_t byte = 0;
    EXPECT_EQ(ORBEL_ConvWriteData(sizeof package, package), ORBEL_NOT_INITIALISED);
    EXPECT_EQ(ORBEL_ConvGetByteCount(&count), ORBEL_NOT_INITIALISED);
    EXPECT_EQ(count, 1234) << "the count is left alone";
    EXPECT_EQ(ORBEL_ConvReadData(&byte), ORBEL_NOT_INITIALISED);
    init();
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    EXPECT_EQ(ORBEL_ConvWriteData(sizeof package, package), ORBEL_NOT_INITIALISED);
}

TEST(ByteStream, ShortWritesStayBufferedUntilAPackageIsComplete) {
    init();
    uint8_t start[] = {0xAA, 0x03};
    EXPECT_EQ(ORBEL_ConvWriteData(1, start), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvWriteData(1, start + 1), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_Conv::getInstance()->getInBuffer()->getByteCount(), 2u);
    // The third byte completes the header: everything buffered reaches the handler, whose
    // command byte (0x02) is unknown.
    uint8_t rest[] = {0x02};
    EXPECT_EQ(ORBEL_ConvWriteData(1, rest), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_Conv::getInstance()->getInBuffer()->getByteCount(), 0u);
}

TEST(ByteStream, ReadingAnEmptyAnswerReportsNoData) {
    init();
    uint8_t byte = 0;
    int32_t count = -1;
    EXPECT_EQ(ORBEL_ConvReadData(&byte), ORBEL_NO_DATA);
    EXPECT_EQ(ORBEL_ConvGetByteCount(&count), ORBEL_OK);
    EXPECT_EQ(count, 0);
}

TEST(ByteStream, UnknownCommandGivesNoAnswer) {
    init();
    const auto e = exchange({0xAA, 0x03, 0x02, 0x00, 0x50});
    EXPECT_EQ(e.result, ORBEL_FAILURE);
    EXPECT_TRUE(e.answer.empty());
}

TEST(ByteStream, AnAnswerNotReadIsReplacedByTheNextOne) {
    init();
    uint8_t first[] = {0xAA, 0x03, 0x0F, 0x00, 0x00};
    ASSERT_EQ(ORBEL_ConvWriteData(sizeof first, first), 0);
    uint8_t byte = 0;
    ASSERT_EQ(ORBEL_ConvReadData(&byte), ORBEL_OK);  // read only the first byte
    const auto e = exchange({0xAA, 0x03, 0x03, 0x00, 0x00});
    ASSERT_EQ(e.answer.size(), 5u);
    EXPECT_EQ(e.answer[0], 0xAA);
    EXPECT_EQ(e.answer[2], 0x03);
}

TEST(ByteStream, AnyByteSequenceLeavesTheLibrarySound) {
    init();
    // Overlong writes are dropped whole; the buffered rest still frames a package.
    std::vector<uint8_t> flood(4096, 0x07);
    EXPECT_EQ(ORBEL_ConvWriteData(static_cast<uint32_t>(flood.size()), flood.data()), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvWriteData(0, nullptr), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvWriteData(5, nullptr), ORBEL_FAILURE);
    std::vector<uint8_t> largest(511, 0x00);
    largest[2] = 0x0F;
    const auto e = exchange(largest);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.answer.size(), 5u);
}

TEST(SwRevision, NeedsAConnectedMachineAndThreeBytes) {
    uint8_t buffer[3] = {0, 0, 0};
    EXPECT_EQ(ORBEL_ConvGetSWRevision(sizeof buffer, buffer), ORBEL_FAILURE);
}

TEST(FileAndDownloadExports, RefuseNullPointersAndProgressWithoutADownload) {
    char path[] = "/tmp/none@x";
    EXPECT_EQ(ORBEL_ConvAddParameterDescription(path, 1), ORBEL_FAILURE);
    EXPECT_STREQ(path, "/tmp/none");
    int progress = 0;
    EXPECT_EQ(ORBEL_ConvGetBlockDownloadProgress(&progress), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvGetFirmwareDownloadProgress(&progress), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvStartFirmwareDownload(nullptr), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvStartBlockDownloadFile(nullptr, 0x5000), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvBuildBlockDownloadBinary(nullptr, path), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvBuildBlockDownloadBinary(path, nullptr), ORBEL_FAILURE);
    // With a download running, a null progress pointer is still refused.
    char image[] = "/tmp/fw.hex@COM1";
    ASSERT_EQ(ORBEL_ConvStartFirmwareDownload(image), ORBEL_OK);
    EXPECT_STREQ(image, "/tmp/fw.hex");
    EXPECT_EQ(ORBEL_ConvGetFirmwareDownloadProgress(nullptr), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvGetFirmwareDownloadProgress(&progress), ORBEL_OK);
    EXPECT_EQ(ORBEL_ConvStartFirmwareDownload(image), ORBEL_FAILURE) << "one download at a time";
}

}  // namespace
