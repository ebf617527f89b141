// 50 converter sessions and 50 opens of serican in one process leave the threads and descriptors
// the process had before; under the address sanitizer LeakSanitizer checks for leaked memory
// after them. (The 1000-cycle figures with resident memory come from bench/soak.)
#include <gtest/gtest.h>

#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define ORBEL_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define ORBEL_LEAK_CHECK 1
#endif
#endif

#include "soak.h"

namespace {

constexpr int kCycles = 50;

// The thread sanitizer starts a thread of its own with the process's first other thread; one
// thread made and joined before counting keeps it out of the figures.
orbeltest::ProcessResources resourcesBefore() {
    std::thread([] {}).join();
    return orbeltest::processResources();
}

void expectNothingLeft(const orbeltest::ProcessResources& before) {
    const orbeltest::ProcessResources after = orbeltest::processResources();
    orbeltest::printResources(stdout, "before the first cycle:", before);
    orbeltest::printResources(stdout, "after the last cycle:", after);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.fds, before.fds);
#ifdef ORBEL_LEAK_CHECK
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found leaks (listed above)";
#endif
}

TEST(Soak, ConverterSessionsLeaveNothingBehind) {
    orbeltest::SoakTwin twin;
    std::string error;
    ASSERT_TRUE(twin.start(error)) << error;
    orbeltest::SessionCycles sessions;
    const auto before = resourcesBefore();
    for (int cycle = 0; cycle < kCycles; ++cycle) ASSERT_EQ(sessions.cycle(), "") << "cycle " << cycle;
    sessions.report(stdout);
    expectNothingLeft(before);
}

TEST(Soak, SericanOpenedAndClosedLeavesNothingBehind) {
    orbeltest::SoakTwin twin;
    std::string error;
    ASSERT_TRUE(twin.start(error)) << error;
    orbeltest::SericanCycles serican;
    ASSERT_TRUE(serican.load(error)) << error;
    const auto before = resourcesBefore();
    for (int cycle = 0; cycle < kCycles; ++cycle) ASSERT_EQ(serican.cycle(), "") << "cycle " << cycle;
    expectNothingLeft(before);
}

}  // namespace
