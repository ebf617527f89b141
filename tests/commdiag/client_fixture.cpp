#include "client_fixture.h"

#include "commdiag/log.h"

namespace CommDiag::test {

void ClientFixture::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    callbacks.reset();
    log::setLevel(0);
    ASSERT_TRUE(bus.open(std::string(info->test_suite_name()) + "." + info->name()));
}

void ClientFixture::TearDown() {
    factory.DestroyClient();
    pollingMachine = nullptr;
    log::setLevel(0);
}

void ClientFixture::createClient(bool sm) {
    client = sm ? factory.CreateSMClient(bus.name, "500K", TESTCAN_PATH, 1, 10)
                : factory.CreateTCUClient(bus.name, "500K", TESTCAN_PATH, 2, 10);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(client->Init());
    const uint16_t bootUp = sm ? 0x701 : 0x702;
    ASSERT_TRUE(machine.serve([&] {
        for (const CanMessage& m : bus.sent())
            if (m.cobId == bootUp && m.len == 1 && m.data[0] == 0) return true;
        return false;
    })) << "the local node did not boot";
}

std::atomic<MachineNode*> ClientFixture::pollingMachine{nullptr};
std::atomic<int> ClientFixture::polls{0};

void ClientFixture::usePollSeam() {
    polls = 0;
    pollingMachine = &machine;
    clock.setWaitHook([] {
        ++polls;
        if (MachineNode* machine = pollingMachine.load()) machine->serveSent();
    });
}

int ClientFixture::connectByPolls(int timeoutMs, unsigned char tcu, unsigned char sm) {
    pollingMachine = &machine;
    const size_t before = callbacks.connectionCount();
    EXPECT_EQ(client->StartConnection(tcu, sm, timeoutMs, Callbacks::connection), RESULT_OK);
    EXPECT_TRUE(callbacks.waitForConnections(before + 1));
    // The procedure's thread polls no more once it has called back.
    pollingMachine = nullptr;
    machine.serveSent();
    auto results = callbacks.connections();
    return results.size() > before ? results[before] : -1;
}

bool ClientFixture::awaitRequests(size_t count, unsigned timeoutMs) {
    return machine.serve([&] { return callbacks.requestCount() >= count; }, timeoutMs);
}

std::vector<CanMessage> ClientFixture::sdoRequests(size_t from) const {
    std::vector<CanMessage> frames;
    for (const CanMessage& m : bus.sent())
        if (m.cobId == 0x60A) frames.push_back(m);
    if (from >= frames.size()) return {};
    return std::vector<CanMessage>(frames.begin() + static_cast<long>(from), frames.end());
}

std::string ClientFixture::captureStdout(const std::function<void()>& action) {
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

}  // namespace CommDiag::test
