#include "commdiag/client_sm.h"
#include "commdiag/client_tcu.h"
#include "commdiag/commdiag_factory.h"
#include "commdiag/library_state.h"
#include "commdiag/log.h"

#include "canopen/node_data.h"
#include "canopen/object_dictionary.h"

#include <gtest/gtest.h>

namespace CommDiag {
namespace {

class Factory : public ::testing::Test {
protected:
    void TearDown() override { log::setLevel(0); }
    IClient* createSM() { return factory.CreateSMClient("3", "500K", "no-such-driver", 1, 10); }

    CommDiagFactory factory;
};

TEST_F(Factory, HoldsOneClientAtATime) {
    IClient* sm = createSM();
    ASSERT_NE(sm, nullptr);
    EXPECT_NE(dynamic_cast<ClientSM*>(sm), nullptr);
    EXPECT_EQ(factory.CreateTCUClient("3", "500K", "no-such-driver", 1, 10), nullptr);
    EXPECT_EQ(factory.CreateSMClient("4", "250K", "other", 2, 11), nullptr);
    EXPECT_EQ(factory.GetClient(), sm);
    EXPECT_EQ(sm->GetNodeId(), 10);
}

TEST_F(Factory, DestroyClientEmptiesTheFactoryAndIsHarmlessTwice) {
    factory.DestroyClient();
    ASSERT_NE(createSM(), nullptr);
    factory.DestroyClient();
    EXPECT_EQ(factory.GetClient(), nullptr);
    factory.DestroyClient();
    IClient* tcu = factory.CreateTCUClient("3", "500K", "no-such-driver", 1, 10);
    ASSERT_NE(tcu, nullptr);
    EXPECT_NE(dynamic_cast<ClientTCU*>(tcu), nullptr);
}

TEST_F(Factory, CurrentClientFollowsConstructionAndDestruction) {
    IClient* sm = createSM();
    EXPECT_EQ(detail::libraryState().currentClient.load(), dynamic_cast<Client*>(sm));
    factory.DestroyClient();
    EXPECT_EQ(detail::libraryState().currentClient.load(), nullptr)
        << "the stack hooks must not reach a destroyed client";
}

TEST_F(Factory, VersionIsOneThreeOneWhateverTheState) {
    IClient* sm = createSM();
    Version version = sm->GetVersion();
    EXPECT_EQ(version.major, 1);
    EXPECT_EQ(version.minorPatch, 0x0301);
    EXPECT_FALSE(sm->Init());
    version = sm->GetVersion();
    EXPECT_EQ(version.major, 1);
    EXPECT_EQ(version.minorPatch, 0x0301);
}

TEST_F(Factory, ConstructionPublishesTheRevisionInTheLocalDictionary) {
    createSM();
    uint32_t revision = 0;
    uint32_t size = sizeof revision;
    uint8_t type = 0;
    EXPECT_EQ(canopen::readLocalObject(&detail::localNode(), 0x1018, 3, &revision, &size, &type, false), 0u);
    EXPECT_EQ(revision, 0x01030100u);
}

TEST_F(Factory, ConstructionLogsByLevel) {
    ::testing::internal::CaptureStdout();
    createSM();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    factory.DestroyClient();

    log::setLevel(1);
    ::testing::internal::CaptureStdout();
    createSM();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Stack Version: V1.3.1\n");
    factory.DestroyClient();

    log::setLevel(10);
    ::testing::internal::CaptureStdout();
    createSM();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Size of OD: 1024KB\nStack Version: V1.3.1\n");
}

TEST_F(Factory, LogLevelIsLibraryWideAndOutlivesTheClient) {
    IClient* sm = createSM();
    sm->SetLogLevel(5);
    factory.DestroyClient();
    EXPECT_EQ(log::level(), 5);
}

}  // namespace
}  // namespace CommDiag
