#include "platform/serial_port.h"

#include <gtest/gtest.h>

#include <termios.h>
#include <cstdlib>
#include <future>

#include "blocked_thread.h"
#include "pty_pair.h"

using platform::SerialPort;
using Status = SerialPort::ReadStatus;
using namespace std::chrono_literals;

namespace {

constexpr unsigned kCom = 5;

class SerialPortOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SERICAN_COM5", pty.slavePath().c_str(), 1);
        ASSERT_TRUE(port.open(kCom, 38400));
    }
    void TearDown() override { unsetenv("SERICAN_COM5"); }

    testsupport::PtyPair pty;
    SerialPort port;
};

}  // namespace

TEST(SerialPortDeviceName, ComNumbersMapToTheEnvironmentOrToTtyS) {
    unsetenv("SERICAN_COM3");
    EXPECT_EQ(SerialPort::deviceName(3), "/dev/ttyS2");
    setenv("SERICAN_COM3", "/dev/pts/42", 1);
    EXPECT_EQ(SerialPort::deviceName(3), "/dev/pts/42");
    setenv("SERICAN_COM3", "", 1);
    EXPECT_EQ(SerialPort::deviceName(3), "/dev/ttyS2");
    unsetenv("SERICAN_COM3");
    EXPECT_EQ(SerialPort::deviceName(1), "/dev/ttyS0");
    EXPECT_EQ(SerialPort::deviceName(0), "");
}

TEST(SerialPortOpen, RefusesWhatIsNotASerialDevice) {
    SerialPort port;
    setenv("SERICAN_COM6", "/dev/null", 1);
    EXPECT_FALSE(port.open(6, 38400));
    setenv("SERICAN_COM6", "/nonexistent/tty", 1);
    EXPECT_FALSE(port.open(6, 38400));
    unsetenv("SERICAN_COM6");
    EXPECT_FALSE(port.open(0, 38400));
    EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialPortOnPty, SetsTheLineRaw8N1AtTheBitRate) {
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B38400);
    EXPECT_EQ(cfgetispeed(&tio), B38400);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST_F(SerialPortOnPty, RefusesABitRateTheLineCannotRun) {
    SerialPort other;
    EXPECT_FALSE(other.open(kCom, 12345));
}

TEST_F(SerialPortOnPty, BytesTravelBothWaysUntranslated) {
    const uint8_t out[] = {0x0A, 0x0D, 0x03, 0x11, 0x13, 0xFF};
    EXPECT_EQ(port.write(out, sizeof out, 1000), sizeof out);
    EXPECT_EQ(pty.read(sizeof out, 1000ms), std::vector<uint8_t>(out, out + sizeof out));

    pty.write({0x0D, 0x0A, 0x04, 0x1A});
    uint8_t in[16];
    std::vector<uint8_t> got;
    while (got.size() < 4) {
        const auto r = port.read(in, sizeof in, 1000);
        ASSERT_EQ(r.status, Status::Data);
        got.insert(got.end(), in, in + r.count);
    }
    EXPECT_EQ(got, (std::vector<uint8_t>{0x0D, 0x0A, 0x04, 0x1A}));
}

TEST_F(SerialPortOnPty, AReadTimesOutWhenNothingArrives) {
    uint8_t in[16];
    EXPECT_EQ(port.read(in, sizeof in, 20).status, Status::Timeout);
}

TEST_F(SerialPortOnPty, InterruptEndsAReadThatWouldWaitForever) {
    auto result = serican_test::startBlocked([this] {
        uint8_t in[16];
        return port.read(in, sizeof in, SerialPort::kInfinite).status;
    });
    port.interrupt();
    ASSERT_EQ(result.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(result.get(), Status::Interrupted);

    uint8_t in[16];
    pty.write({1, 2, 3});
    EXPECT_EQ(port.read(in, sizeof in, 1000).status, Status::Interrupted) << "an interrupt lasts until close";
}

TEST_F(SerialPortOnPty, AHungUpLineFailsTheReadInsteadOfHanging) {
    auto result = serican_test::startBlocked([this] {
        uint8_t in[16];
        return port.read(in, sizeof in, SerialPort::kInfinite).status;
    });
    pty.closeMaster();
    ASSERT_EQ(result.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(result.get(), Status::Failed);
}

TEST_F(SerialPortOnPty, ClosedPortCanBeOpenedAgain) {
    port.interrupt();
    port.close();
    EXPECT_FALSE(port.isOpen());
    uint8_t in[4];
    EXPECT_EQ(port.read(in, sizeof in, 0).status, Status::Failed);
    EXPECT_EQ(port.write(in, sizeof in, 0), 0u);
    ASSERT_TRUE(port.open(kCom, 38400));
    pty.write({7});
    const auto r = port.read(in, sizeof in, 1000);
    EXPECT_EQ(r.status, Status::Data) << "a new opening starts without the old interrupt";
}
