// The alarm table's arithmetic, with a clock the test moves and the alarm thread's work run
// on the test's thread: no real time passes.
#include "canopen/alarm.h"
#include "canopen/alarm_testing.h"
#include "fake_clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using canopen::armAlarm;
using canopen::cancelAlarm;
using canopen::NO_ALARM;
namespace testing_seam = canopen::testing;

std::vector<uint32_t> g_fired;
void record(canopen::NodeData*, uint32_t id) { g_fired.push_back(id); }

class AlarmTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_fired.clear();
        canopen::initAlarmService();
        testing_seam::resetAlarmTable();
        canopen::lockStack();  // as every caller outside the stack's threads does
    }
    void TearDown() override {
        testing_seam::resetAlarmTable();
        canopen::unlockStack();
        canopen::releaseAlarmService();
    }
    void wakeAt(uint32_t time) {
        clock.set(time);
        testing_seam::runAlarmWakeup();
    }

    test_support::FakeClock clock{5000};
};

TEST_F(AlarmTest, FirstAlarmProgramsTheTimerWithItsDelay) {
    EXPECT_EQ(armAlarm(nullptr, 1, record, 500, 0), 0);
    EXPECT_EQ(testing_seam::programmedWakeup(), 500u);
    EXPECT_EQ(testing_seam::totalSleepTime(), 500u);
}

TEST_F(AlarmTest, ShorterDelayThanThePendingWakeupReprogramsTheTimer) {
    armAlarm(nullptr, 1, record, 500, 0);
    clock.set(5100);
    armAlarm(nullptr, 2, record, 200, 0);
    EXPECT_EQ(testing_seam::programmedWakeup(), 200u);
    EXPECT_EQ(testing_seam::totalSleepTime(), 300u);  // from the last wake-up
}

TEST_F(AlarmTest, LongerDelayThanThePendingWakeupLeavesTheTimer) {
    armAlarm(nullptr, 1, record, 500, 0);
    clock.set(5100);
    armAlarm(nullptr, 2, record, 400, 0);  // due together with the pending wake-up
    EXPECT_EQ(testing_seam::programmedWakeup(), 500u);
    armAlarm(nullptr, 3, record, 450, 0);
    EXPECT_EQ(testing_seam::programmedWakeup(), 500u);
    EXPECT_EQ(testing_seam::totalSleepTime(), 500u);
}

TEST_F(AlarmTest, LongerAlarmFiresAtItsOwnTimeAfterTheEarlierWakeup) {
    armAlarm(nullptr, 1, record, 100, 0);
    armAlarm(nullptr, 2, record, 250, 0);
    wakeAt(5100);
    EXPECT_EQ(g_fired, std::vector<uint32_t>{1});
    EXPECT_EQ(testing_seam::programmedWakeup(), 150u);
    wakeAt(5250);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(testing_seam::programmedWakeup(), canopen::kNoWakeup);
}

TEST_F(AlarmTest, DelayZeroFiresAtTheNextWakeup) {
    armAlarm(nullptr, 7, record, 0, 0);
    EXPECT_EQ(testing_seam::programmedWakeup(), 0u);
    wakeAt(5000);
    EXPECT_EQ(g_fired, std::vector<uint32_t>{7});
}

TEST_F(AlarmTest, OneShotFiresOnceAndFreesItsSlot) {
    const auto handle = armAlarm(nullptr, 1, record, 10, 0);
    wakeAt(5010);
    wakeAt(5020);
    EXPECT_EQ(g_fired.size(), 1u);
    EXPECT_EQ(armAlarm(nullptr, 2, record, 10, 0), handle);
}

TEST_F(AlarmTest, PeriodicFiresEveryPeriodAndStaysArmed) {
    armAlarm(nullptr, 3, record, 100, 100);
    wakeAt(5100);
    EXPECT_EQ(testing_seam::programmedWakeup(), 100u);
    wakeAt(5200);
    wakeAt(5300);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{3, 3, 3}));
}

TEST_F(AlarmTest, PeriodicAfterALateWakeupKeepsItsPhase) {
    armAlarm(nullptr, 3, record, 100, 100);
    clock.lateAfterNextRead(30);  // held up after noting its wake-up time
    wakeAt(5100);
    EXPECT_EQ(g_fired.size(), 1u);
    EXPECT_EQ(testing_seam::programmedWakeup(), 70u);  // period - overrun
}

TEST_F(AlarmTest, PeriodicAfterAnOverrunOfSeveralPeriodsKeepsItsPhase) {
    armAlarm(nullptr, 3, record, 100, 100);
    clock.lateAfterNextRead(250);
    wakeAt(5100);
    EXPECT_EQ(g_fired.size(), 1u);                     // missed periods are not made up
    EXPECT_EQ(testing_seam::programmedWakeup(), 50u);  // period - (overrun mod period)
}

// The timer fired on time but the alarm thread got the processor 30 ms late and only then read
// the clock: the heartbeat-like periodic alarm stays on its 100 ms grid, the one-shot due in
// between fires at its own time, not 30 ms after it.
TEST_F(AlarmTest, WakeupReadLateKeepsEveryAlarmOnItsTime) {
    armAlarm(nullptr, 3, record, 100, 100);
    armAlarm(nullptr, 4, record, 150, 0);
    wakeAt(5130);
    EXPECT_EQ(g_fired, std::vector<uint32_t>{3});
    EXPECT_EQ(testing_seam::programmedWakeup(), 20u);  // the one-shot, due at 5150
    wakeAt(5150);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{3, 4}));
    EXPECT_EQ(testing_seam::programmedWakeup(), 50u);  // the periodic one, due at 5200
    wakeAt(5200);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{3, 4, 3}));
    EXPECT_EQ(testing_seam::programmedWakeup(), 100u);
}

TEST_F(AlarmTest, TableFullRefusesThe33rdAlarm) {
    for (int i = 0; i < canopen::kAlarmSlotCount; ++i) ASSERT_EQ(armAlarm(nullptr, 0, record, 1000, 0), i);
    EXPECT_EQ(armAlarm(nullptr, 0, record, 1000, 0), NO_ALARM);
    cancelAlarm(17);
    EXPECT_EQ(armAlarm(nullptr, 0, record, 1000, 0), 17);
}

TEST_F(AlarmTest, CancellingTheTopSlotLowersTheBoundByOneEvenOverAFreeSlot) {
    armAlarm(nullptr, 0, record, 1000, 0);
    armAlarm(nullptr, 1, record, 1000, 0);
    armAlarm(nullptr, 2, record, 1000, 0);
    cancelAlarm(1);
    EXPECT_EQ(testing_seam::highestUsedSlot(), 2);  // a slot below the top leaves the bound
    cancelAlarm(2);
    EXPECT_EQ(testing_seam::highestUsedSlot(), 1);
    EXPECT_EQ(armAlarm(nullptr, 3, record, 1000, 0), 1);
    EXPECT_EQ(testing_seam::highestUsedSlot(), 1);
}

TEST_F(AlarmTest, CancelledAlarmDoesNotFire) {
    auto handle = armAlarm(nullptr, 1, record, 100, 0);
    handle = cancelAlarm(handle);
    EXPECT_EQ(handle, NO_ALARM);
    wakeAt(5100);
    EXPECT_TRUE(g_fired.empty());
}

TEST_F(AlarmTest, NullCallbackAndBadHandlesAreRefused) {
    EXPECT_EQ(armAlarm(nullptr, 1, nullptr, 100, 0), NO_ALARM);
    EXPECT_EQ(cancelAlarm(NO_ALARM), NO_ALARM);
    EXPECT_EQ(cancelAlarm(32), NO_ALARM);
    EXPECT_EQ(cancelAlarm(-7), NO_ALARM);
    EXPECT_EQ(testing_seam::highestUsedSlot(), -1);
}

// A periodic callback that cancels itself and arms a one-shot in its place.
canopen::AlarmHandle g_self = NO_ALARM;
void replaceSelf(canopen::NodeData*, uint32_t id) {
    g_fired.push_back(id);
    g_self = cancelAlarm(g_self);
    armAlarm(nullptr, id + 1, record, 20, 0);
}

TEST_F(AlarmTest, CallbackMayCancelItselfAndArmAnother) {
    g_self = armAlarm(nullptr, 10, replaceSelf, 50, 50);
    wakeAt(5050);
    EXPECT_EQ(testing_seam::programmedWakeup(), 20u);
    wakeAt(5070);
    wakeAt(5100);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{10, 11}));
}

TEST_F(AlarmTest, ElapsedTimeIsCountedAcrossTheTickCountWrap) {
    wakeAt(0xFFFFFF00u);
    clock.set(0x50);  // 0x150 ms later, past the wrap
    EXPECT_EQ(canopen::elapsedSinceWakeup(), 0x150u);
    armAlarm(nullptr, 1, record, 100, 0);
    EXPECT_EQ(testing_seam::programmedWakeup(), 100u);
    EXPECT_EQ(testing_seam::totalSleepTime(), 0x150u + 100u);
    wakeAt(0x50 + 100);
    EXPECT_EQ(g_fired, std::vector<uint32_t>{1});
}

}  // namespace
