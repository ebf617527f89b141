#include <gtest/gtest.h>

#include <unistd.h>

#include "options.h"

namespace msim {
namespace {

bool parse(std::vector<std::string> args, CommandLine& cl, std::string& error) {
    CLI::App app{"machine-sim"};
    addOptions(app, cl);
    std::vector<std::string> rev(args.rbegin(), args.rend());
    try {
        app.parse(rev);
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    return finishOptions(cl, "", error);
}

TEST(Options, AbortRulesAndObjectReferences) {
    auto r = parseAbortRule("0x5401:1=0x08000024");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->index, 0x5401);
    EXPECT_EQ(*r->sub, 1);
    EXPECT_EQ(r->code, 0x08000024u);
    EXPECT_EQ(r->times, 0u) << "every access";
    r = parseAbortRule("0x2000=0x06020000");
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->sub);
    r = parseAbortRule("0x5408:1=0x08000020*3");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 0x08000020u);
    EXPECT_EQ(r->times, 3u);
    for (const char* bad : {"0x2000", "0x2000=", "=0x06020000", "0x12345=1", "0x2000:256=1", "0x2000=0", "0x2000=-1",
                            "0x2000:x=1", "0x2000=1*", "0x2000=1*0", "0x2000=1*x", "0x2000*2=1"})
        EXPECT_FALSE(parseAbortRule(bad)) << bad;
}

TEST(Options, FlashedValues) {
    auto v = parseFlashedValue("0x5401:1=070301");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->index, 0x5401);
    EXPECT_EQ(v->sub, 1);
    EXPECT_EQ(v->bytes, (std::vector<uint8_t>{7, 3, 1}));
    for (const char* bad : {"0x5401:1", "0x5401:1=", "0x5401:1=0", "0x5401:1=0x07", "0x5401:1=0g", "=07", "x=07"})
        EXPECT_FALSE(parseFlashedValue(bad)) << bad;
}

TEST(Options, ModelsAreFoundByNameNumberAndFileName) {
    for (const char* m : {"crane", "5", "crane.eds"}) {
        auto p = findModel(m, MODELS_DIR, "");
        ASSERT_TRUE(p) << m;
        EXPECT_EQ(*p, std::string(MODELS_DIR) + "/crane.eds");
    }
    EXPECT_EQ(*findModel("2", MODELS_DIR, ""), std::string(MODELS_DIR) + "/wren-2.eds");
    EXPECT_FALSE(findModel("7", "/nonexistent", ""));
}

TEST(Options, CommandLineFillsTheConfiguration) {
    CommandLine cl;
    std::string error;
    ASSERT_TRUE(parse({"--models-dir",
                       MODELS_DIR,
                       "-m",
                       "kestrel",
                       "-n",
                       "12",
                       "--line-timing",
                       "--drop-every",
                       "5",
                       "--drop-direction",
                       "to-host",
                       "--abort",
                       "0x5401:1=0x08000024",
                       "--reboot-in-transfer",
                       "0x1F50:1",
                       "--silent-after-ms",
                       "2000",
                       "--delay-answers-ms",
                       "30",
                       "-q"},
                      cl, error))
        << error;
    const SimConfig& c = cl.config;
    EXPECT_EQ(c.edsPath, std::string(MODELS_DIR) + "/kestrel.eds");
    EXPECT_EQ(c.node.nodeId, 12);
    EXPECT_TRUE(c.adapter.lineTiming);
    EXPECT_EQ(c.adapter.faults.dropEvery, 5u);
    EXPECT_EQ(c.adapter.faults.dropDirection, FaultConfig::Direction::ToHost);
    ASSERT_EQ(c.node.aborts.size(), 1u);
    EXPECT_EQ(c.node.rebootInTransfer->index, 0x1F50);
    EXPECT_EQ(*c.adapter.faults.silentAfter, Millis(2000));
    EXPECT_EQ(c.adapter.faults.delayAnswers, Millis(30));
    EXPECT_EQ(c.verbosity, 0);
}

TEST(Options, ErrorEntriesFromFileAndCommandLine) {
    char path[] = "/tmp/msim-errors-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string text = "# id:minutes\r\n0x1234:125\n\n 17 : 65535 : 2 \n";
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
    CommandLine cl;
    std::string error;
    const bool parsed = parse({"--models-dir", MODELS_DIR, "--errors-file", path, "--error", "5"}, cl, error);
    ::unlink(path);
    ASSERT_TRUE(parsed) << error;
    const auto& entries = *cl.config.node.errorEntries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].id, 0x1234u);
    EXPECT_EQ(entries[1].minutes, 65535);
    EXPECT_EQ(entries[1].counter, 2);
    EXPECT_EQ(entries[2].id, 5u);

    CommandLine none;
    ASSERT_TRUE(parse({"--models-dir", MODELS_DIR, "--no-errors"}, none, error)) << error;
    EXPECT_TRUE(none.config.node.errorEntries->empty());
    CommandLine model;
    ASSERT_TRUE(parse({"--models-dir", MODELS_DIR}, model, error)) << error;
    EXPECT_FALSE(model.config.node.errorEntries) << "the model's entries stay";
}

TEST(Options, BadValuesAreRefusedWithAMessage) {
    for (std::vector<std::string> args : {std::vector<std::string>{"-n", "0"},
                                          {"-n", "128"},
                                          {"--drop-share", "1.5"},
                                          {"--abort", "nonsense"},
                                          {"--reboot-in-transfer", "0xZZ"},
                                          {"-m", "no-such-model", "--models-dir", MODELS_DIR},
                                          {"-m", "crane", "-e", "x.eds"},
                                          {"--drop-direction", "sideways"},
                                          {"--error", "1:2:3:4"},
                                          {"--errors-file", "/nonexistent/errors"}}) {
        CommandLine cl;
        std::string error;
        EXPECT_FALSE(parse(args, cl, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace msim
