#include "stack_fixture.h"

#include "canopen/node_state.h"

namespace canopen_test {

CanMessage frame(uint16_t cobId, std::initializer_list<uint8_t> bytes, uint8_t rtr) {
    CanMessage m{};
    m.cobId = cobId;
    m.rtr = rtr;
    for (uint8_t b : bytes) m.data[m.len++] = b;
    return m;
}

CanMessage remoteFrame(uint16_t cobId) { return frame(cobId, {}, 1); }

template <typename Entry>
bool resolveOne(platform::LibraryHandle module, const char* name, Entry& entry) {
    entry = reinterpret_cast<Entry>(platform::librarySymbol(module, name));
    return entry != nullptr;
}

bool TestDriver::resolve(platform::LibraryHandle module) {
    return resolveOne(module, "testcanInject", inject) && resolveOne(module, "testcanWaitIdle", waitIdle) &&
           resolveOne(module, "testcanSentCount", sentCount) && resolveOne(module, "testcanSentFrame", sentFrame) &&
           resolveOne(module, "testcanWaitSent", waitSent) && resolveOne(module, "testcanClearSent", clearSent) &&
           resolveOne(module, "testcanFailReceives", failReceives) &&
           resolveOne(module, "testcanReceiveCalls", receiveCalls) &&
           resolveOne(module, "testcanSetCloseResult", setCloseResult) &&
           resolveOne(module, "testcanBaudRateChanges", baudRateChanges) &&
           resolveOne(module, "testcanOpenBoards", openBoards);
}

void StackFixture::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    bus = std::string(info->test_suite_name()) + "." + info->name();
    canopen::initAlarmService();
    canopen::testing::resetAlarmTable();
    module = canopen::loadCanDriver(TESTCAN_PATH);
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(driver.resolve(module));
    node = std::make_unique<canopen::NodeData>();
    board = s_BOARD{bus.c_str(), "500K"};
    port = canopen::openCanPort(&board, node.get());
    ASSERT_NE(port, nullptr);
    canopen::StackLockGuard lock;
    canopen::setNodeId(node.get(), 1);
}

void StackFixture::TearDown() {
    if (node) canopen::closeCanPort(node.get());
    canopen::testing::resetAlarmTable();
    if (module) canopen::unloadCanDriver(module);
    canopen::releaseAlarmService();
}

void StackFixture::receive(const CanMessage& message) {
    ASSERT_GE(driver.inject(bus.c_str(), &message), 1);
    ASSERT_EQ(driver.waitIdle(bus.c_str(), 5000), 1) << "the stack did not take the frame";
}

std::vector<CanMessage> StackFixture::sent() const {
    std::vector<CanMessage> frames;
    const int count = driver.sentCount(bus.c_str());
    for (int i = 0; i < count; ++i) {
        CanMessage m{};
        driver.sentFrame(bus.c_str(), i, &m);
        frames.push_back(m);
    }
    return frames;
}

uint8_t StackFixture::setState(uint8_t state) {
    canopen::StackLockGuard lock;
    return canopen::setNodeState(node.get(), state);
}

}  // namespace canopen_test
