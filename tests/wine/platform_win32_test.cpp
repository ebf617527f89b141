// The Win32 side of the platform layer on real kernel objects (run under wine): what only Windows
// does, the termination of a thread that outlives its join, joining from the thread itself, a
// cancelled waitable timer, LoadLibraryA with a Windows path, COM device names.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/event.h"
#include "platform/module_path.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "platform/waitable_timer.h"

namespace {

// Never destroyed: a terminated thread never lets go of what it was using.
platform::Event& g_release = *new platform::Event;
std::atomic<bool> g_ranOn{false};

uint32_t stuckUntilReleased(void*) {
    g_release.wait(platform::Event::kInfinite);
    g_ranOn = true;
    return 0;
}

TEST(Win32Thread, JoinTerminatesAThreadStillRunningAfterTheLimit) {
    platform::Thread thread;
    ASSERT_TRUE(thread.start(stuckUntilReleased, nullptr));
    const uint32_t start = platform::tickCountMs();
    EXPECT_FALSE(thread.join(platform::Thread::kDefaultJoinMs, "stuck"));
    const uint32_t spent = platform::tickCountMs() - start;
    EXPECT_GE(spent, 950u) << "gave up before the limit";
    EXPECT_LT(spent, 5000u);
    EXPECT_FALSE(thread.attached());
    g_release.set();
    platform::sleepMs(300);
    EXPECT_FALSE(g_ranOn.load()) << "the thread went on after its join: it was not terminated";
}

struct SelfJoin {
    platform::Thread thread;
    platform::Event started;
    platform::Event joined;
    std::atomic<bool> result{true};
    std::atomic<bool> wasCurrent{false};
};

uint32_t joinsItself(void* arg) {
    auto* self = static_cast<SelfJoin*>(arg);
    self->started.wait(platform::Event::kInfinite);  // start() has stored the handle by now
    self->wasCurrent = self->thread.isCurrent();
    self->result = self->thread.join(platform::Thread::kDefaultJoinMs, "self");
    self->joined.set();
    return 0;
}

TEST(Win32Thread, JoinFromTheThreadItselfOnlyReleasesTheHandle) {
    SelfJoin self;
    ASSERT_TRUE(self.thread.start(joinsItself, &self));
    self.started.set();
    ASSERT_TRUE(self.joined.wait(500)) << "a join from inside waited for itself";
    EXPECT_TRUE(self.wasCurrent.load());
    EXPECT_FALSE(self.result.load()) << "the thread did not end, so the join cannot say it did";
    EXPECT_FALSE(self.thread.attached());
}

TEST(Win32WaitableTimer, ACancelledTimerDoesNotFire) {
    platform::WaitableTimer timer;
    ASSERT_TRUE(timer.valid());
    ASSERT_TRUE(timer.setOnce(50));
    ASSERT_TRUE(timer.cancel());
    std::atomic<bool> fired{false};
    std::thread waiter([&] {
        timer.wait();
        fired = true;
    });
    platform::sleepMs(300);
    EXPECT_FALSE(fired.load());
    ASSERT_TRUE(timer.setOnce(0));  // let the waiter go
    waiter.join();
    EXPECT_TRUE(fired.load());
}

TEST(Win32WaitableTimer, WaitsAtLeastTheDueTime) {
    platform::WaitableTimer timer;
    const uint32_t start = platform::tickCountMs();
    ASSERT_TRUE(timer.setOnce(200));
    timer.wait();
    EXPECT_GE(platform::tickCountMs() - start, 180u);  // GetTickCount may step by up to 16 ms
}

// serican.dll lies beside the test program in the build.
std::string driverBesideThisProgram() { return platform::directoryOf(platform::executablePath()) + "\\serican.dll"; }

TEST(Win32DynamicLibrary, LoadLibraryAByAWindowsPathResolvesTheDriverEntries) {
    const std::string path = driverBesideThisProgram();
    ASSERT_EQ(path.find('/'), std::string::npos) << path;
    platform::LibraryHandle library = platform::loadLibrary(path.c_str());
    ASSERT_NE(library, nullptr) << path;
    for (const char* entry :
         {"canOpen_driver", "canClose_driver", "canSend_driver", "canReceive_driver", "canChangeBaudRate_driver"})
        EXPECT_NE(platform::librarySymbol(library, entry), nullptr) << entry;
    EXPECT_EQ(platform::librarySymbol(library, "canOpen_driver@4"), nullptr) << "decorated names are not exported";
    EXPECT_EQ(platform::modulePathOf(platform::librarySymbol(library, "canOpen_driver")), path);
    EXPECT_TRUE(platform::freeLibrary(library));
}

TEST(Win32DynamicLibrary, AMissingDriverPathGivesNull) {
    EXPECT_EQ(platform::loadLibrary("C:\\no such folder\\serican.dll"), nullptr);
}

TEST(Win32SerialPort, ComPortsAreWin32DevicePaths) {
    EXPECT_EQ(platform::SerialPort::deviceName(7), "\\\\.\\COM7");
    EXPECT_EQ(platform::SerialPort::deviceName(12), "\\\\.\\COM12");
    EXPECT_EQ(platform::SerialPort::deviceName(0), "");
}

TEST(Win32SerialPort, APortThatDoesNotExistDoesNotOpen) {
    platform::SerialPort port;
    EXPECT_FALSE(port.open(197, 38400));  // the prefix maps no COM197
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.open(0, 38400));
    uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1, 10).status, platform::SerialPort::ReadStatus::Failed);
    EXPECT_EQ(port.write(&byte, 1, 10), 0u);
}

}  // namespace
