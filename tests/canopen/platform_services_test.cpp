// The platform services the stack's threads rest on.
#include "platform/dynamic_library.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "platform/waitable_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

uint32_t returnsAtOnce(void* arg) {
    static_cast<std::atomic<int>*>(arg)->store(1);
    return 0;
}

// Never destroyed: a thread given up by join may still use them.
platform::Event& g_release = *new platform::Event;
platform::Event& g_finished = *new platform::Event;

uint32_t waitsForRelease(void*) {
    g_release.wait(platform::Event::kInfinite);
    g_finished.set();
    return 0;
}

TEST(Thread, JoinOfAThreadThatEndsReportsItEnded) {
    std::atomic<int> ran{0};
    platform::Thread thread;
    ASSERT_TRUE(thread.start(returnsAtOnce, &ran));
    EXPECT_TRUE(thread.join(5000, "test"));
    EXPECT_EQ(ran.load(), 1);
    EXPECT_FALSE(thread.attached());
}

TEST(Thread, JoinGivesUpAfterTheLimitAndSaysSo) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows terminates the thread and tells the debugger; tests/wine checks that";
#endif
    platform::Thread thread;
    ASSERT_TRUE(thread.start(waitsForRelease, nullptr));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(thread.join(20, "stuck"));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("thread 'stuck' did not end within 20 ms"), std::string::npos) << said;
    EXPECT_FALSE(thread.attached());
    g_release.set();  // let the given-up thread finish before the test ends
    EXPECT_TRUE(g_finished.wait(5000));
}

TEST(Thread, SecondStartWhileAttachedIsRefused) {
    std::atomic<int> ran{0};
    platform::Thread thread;
    ASSERT_TRUE(thread.start(returnsAtOnce, &ran));
    EXPECT_FALSE(thread.start(returnsAtOnce, &ran));
    EXPECT_TRUE(thread.join(5000, "test"));
}

TEST(WaitableTimer, FiresOnceAfterItsDelay) {
    platform::WaitableTimer timer;
    ASSERT_TRUE(timer.valid());
    ASSERT_TRUE(timer.setOnce(5));
    timer.wait();  // returns: it fired
    ASSERT_TRUE(timer.setOnce(0));
    timer.wait();
}

TEST(WaitableTimer, SettingAgainReplacesTheDueTime) {
    platform::WaitableTimer timer;
    ASSERT_TRUE(timer.setOnce(60000));
    ASSERT_TRUE(timer.setOnce(1));
    timer.wait();  // would hang for a minute if the first setting stood
}

TEST(WaitableTimer, WakesAWaiterOnAnotherThread) {
    platform::WaitableTimer timer;
    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        timer.wait();
        woke = true;
    });
    timer.setOnce(1);
    waiter.join();
    EXPECT_TRUE(woke.load());
}

TEST(DynamicLibrary, MissingLibraryAndSymbolGiveNull) {
    EXPECT_EQ(platform::loadLibrary("/nonexistent/libnothing.so"), nullptr);
    EXPECT_EQ(platform::loadLibrary(nullptr), nullptr);
    EXPECT_EQ(platform::librarySymbol(nullptr, "x"), nullptr);
    EXPECT_FALSE(platform::freeLibrary(nullptr));
    platform::LibraryHandle library = platform::loadLibrary(TESTCAN_PATH);
    ASSERT_NE(library, nullptr);
    EXPECT_NE(platform::librarySymbol(library, "canOpen_driver"), nullptr);
    EXPECT_EQ(platform::librarySymbol(library, "noSuchEntry"), nullptr);
    EXPECT_TRUE(platform::freeLibrary(library));
}

}  // namespace
