// The tool on well-formed object files: what it writes, where, and what it says.

#include <cstdio>

#include "imgbuild_fixture.h"

namespace imgbuild_test {
namespace {

std::vector<std::uint16_t> ramp(std::size_t n, std::uint16_t first) {
    std::vector<std::uint16_t> words(n);
    for (std::size_t i = 0; i < n; ++i) words[i] = static_cast<std::uint16_t>(first + i);
    return words;
}

std::string flashMessage(const std::string& hexPath, const char* start, const char* end) {
    return "Hex program file for flash created: " + hexPath + ", start: " + start + ", end: " + end + " \n";
}

// ---- command line ---------------------------------------------------------------

TEST_F(ImgbuildTest, NoArgumentAsksForAFilename) {
    EXPECT_EQ(runArgs({}), 1);
    EXPECT_EQ(output, "Please enter a filename\n");
}

TEST_F(ImgbuildTest, MissingFileIsNotFound) {
    EXPECT_EQ(run("absent.out"), 1);
    EXPECT_EQ(output, "File not found\n");
    std::filesystem::create_directory(path("folder.out"));
    EXPECT_EQ(run("folder.out"), 1) << "a folder is no object file";
    EXPECT_EQ(output, "File not found\n");
}

TEST_F(ImgbuildTest, FurtherArgumentsAreIgnored) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1111}});
    writeFile("fw.out", writeCoff(obj).bytes);
    EXPECT_EQ(runArgs({path("fw.out"), "extra", "--help"}), 0);
    EXPECT_EQ(output, flashMessage(path("fw.hex"), "3F0000", "3F001F"));
}

TEST_F(ImgbuildTest, UnknownTargetIsWrongMagicAndWritesNothing) {
    CoffContents obj;
    obj.targetId = 0x0093;
    obj.sections.push_back({0x3F0000, {0x1111}});
    EXPECT_EQ(runCoff(obj), 5);
    EXPECT_EQ(output, "Wrong target magic\n");
    EXPECT_EQ(files(), std::vector<std::string>{"fw.out"});
}

// ---- image layout and written length --------------------------------------------

TEST_F(ImgbuildTest, FlashEndingAtIndex31WritesOneBlockOf32Words) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, ramp(4, 0x0100)});
    obj.sections.push_back({0x3F001F, {0xABCD}});
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output, flashMessage(path("fw.hex"), "3F0000", "3F001F"));
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(32).at(0, {0x0100, 0x0101, 0x0102, 0x0103}).at(31, {0xABCD}).bytes);
}

TEST_F(ImgbuildTest, OneWordPastTheBlockWritesTheNextBlockToo) {
    CoffContents obj;
    obj.sections.push_back({0x3F0010, ramp(0x11, 0x2000)});  // last word at 0x3F0020
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output, flashMessage(path("fw.hex"), "3F0000", "3F003F"));
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(64).at(0x10, ramp(0x11, 0x2000)).bytes);
}

TEST_F(ImgbuildTest, TrailingErasedWordsInsideASectionDoNotCount) {
    CoffContents obj;
    std::vector<std::uint16_t> words(40, 0xFFFF);
    words[5] = 0x0000;
    obj.sections.push_back({0x3F0000, words});
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(32).at(5, {0x0000}).bytes);
}

TEST_F(ImgbuildTest, FullFlashRangeOfTarget146) {
    CoffContents obj;
    obj.targetId = 146;
    obj.sections.push_back({0x0000, {0x0A0B}});
    obj.sections.push_back({0x7FFF, {0x0C0D}});
    obj.sections.push_back({0x8400, {0x1234}});  // no RAM range on this target
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output, flashMessage(path("fw.hex"), "000000", "007FFF"));
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(0x8000).at(0, {0x0A0B}).at(0x7FFF, {0x0C0D}).bytes);
}

TEST_F(ImgbuildTest, SectionsAreLaidInByAddressWhateverTheirOrderInTheFile) {
    CoffContents obj;
    obj.sections.push_back({0x3F0040, {0x3333, 0x4444}});
    obj.sections.push_back({0x3F0000, {0x1111}});
    obj.sections.push_back({0x3F0020, {0x2222}});
    obj.optionalHeaderSize = 28;  // section headers then start at 50
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(readFile("fw.hex"),
              ExpectedImage(96).at(0, {0x1111}).at(0x20, {0x2222}).at(0x40, {0x3333, 0x4444}).bytes);
}

TEST_F(ImgbuildTest, RamImageIsWrittenWhenFlashIsEmpty) {
    CoffContents obj;
    obj.sections.push_back({0x8400, {0x5555, 0x6666}});
    obj.sections.push_back({0x8FFF, {0x7777}});
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output, "Hex program file for ram created: " + path("fw.hex") + ", start 8400, end: 8FFF\n");
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(0xC00).at(0, {0x5555, 0x6666}).at(0xBFF, {0x7777}).bytes);
}

TEST_F(ImgbuildTest, FlashWinsWhenBothImagesHoldData) {
    CoffContents obj;
    obj.sections.push_back({0x8400, {0x5555}});
    obj.sections.push_back({0x3F0001, {0x1111}});
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output, flashMessage(path("fw.hex"), "3F0000", "3F001F"));
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(32).at(1, {0x1111}).bytes);
}

TEST_F(ImgbuildTest, NothingToWriteWritesAndPrintsNothing) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0xFFFF, 0xFFFF}});  // erased words only
    obj.sections.push_back({0x9000, {0x1234}});            // just past the RAM range
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output, "");
    EXPECT_EQ(files(), std::vector<std::string>{"fw.out"});
}

TEST_F(ImgbuildTest, SectionsOutsideTheRulesAreLeftOut) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1111}});
    CoffSection page1{0x3F0001, {0x2222}};
    page1.page = 1;
    obj.sections.push_back(page1);
    obj.sections.push_back({0x3F7FF0, ramp(0x11, 0x3000)});  // ends one word past the range
    obj.sections.push_back({0x3EFFFF, {0x4444, 0x4445}});    // starts one word before it
    CoffSection empty{0x3F0002, {0x6666}};
    empty.declaredSize = 0;
    obj.sections.push_back(empty);
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(32).at(0, {0x1111}).bytes);
}

TEST_F(ImgbuildTest, NegativeStartIsLeftOutOfTarget146) {
    CoffContents obj;
    obj.targetId = 146;
    obj.sections.push_back({-16, ramp(0x20, 0x5000)});
    obj.sections.push_back({0x0020, {0x1234}});
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(64).at(0x20, {0x1234}).bytes);
}

// ---- overlap ----------------------------------------------------------------------

TEST_F(ImgbuildTest, OverlappingSectionsStopWithoutOutput) {
    CoffContents obj;
    obj.sections.push_back({0x3F000F, ramp(0x10, 0x0200)});
    obj.sections.push_back({0x3F0000, ramp(0x10, 0x0100)});
    EXPECT_EQ(runCoff(obj), 6);
    EXPECT_EQ(output, "Section overlap in out file, cannot continue\n");
    EXPECT_EQ(files(), std::vector<std::string>{"fw.out"});
}

TEST_F(ImgbuildTest, AdjacentSectionsDoNotOverlap) {
    CoffContents obj;
    obj.sections.push_back({0x3F0010, ramp(0x10, 0x0200)});
    obj.sections.push_back({0x3F0000, ramp(0x10, 0x0100)});
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(32).at(0, ramp(0x10, 0x0100)).at(0x10, ramp(0x10, 0x0200)).bytes);
}

TEST_F(ImgbuildTest, OverlapInTheRamImageStopsToo) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1111}});
    obj.sections.push_back({0x8400, {0x1, 0x2}});
    obj.sections.push_back({0x8401, {0x3}});
    EXPECT_EQ(runCoff(obj), 6);
    EXPECT_EQ(files(), std::vector<std::string>{"fw.out"});
}

// ---- checksum ---------------------------------------------------------------------

// Flash with 0x1234 at index 0 and the label word 0 at index 1; the other 0x7FFE
// words are 0xFFFF, which add up to -0x7FFE = 0x8002. Sum: 0x1234 + 0x8002 = 0x9236.
CoffContents checksumFixture(std::uint16_t labelWord) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1234, labelWord}});
    obj.symbols.push_back({"_main", 0x3F0000});
    obj.symbols.push_back({"check_sum", 0x3F0001});
    return obj;
}

TEST_F(ImgbuildTest, WrongChecksumNamesTheValueAndStillWrites) {
    EXPECT_EQ(runCoff(checksumFixture(0x0000)), 0);
    EXPECT_EQ(output, "Checksum error. Use this value at the \"check_sum\" label: -9236 and recompile.\n" +
                          flashMessage(path("fw.hex"), "3F0000", "3F001F"));
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(32).at(0, {0x1234, 0x0000}).bytes);
}

TEST_F(ImgbuildTest, SuggestedChecksumValueMakesTheSumZero) {
    CoffContents obj = checksumFixture(0x1111);
    ASSERT_EQ(runCoff(obj), 0);
    unsigned suggested = 0;
    ASSERT_EQ(std::sscanf(output.c_str(), "Checksum error. Use this value at the \"check_sum\" label: -%x", &suggested),
              1)
        << output;
    EXPECT_EQ(suggested, 0x9236u) << "the sum of every word but the label's";
    obj.sections[0].words[1] = static_cast<std::uint16_t>(0x10000 - suggested);
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output, flashMessage(path("fw.hex"), "3F0000", "3F001F")) << "no checksum message any more";
}

TEST_F(ImgbuildTest, LastOfSeveralChecksumLabelsCounts) {
    CoffContents obj;
    // Sum: 0x1234 + 0x1234 + 0 + 0x7FFD * 0xFFFF = 0x2468 + 0x8003 = 0xA46B.
    obj.sections.push_back({0x3F0000, {0x1234, 0x1234, 0x0000}});
    obj.symbols.push_back({"check_sum", 0x3F0002});
    obj.symbols.push_back({"check_sum", 0x3F0001, {}, true});  // via the string table; this one counts
    obj.symbols.push_back({"Check_sum", 0x3F0002, {}, true});  // case matters
    obj.symbols.push_back({"check_su", 0x3F0002});             // 8 bytes inline, no NUL
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output.substr(0, output.find('\n') + 1),
              "Checksum error. Use this value at the \"check_sum\" label: -9237 and recompile.\n");
}

TEST_F(ImgbuildTest, AuxiliaryEntriesAreSkippedNotReadAsSymbols) {
    CoffContents obj = checksumFixture(0x0000);  // sum 0x9236 - 0 with the label at 0x3F0001
    obj.symbols.clear();
    obj.symbols.push_back({"xcheck_sum", 0, {}, true});
    obj.symbols.push_back({"_c_int00", 0});
    obj.symbols.push_back({"check_sum", 0x3F0001});
    obj.symbols.push_back({"_main", 0});
    // Auxiliary entries that, read as symbols, would name "check_sum" through the
    // tail of "xcheck_sum" in the string table and point at 0x3F0000 (word 0x1234).
    Bytes decoy(18, 0);
    put32(decoy, 4, static_cast<std::uint32_t>(writeCoff(obj).nameOffsets[0] + 1));
    put32(decoy, 8, 0x3F0000);
    obj.symbols[1].aux = {decoy, decoy};
    obj.symbols[3].aux = {decoy};
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output.substr(0, output.find('\n') + 1),
              "Checksum error. Use this value at the \"check_sum\" label: -9236 and recompile.\n");
}

TEST_F(ImgbuildTest, LabelOutsideTheFlashRangeIsReportedNotRead) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1234}});
    obj.symbols.push_back({"check_sum", 0x3F8000});
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(output, "Label \"check_sum\" at 3F8000 lies outside the flash range, checksum not checked\n" +
                          flashMessage(path("fw.hex"), "3F0000", "3F001F"));
}

// ---- output path ------------------------------------------------------------------

TEST_F(ImgbuildTest, OutputNameIsCutAtTheFirstPointOfTheFileName) {
    std::filesystem::create_directory(path("build.v2"));
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1111}});
    EXPECT_EQ(runCoff(obj, "build.v2/fw.v2.out"), 0);
    EXPECT_EQ(output, flashMessage(path("build.v2/fw.hex"), "3F0000", "3F001F"));
    EXPECT_EQ(readFile("build.v2/fw.hex"), ExpectedImage(32).at(0, {0x1111}).bytes);
}

TEST_F(ImgbuildTest, ExistingHexFileIsReplaced) {
    writeFile("fw.hex", Bytes(1000, 0x00));
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1111}});
    EXPECT_EQ(runCoff(obj), 0);
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(32).at(0, {0x1111}).bytes);
}

TEST_F(ImgbuildTest, UnwritableOutputIsAFailure) {
    std::filesystem::create_directory(path("fw.hex"));
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1111}});
    EXPECT_EQ(runCoff(obj), 8);
    EXPECT_EQ(output, "Cannot write " + path("fw.hex") + "\n");
}

}  // namespace
}  // namespace imgbuild_test
