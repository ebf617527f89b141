#pragma once
// The start-up the end-to-end tests share: machine-sim on a fresh pty, serican's COM1 and the
// converter's CAN driver pointed at it, then a converter session on COM1. Both end with the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_session.h"
#include "machine_sim_process.h"
#include "orbel_dll/orbel_dll.h"

namespace orbeltest {

class MachineSimTest : public ::testing::Test {
protected:
    void TearDown() override { stopSession(); }

    // Starts machine-sim with `args` and points the converter at it; no session yet.
    void startSim(const std::vector<std::string>& args) {
        std::string error;
        ASSERT_TRUE(sim.start(args, error)) << error;
        sim.serveCom1();
    }
    // Starts machine-sim and opens a converter session on it.
    void startSession(const std::vector<std::string>& args) {
        ASSERT_NO_FATAL_FAILURE(startSim(args));
        ASSERT_EQ(initOnCom1(), ORBEL_OK);
    }
    // Ends the session, then machine-sim; its exit status (-1 when it had to be killed).
    int stopSession() {
        ORBEL_DllDeInit();
        return sim.stop();
    }

    MachineSimProcess sim;
};

}  // namespace orbeltest
