// The alarm thread itself, on the real clock: start and stop callbacks and timed firing.
#include "canopen/alarm.h"
#include "canopen/alarm_testing.h"
#include "platform/event.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

platform::Event g_started;
std::atomic<bool> g_startedOnOtherThread{false};
std::thread::id g_testThread;
std::atomic<int> g_stopCalls{0};
std::atomic<int> g_ticks{0};
platform::Event g_ticked(false);

void onStart(canopen::NodeData* owner, uint32_t id) {
    g_startedOnOtherThread = owner == nullptr && id == 0 && std::this_thread::get_id() != g_testThread;
    g_started.set();
}

void onStop(canopen::NodeData* owner, uint32_t id) {
    if (owner == nullptr && id == 0) ++g_stopCalls;
}

void onTick(canopen::NodeData*, uint32_t) {
    ++g_ticks;
    g_ticked.set();
}

class AlarmThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_testThread = std::this_thread::get_id();
        g_started.reset();
        g_ticked.reset();
        g_stopCalls = 0;
        g_ticks = 0;
        canopen::initAlarmService();
        canopen::testing::resetAlarmTable();
    }
    void TearDown() override {
        canopen::testing::resetAlarmTable();
        canopen::releaseAlarmService();
    }
};

TEST_F(AlarmThreadTest, StartCallbackRunsOnTheAlarmThreadAndStopCallbackOnStop) {
    canopen::startAlarmThread(onStart);
    ASSERT_TRUE(g_started.wait(5000));
    EXPECT_TRUE(g_startedOnOtherThread.load());
    canopen::stopAlarmThread(onStop);
    EXPECT_EQ(g_stopCalls.load(), 1);
}

TEST_F(AlarmThreadTest, ArmedAlarmsFireOnTheAlarmThread) {
    canopen::startAlarmThread(onStart);
    {
        canopen::StackLockGuard lock;
        canopen::armAlarm(nullptr, 0, onTick, 20, 20);
    }
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(g_ticked.wait(5000));
    canopen::stopAlarmThread(nullptr);
    const int ticks = g_ticks.load();
    EXPECT_GE(ticks, 3);
}

TEST_F(AlarmThreadTest, StartStoppedBeforeTheStartCallbackRanStillStartsAgain) {
    canopen::startAlarmThread(onStart);
    canopen::stopAlarmThread(nullptr);  // perhaps before the start alarm fired
    g_started.reset();
    canopen::initAlarmService();
    canopen::startAlarmThread(onStart);
    EXPECT_TRUE(g_started.wait(5000));
    canopen::stopAlarmThread(nullptr);
}

TEST_F(AlarmThreadTest, ServiceStartsAgainAfterAStop) {
    canopen::startAlarmThread(onStart);
    ASSERT_TRUE(g_started.wait(5000));
    canopen::stopAlarmThread(nullptr);
    g_started.reset();
    canopen::initAlarmService();
    canopen::startAlarmThread(onStart);
    EXPECT_TRUE(g_started.wait(5000));
    canopen::stopAlarmThread(nullptr);
}

}  // namespace
