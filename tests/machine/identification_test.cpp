// Identification after a failed connection start: the machine state is reset, and the next
// identification must end, with the model chosen again, even though the machine reports the
// same type as before.
#include <gtest/gtest.h>

#include "fake_client.h"
#include "host_session.h"
#include "machine_link/orbel_commdiag.h"
#include "orbel_conv/orbel_conv.h"

namespace {

using orbeltest::exchange;

TEST(Identification, AfterAResetTheSameTypeIdentifiesTheMachineAgain) {
    orbeltest::FakeClient client;
    ORBEL_CommDiag::setClientForTesting(&client);
    char port[] = "\\\\.\\COM1";
    ASSERT_EQ(ORBEL_DllInit(port), ORBEL_OK);
    ORBEL_Conv* conv = ORBEL_Conv::getInstance();
    conv->setMachineType({1, 5, 0});
    ASSERT_TRUE(conv->isMachineIdentified());
    conv->resetMachineState();
    EXPECT_FALSE(conv->isMachineIdentified());
    conv->setConnected();

    auto identify = [&] { return exchange({0xAA, 0x03, 0xFA, 0x00, 0x00}).answer.at(3); };
    EXPECT_EQ(identify(), 2);
    ASSERT_EQ(client.last().op, "ReadSwVersion");
    client.last().domain(0, 8, 1, client.last().data, 3);
    EXPECT_EQ(identify(), 2);
    ASSERT_EQ(client.last().op, "ReadMachineType");
    auto* type = static_cast<CommDiag::MachineTypeRecord*>(client.last().data);
    type->machineType = 1;
    type->machineNumber = 5;
    client.last().domain(0, 8, 1, client.last().data, 12);
    EXPECT_EQ(identify(), 1) << "identified again, no further read";
    EXPECT_TRUE(conv->isMachineIdentified());
    EXPECT_EQ(conv->getParameterAddrMin(), 16u) << "the Crane model is in use";

    ORBEL_DllDeInit();
    ORBEL_CommDiag::setClientForTesting(nullptr);
}

}  // namespace
