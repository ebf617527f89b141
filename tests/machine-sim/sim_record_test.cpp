#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "twin_bench.h"

namespace msim {
namespace {

TEST(SimRecord, JsonHoldsAbortsLongTransfersShortenedAndFinalValues) {
    test::NodeBench b;
    b.ask({0x40, 0x99, 0x59, 0x01, 0, 0, 0, 0});        // no such object
    b.ask({0x2B, 0x01, 0x30, 0x02, 0x34, 0x12, 0, 0});  // parameter write
    SdoTransferReport big;
    big.index = 0x1F50;
    big.sub = 1;
    big.mode = SdoMode::Block;
    big.data.assign(1000, 0xAB);
    b.record.addSdo(big, b.t);
    const auto j =
        nlohmann::json::parse(b.record.toJson(b.node.dictionary(), {"/dev/pts/9", "crane.eds", "Crane", 10}));
    ASSERT_EQ(j["sdo"].size(), 3u);
    EXPECT_EQ(j["sdo"][0]["abort"], "0x06020000");
    EXPECT_EQ(j["sdo"][0]["aborted_by"], "machine");
    EXPECT_EQ(j["sdo"][0]["index"], 0x5999);
    EXPECT_TRUE(j["sdo"][1]["abort"].is_null());
    EXPECT_EQ(j["sdo"][1]["op"], "write");
    EXPECT_EQ(j["sdo"][1]["data"], "3412");
    EXPECT_EQ(j["sdo"][2]["size"], 1000);
    EXPECT_EQ(j["sdo"][2]["data"].get<std::string>().size(), 128u);
    EXPECT_EQ(j["objects"]["3001:02"]["value"], 0x1234);
    EXPECT_EQ(j["objects"]["3003:01"]["value"], -10);
    EXPECT_DOUBLE_EQ(j["objects"]["5206:01"]["value"].get<double>(), 12.699999809265137);
    EXPECT_EQ(j["objects"]["5404:01"]["size"], 13);
    EXPECT_EQ(j["objects"]["1008:00"]["value"], "Crane");
    EXPECT_EQ(j["events"][0]["kind"], "nmt");
    EXPECT_EQ(j["pty"], "/dev/pts/9");
}

TEST(SimRecord, WriteFileReplacesTheRecordWhole) {
    test::NodeBench b;
    const std::string path = ::testing::TempDir() + "/machine-sim-record-test.json";
    std::string error;
    ASSERT_TRUE(b.record.writeFile(path, b.node.dictionary(), {}, error)) << error;
    std::ifstream in(path);
    EXPECT_NO_THROW(nlohmann::json::parse(in));
    std::remove(path.c_str());
    EXPECT_FALSE(b.record.writeFile("/nonexistent/dir/r.json", b.node.dictionary(), {}, error));
    EXPECT_NE(error.find("/nonexistent/dir/r.json"), std::string::npos);
}

}  // namespace
}  // namespace msim
