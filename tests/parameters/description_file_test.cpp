// The parameter description file: field splitting with the quote rule, what is loaded and what
// is skipped, and files a technician may hand over by mistake.
#include <gtest/gtest.h>

#if defined(__linux__)
#include <dirent.h>
#endif

#include <random>

#include "fake_parameter_link.h"
#include "parameters/orbel_parameterhandler.h"
#include "parameters/orbel_parameterlist.h"
#include "temp_dir.h"

namespace {

using orbeltest::FakeParameterLink;
using orbeltest::TempDir;

std::string line(const std::string& number, const std::string& name, const std::string& type, const std::string& object,
                 const std::string& sub) {
    return number + ";" + name + ";" + type + ";a;b;c;d;e;f;g;h;i;" + object + ";" + sub;
}

// Open file descriptors of this process (Linux; elsewhere 0, and the check passes trivially).
int openDescriptors() {
    int count = 0;
#if defined(__linux__)
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d) != nullptr) ++count;
        ::closedir(d);
    }
#endif
    return count;
}

TEST(SplitParameterLine, QuotedFieldsKeepTheirSeparatorsAndNeverRunPastTheLine) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitParameterLine("1;ab;3"), (V{"1", "ab", "3"}));
    EXPECT_EQ(SplitParameterLine("1;\"a;b\";3"), (V{"1", "\"a;b\"", "3"}));
    EXPECT_EQ(SplitParameterLine("a;\"b;c\""), (V{"a", "\"b;c\""})) << "closing quote is the line's last character";
    EXPECT_EQ(SplitParameterLine("\"a;b\";"), (V{"\"a;b\"", ""}));
    EXPECT_EQ(SplitParameterLine("1;\"open;2;3"), (V{"1", "\"open", "2", "3"})) << "an unclosed quote does not join";
    EXPECT_EQ(SplitParameterLine("1;x\"a;b\";3"), (V{"1", "x\"a;b\"", "3"})) << "quote after the field's start";
    EXPECT_EQ(SplitParameterLine("1;ab;\"c"), (V{"1", "ab", "\"c"}));
    EXPECT_EQ(SplitParameterLine(""), (V{""}));
    EXPECT_EQ(SplitParameterLine("\""), (V{"\""}));
}

TEST(ParseDescriptionNumber, ReadsLikeTheCLibrary) {
    EXPECT_EQ(ParseDescriptionNumber("  42abc"), 42);
    EXPECT_EQ(ParseDescriptionNumber("-7"), -7);
    EXPECT_EQ(ParseDescriptionNumber("+12289"), 12289);
    EXPECT_EQ(ParseDescriptionNumber("x1"), 0);
    EXPECT_EQ(ParseDescriptionNumber(""), 0);
    EXPECT_GT(ParseDescriptionNumber("99999999999999999999999"), 0xFFFF) << "saturates instead of wrapping";
}

class DescriptionFile : public ::testing::Test {
protected:
    FakeParameterLink link;
    ORBEL_ParameterHandler handler{link, link};
    TempDir dir;
};

TEST_F(DescriptionFile, LoadsFourteenFieldLinesAndSkipsTheRestLaterDuplicateWinning) {
    const std::string content = line("5", "Speed", "3", "12289", "2") + "\n" +  // 2 bytes at 21, 0x3001/2
                                line("6", "\"Name;with;semicolons\"", "1", "12288", "3") +
                                "\n" +                                               // quoted name, one field
                                "1;thirteen;1;a;b;c;d;e;f;g;h;12288;1\n" +           // 13 fields
                                "2;fifteen;1;a;b;c;d;e;f;g;h;i;j;12288;1\n" +        // 15 fields
                                line("3", "Float", "7", "12294", "1") + "\n" +       // type code 7
                                line("0", "Type0", "0", "12288", "1") + "\n" +       // type code 0
                                line("70000", "Far", "1", "12288", "1") + "\n" +     // address beyond 16 bits
                                line("-17", "Negative", "1", "12288", "1") + "\n" +  // address below 0
                                line("8", "First", "1", "12288", "4") + "\n" +
                                line("8", "Second", "5", "12290", "300") + "\n" +  // duplicate of 8: wins
                                "\n" +                                             // empty line
                                line("9", "NoLineEnd", "2", "12288", "9");         // last line, no LF
    ASSERT_TRUE(handler.AddParameterDescription(dir.file("a.txt", content).c_str(), 0));

    EXPECT_EQ(handler.parameterCount(0), 4u);
    EXPECT_EQ(handler.GetParamByteCount(21), 2u);
    EXPECT_EQ(handler.GetParamByteCount(22), 1u);
    EXPECT_EQ(handler.GetParamByteCount(24), 4u) << "the later definition of 24 (type 5) wins";
    EXPECT_EQ(handler.GetParamByteCount(25), 1u);
    for (uint32_t skipped : {17u, 18u, 19u, 16u}) EXPECT_FALSE(handler.hasParameter(0, skipped)) << skipped;

    // The loaded objects and sub-indices show in what a read asks of the machine.
    int32_t result = -1;
    ASSERT_TRUE(handler.StartParameterReadRequest(&result, 21, 5));
    while (handler.RunReadRequest(&result, 0)) {
    }
    ASSERT_EQ(link.requests.size(), 4u);
    EXPECT_EQ(link.requests[0].type, 2);
    EXPECT_EQ(link.requests[0].sub, 2u);
    EXPECT_EQ(link.requests[1].type, 1);
    EXPECT_EQ(link.requests[1].sub, 3u);
    EXPECT_EQ(link.requests[2].type, 3) << "0x3002";
    EXPECT_EQ(link.requests[2].sub, 300u & 0xFF) << "sub-index: its low 8 bits";
    EXPECT_EQ(link.requests[3].sub, 9u);
}

TEST_F(DescriptionFile, CrLfLineEndsReadAsTheSameFile) {
    std::string lf, crlf;
    for (int i = 0; i < 20; ++i) {
        const std::string l = line(std::to_string(i * 2), "\"P;" + std::to_string(i) + "\"", std::to_string(1 + i % 6),
                                   std::to_string(12288 + i % 6), std::to_string(i));
        lf += l + "\n";
        crlf += l + "\r\n";
    }
    ORBEL_ParameterHandler other{link, link};
    ASSERT_TRUE(handler.AddParameterDescription(dir.file("lf.txt", lf).c_str(), 0));
    ASSERT_TRUE(other.AddParameterDescription(dir.file("crlf.txt", crlf).c_str(), 0));
    ASSERT_EQ(handler.parameterCount(0), 20u);
    EXPECT_EQ(other.parameterCount(0), 20u);
    for (uint32_t a = 16; a < 60; ++a) EXPECT_EQ(handler.GetParamByteCount(a), other.GetParamByteCount(a)) << a;
}

TEST_F(DescriptionFile, BadFilesLeaveWhatLoadedLoadedAndAreClosedAfterReading) {
    ASSERT_TRUE(handler.AddParameterDescription(dir.file("good.txt", line("1", "Kept", "1", "12288", "1")).c_str(), 0));
    const int descriptors = openDescriptors();

    EXPECT_FALSE(handler.AddParameterDescription((dir.path() + "/missing.txt").c_str(), 0));
    EXPECT_FALSE(handler.AddParameterDescription(dir.path().c_str(), 0)) << "a folder is no file";
    EXPECT_TRUE(handler.AddParameterDescription(dir.file("empty.txt", "").c_str(), 0));

    std::mt19937 random(7);
    std::string binary(64 * 1024, '\0');
    for (auto& c : binary) c = static_cast<char>(random());
    EXPECT_TRUE(handler.AddParameterDescription(dir.file("binary.bin", binary).c_str(), 0));

    std::string huge;
    for (int i = 0; i < 100000; ++i) huge += line(std::to_string(i % 50000), "H", "1", "12288", "1") + "\n";
    EXPECT_TRUE(handler.AddParameterDescription(dir.file("huge.txt", huge).c_str(), 3));
    EXPECT_EQ(handler.parameterCount(3), 50000u);

    EXPECT_TRUE(handler.hasParameter(0, 17)) << "the first file's parameter is still there";
    EXPECT_EQ(openDescriptors(), descriptors) << "every file was closed";

    handler.ClearParameterList();
    EXPECT_EQ(handler.parameterCount(0), 0u);
    EXPECT_EQ(handler.parameterCount(3), 0u);
}

}  // namespace
