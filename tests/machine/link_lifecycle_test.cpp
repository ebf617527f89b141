// The machine link around its edges: requests that complete inside their start, a client that
// goes while a request runs, identification after a failed connection, and the data that host
// and stack threads share.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "fake_clock.h"
#include "host_session.h"
#include "inline_client.h"
#include "machine_link/orbel_callbacks.h"
#include "machine_link/orbel_commdiag.h"
#include "machine_link/orbel_reconnect.h"
#include "orbel_conv/orbel_conv.h"
#include "orbel_dll/orbel_dll.h"

namespace {

using orbeltest::exchange;
using orbeltest::FakeClient;
using orbeltest::InlineClient;
using Bytes = std::vector<uint8_t>;

uint8_t state(const Bytes& answer) { return answer.size() > 3 ? answer[3] : 0xEE; }
Bytes ask(uint8_t command) { return exchange({0xAA, 0x03, command, 0x00, 0x00}).answer; }

void init() {
    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
}

size_t count(const FakeClient& client, const std::string& op) {
    size_t n = 0;
    for (const auto& c : client.calls) n += c.op == op;
    return n;
}

template <typename Client>
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ORBEL_CommDiag::setClientForTesting(&client);
        clock.setWaitHook([] {});  // the machine's restart time passes at once
        init();
        conv = ORBEL_Conv::getInstance();
    }
    void TearDown() override {
        ORBEL_DllDeInit();
        ORBEL_CommDiag::setClientForTesting(nullptr);
    }

    test_support::FakeClock clock;
    Client client;
    ORBEL_Conv* conv = nullptr;
};

using BusyBeforeStart = LinkTest<InlineClient>;
using LinkLifecycle = LinkTest<FakeClient>;

// Every start path of the handlers: the completion inside the start sets idle, and marking busy
// after the start would overwrite it and leave the host polling for ever.
TEST_F(BusyBeforeStart, HandlersEndIdleWhenTheirRequestCompletesInsideTheStart) {
    EXPECT_EQ(state(ask(0xE6)), 2) << "connection (and its mode read) started";
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_TRUE(conv->isConnected());
    EXPECT_EQ(state(ask(0xE6)), 2) << "serial number read started";
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(state(ask(0xE6)), 1);

    EXPECT_EQ(state(ask(0xFA)), 2) << "version read started";
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(state(ask(0xFA)), 2) << "type read started";
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(state(ask(0xFA)), 1);
    const Bytes id = ask(0xFB);
    ASSERT_EQ(id.size(), 26u);
    EXPECT_EQ(id[7], 0x0C) << "crane";
    EXPECT_EQ(id[8], 0x12) << "version 1.2";

    // A refused start: failed, and error rather than busy.
    client.nextResult = 18;
    conv->resetMachineState();
    EXPECT_EQ(state(ask(0xE6)), 3);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kError);
}

// Every start path of the callbacks and the mode requests.
TEST_F(BusyBeforeStart, CallbacksAndModeRequestsEndIdleWhenTheFollowUpCompletesInsideTheStart) {
    StartConnection_callback(0);  // mode read; the mode is kept
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(count(client, "ReadMachineMode"), 1u);

    ASSERT_TRUE(conv->setMachineMode(0x02));  // read, then write
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(count(client, "WriteMachineMode"), 1u);

    conv->setModuleModeObjectUsed();
    ASSERT_TRUE(conv->setMachineMode(0x40));  // module mode: read, then write
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    EXPECT_EQ(count(client, "WriteModuleMode"), 1u);

    // A close connects again; the new connection completes inside its start too.
    conv->setBusy();
    ASSERT_EQ(ORBEL_CommDiag::CloseConnection(), 0);
    ORBEL_FinishReconnectForTesting();
    EXPECT_EQ(count(client, "StartConnection"), 1u);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
}

// The feature number is current before its read starts, so each value lands in its own row.
TEST_F(BusyBeforeStart, SensorReadsCompletingInsideTheirStartStoreEachValueInItsOwnRow) {
    conv->setMachineType({1, 5, 0});  // crane
    conv->setBusy();
    EXPECT_EQ(conv->startSensorReq(256, 22), 2);
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
    const FeatureRequestMap& rows = conv->getFeatureRequests();
    ASSERT_EQ(rows.size(), 15u);
    EXPECT_EQ(count(client, "ReadInput") + count(client, "ReadMeasurement"), rows.size());
    for (const auto& entry : rows) {
        const FeatureRequest& row = entry.second;
        if (row.bitShift > 0) continue;  // shifted rows collect bits of several reads
        const int want = 100 + row.canSubIndex;
        switch (row.valueType) {
            case 1: EXPECT_EQ(row.valueU8, want) << entry.first; break;
            case 2: EXPECT_EQ(row.valueU16, want) << entry.first; break;
            case 3: EXPECT_EQ(row.valueU32, static_cast<uint32_t>(want)) << entry.first; break;
            case 4: EXPECT_EQ(row.valueI8, static_cast<int8_t>(want)) << entry.first; break;
            case 5: EXPECT_EQ(row.valueI16, want) << entry.first; break;
            case 6: EXPECT_EQ(row.valueI32, want) << entry.first; break;
            default: EXPECT_EQ(row.valueFloat, static_cast<float>(want)) << entry.first; break;
        }
    }
}

// A de-init while a request runs: the client that goes never reports it, so the converter
// leaves busy itself, and the next session is served.
TEST_F(LinkLifecycle, DeInitWithARequestInFlightLeavesTheNextSessionIdle) {
    conv->setConnected();
    EXPECT_EQ(state(ask(0xFA)), 2);
    ASSERT_EQ(client.last().op, "ReadSwVersion");
    ASSERT_TRUE(conv->isBusy());
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    init();
    EXPECT_FALSE(conv->isBusy());
    EXPECT_EQ(state(ask(0xE6)), 2);
    EXPECT_EQ(client.last().op, "StartConnection");
}

// The host's mode request belonged to the session: a new session keeps the machine's mode.
TEST_F(LinkLifecycle, DeInitForgetsTheHostsModeRequest) {
    ASSERT_TRUE(conv->setMachineMode(0x02));
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    init();
    StartConnection_callback(0);
    ASSERT_EQ(client.last().op, "ReadMachineMode");
    uint32_t mode = 0;
    client.last().element(0, 3, 1, &mode);
    EXPECT_EQ(count(client, "WriteMachineMode"), 0u) << "normal operation kept, not the old session's parameter mode";
    EXPECT_EQ(conv->getState(), ORBEL_Conv::kIdle);
}

// Answers the type read the last 0xFA started.
void completeTypeRead(FakeClient& client, CommDiag::MachineTypeRecord delivered) {
    ASSERT_EQ(client.last().op, "ReadMachineType");
    auto* record = static_cast<CommDiag::MachineTypeRecord*>(client.last().data);
    *record = delivered;
    client.last().domain(0, 8, 1, record, sizeof *record);
}

// A failed connection start after an identification: 0xFA identifies again and ends.
TEST_F(LinkLifecycle, IdentificationEndsAfterAFailedConnectionStart) {
    conv->setConnected();
    const uint8_t version[3] = {0, 1, 2};
    conv->storeSwVersion(version);
    conv->setMachineType({7, 5, 0});
    ASSERT_EQ(state(ask(0xFA)), 1);
    StartConnection_callback(32);  // the machine was off
    ASSERT_TRUE(conv->isError());
    conv->setConnected();  // it came back
    conv->setIdle();
    EXPECT_EQ(state(ask(0xFA)), 2);
    ASSERT_EQ(client.last().op, "ReadSwVersion");
    client.last().domain(0, 8, 1, client.last().data, 3);
    EXPECT_EQ(state(ask(0xFA)), 2);
    completeTypeRead(client, {7, 5, 0});  // the same machine
    EXPECT_EQ(state(ask(0xFA)), 1);
    EXPECT_TRUE(conv->isMachineIdentified());
    EXPECT_EQ(ask(0xFB)[7], 0x0C);
}

// A machine number no model knows, or a first record of type 0: 0xFA ends once the type is
// read, and 0xFB says unknown.
TEST_F(LinkLifecycle, UnknownMachinesEndTheIdentification) {
    const uint8_t version[3] = {0, 1, 2};
    const CommDiag::MachineTypeRecord records[] = {{0, 5, 0}, {8, 7, 0}, {9, 8, 0}, {11, 10, 0}, {12, 200, 0}};
    for (const auto& delivered : records) {
        SCOPED_TRACE(delivered.machineNumber);
        conv->resetMachineState();
        conv->setConnected();
        conv->storeSwVersion(version);
        EXPECT_EQ(state(ask(0xFA)), 2);
        completeTypeRead(client, delivered);
        EXPECT_EQ(state(ask(0xFA)), 1);
        EXPECT_FALSE(conv->isMachineIdentified());
        if (delivered.machineType == 0) continue;  // no model chosen: the number is only stored
        const Bytes id = ask(0xFB);
        ASSERT_EQ(id.size(), 26u);
        EXPECT_EQ(id[6], 0x00) << "unknown machine";
        EXPECT_EQ(id[7], 0x00);
    }
}

// The mode written is still there when the write's callback reads it.
TEST_F(LinkLifecycle, ModeWritesHandTheClientStorageThatOutlivesTheRequest) {
    ASSERT_EQ(ORBEL_CommDiag::WriteMachineMode(0x12345678), 0);
    const FakeClient::Call machine = client.last();
    ASSERT_EQ(ORBEL_CommDiag::WriteModuleMode(0x0BADF00D), 0);
    const FakeClient::Call module = client.last();
    uint32_t value = 0;
    std::memcpy(&value, machine.data, sizeof value);
    EXPECT_EQ(value, 0x12345678u);
    std::memcpy(&value, module.data, sizeof value);
    EXPECT_EQ(value, 0x0BADF00Du);
}

// The close's callback waits for the machine's restart on a thread of the link's own, not on
// the stack thread that calls it; a de-init ends that wait without connecting.
TEST_F(LinkLifecycle, ReconnectionWaitsOffTheCallersThreadAndEndsOnDeInit) {
    clock.setWaitHook(nullptr);  // the restart time does not pass by itself
    auto done = std::async(std::launch::async, [] { CloseConnection_callback(0); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the callback must not hold its thread for the machine's restart";
    EXPECT_TRUE(conv->isBusy()) << "busy while the reconnection waits";
    EXPECT_EQ(count(client, "StartConnection"), 0u);
    // The wait ends at once: the de-init and the reconnect thread's end take nowhere near the
    // held wait's limit (a wait that went on would keep the thread past the test hook's 5 s join).
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    ORBEL_FinishReconnectForTesting();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(count(client, "StartConnection"), 0u) << "no connection for a client that is gone";
    EXPECT_FALSE(conv->isBusy());
}

// Without a client (none yet, or de-initialised) a request from any thread is refused, and
// creates none: only the host's byte stream does, with the port of the last init.
TEST(LinkClient, RequestsWithoutAClientAreRefusedAndCreateNone) {
    init();
    ASSERT_EQ(ORBEL_DllDeInit(), ORBEL_OK);
    int32_t result = 0;
    std::thread stackThread([&] { result = ORBEL_CommDiag::StartConnection(); });
    stackThread.join();
    EXPECT_NE(result, 0);
    EXPECT_EQ(ORBEL_CommDiag::currentClient(), nullptr);
    EXPECT_NE(ORBEL_CommDiag::ReadMachineType(), 0);
    EXPECT_EQ(ORBEL_CommDiag::currentClient(), nullptr);
    uint8_t revision[3];
    EXPECT_EQ(ORBEL_ConvGetSWRevision(3, revision), ORBEL_FAILURE);
    EXPECT_EQ(ORBEL_ConvClearParameterList(), ORBEL_OK);
    EXPECT_EQ(ORBEL_CommDiag::currentClient(), nullptr);
}

// The version bytes are written by a stack thread while the host may read them.
TEST_F(LinkLifecycle, VersionReadsSeeWholeVersions) {
    conv->setConnected();
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const uint8_t a[3] = {1, 1, 1};
        const uint8_t b[3] = {2, 2, 2};
        for (int i = 0; !stop.load(); ++i) conv->storeSwVersion(i % 2 ? a : b);
    });
    for (int i = 0; i < 20000; ++i) {
        uint8_t revision[3] = {};
        ASSERT_EQ(ORBEL_ConvGetSWRevision(3, revision), ORBEL_OK);
        ASSERT_TRUE(revision[0] == revision[1] && revision[1] == revision[2]) << i;
    }
    stop.store(true);
    writer.join();
}

}  // namespace
