// These tests exercise the converter's own layers: a fake client stands in for the machine
// link, so no driver is loaded and no port is opened.
#include <gtest/gtest.h>

#include "fake_client.h"
#include "machine_link/orbel_commdiag.h"

namespace {

class FakeMachineLink : public ::testing::Environment {
public:
    void SetUp() override { ORBEL_CommDiag::setClientForTesting(&client_); }
    void TearDown() override { ORBEL_CommDiag::setClientForTesting(nullptr); }

private:
    orbeltest::FakeClient client_;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new FakeMachineLink);

}  // namespace
