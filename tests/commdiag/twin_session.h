#pragma once
// The client against the machine twin end to end: the real serican driver on a pseudo-
// terminal that machine-sim serves, real time, real threads. The twin's record (its bus
// events, the transfers it served and its final objects) shows what reached the machine.
#include "callbacks.h"
#include "machine_sim_process.h"

#include "commdiag/commdiag_factory.h"
#include "commdiag/log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace CommDiag::test {

namespace fs = std::filesystem;
using Json = nlohmann::json;

inline constexpr const char* kComPort = "7";

// machine-sim as a child process, with its record and log in a scratch folder; stopped at the
// latest when the test ends.
class Twin {
public:
    explicit Twin(std::vector<std::string> args) {
        std::string pattern = ::testing::TempDir() + "/commdiag-twin-XXXXXX";
        dir_ = ::mkdtemp(pattern.data());
        args.insert(args.end(), {"--record", (dir_ / "record.json").string(), "--out-dir", dir_.string()});
        std::string error;
        EXPECT_TRUE(process_.start(args, error, (dir_ / "stderr.log").string())) << error;
    }
    ~Twin() {
        process_.stop();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    const std::string& pty() const { return process_.ptyPath(); }
    const fs::path& dir() const { return dir_; }

    // Waits until the twin's log (its standard error) holds the text.
    bool logged(const std::string& text, int timeoutMs = 5000) const { return loggedTimes(text, 1, timeoutMs); }
    // Waits until the twin's log holds the text `times` times.
    bool loggedTimes(const std::string& text, int times, int timeoutMs = 5000) const {
        return waitUntil(
            [&] {
                std::ifstream in(dir_ / "stderr.log");
                std::stringstream log;
                log << in.rdbuf();
                const std::string all = log.str();
                int found = 0;
                for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++found;
                return found >= times;
            },
            timeoutMs);
    }

    // Ends the twin and reads its record.
    Json stop() {
        EXPECT_EQ(process_.stop(), 0);
        std::ifstream in(dir_ / "record.json");
        std::stringstream text;
        text << in.rdbuf();
        return Json::parse(text.str(), nullptr, false);
    }

private:
    fs::path dir_;
    orbeltest::MachineSimProcess process_;
};

inline int count(const Json& record, const std::string& kind, const std::string& text) {
    int n = 0;
    for (const Json& event : record["events"])
        if (event["kind"] == kind && event["text"].get<std::string>().find(text) != std::string::npos) ++n;
    return n;
}

// The data the twin was given in writes of an object, in order.
inline std::vector<std::string> writesTo(const Json& record, int index, int sub) {
    std::vector<std::string> data;
    for (const Json& sdo : record["sdo"])
        if (sdo["op"] == "write" && sdo["index"] == index && sdo["sub"] == sub) data.push_back(sdo["data"]);
    return data;
}

inline bool driverMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    const std::string name = fs::path(SERICAN_PATH).filename().string();
    while (std::getline(maps, line))
        if (line.find(name) != std::string::npos) return true;
    return false;
}

class TwinSession : public ::testing::Test {
protected:
    void TearDown() override {
        factory.DestroyClient();
        log::setLevel(0);
    }

    void startTwin(std::vector<std::string> args) {
        twin = std::make_unique<Twin>(std::move(args));
        ASSERT_FALSE(twin->pty().empty()) << "machine-sim gave no terminal";
        // Before any thread of the client exists.
        ::setenv((std::string("SERICAN_COM") + kComPort).c_str(), twin->pty().c_str(), 1);
        client = factory.CreateSMClient(kComPort, "500K", SERICAN_PATH, 1, 10);
        ASSERT_NE(client, nullptr);
        ASSERT_TRUE(client->Init());
    }

    int connect(int timeoutMs = 10000) {
        const size_t before = callbacks.connectionCount();
        EXPECT_EQ(client->StartConnection(2, 1, timeoutMs, Callbacks::connection), RESULT_OK);
        EXPECT_TRUE(callbacks.waitForConnections(before + 1, timeoutMs + 5000));
        auto results = callbacks.connections();
        return results.size() > before ? results[before] : -1;
    }

    // Runs one request to its callback; its result, or -1 when it did not start or call back.
    int run(const std::function<int()>& start) {
        const size_t before = callbacks.requestCount();
        const int started = start();
        EXPECT_EQ(started, RESULT_OK);
        if (started != RESULT_OK) return -1;
        EXPECT_TRUE(callbacks.waitForRequests(before + 1, 10000));
        auto all = callbacks.requests();
        return all.size() > before ? all[before].result : -1;
    }

    std::string captureStdout(const std::function<void()>& action) {
        ::testing::internal::CaptureStdout();
        action();
        return ::testing::internal::GetCapturedStdout();
    }

    std::unique_ptr<Twin> twin;
    CommDiagFactory factory;
    IClient* client = nullptr;
    Callbacks& callbacks = Callbacks::instance();
};

}  // namespace CommDiag::test
