// Damaged and hostile object files: a message, a non-zero status, no output file,
// and never a read outside the file or an allocation the file size does not bound
// (the sanitizer build catches both).

#include "imgbuild_fixture.h"

namespace imgbuild_test {
namespace {

constexpr int kNoImage = 7;

// Every part of this file is needed: cutting any byte off breaks it.
CoffFile wellFormed() {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1234, 0x0000}});
    obj.sections.push_back({0x8400, {0x4321}});
    obj.symbols.push_back({"_main", 0x3F0000, {Bytes(18, 0)}});
    obj.symbols.push_back({"check_sum", 0x3F0001});
    return writeCoff(obj);
}

class BadInputTest : public ImgbuildTest {
protected:
    // Runs on damaged bytes and expects a refusal that names the trouble.
    void expectRefused(const Bytes& bytes, int status, const std::string& messagePart) {
        SCOPED_TRACE(messagePart);
        EXPECT_EQ(runBytes(bytes), status);
        EXPECT_NE(output.find(messagePart), std::string::npos) << output;
        EXPECT_EQ(files(), std::vector<std::string>{"fw.out"});
    }
};

TEST_F(BadInputTest, TheUndamagedFileConverts) {
    EXPECT_EQ(runBytes(wellFormed().bytes), 0);
    EXPECT_TRUE(readFile("fw.hex").has_value());
}

TEST_F(BadInputTest, EveryTruncationIsRefused) {
    const Bytes full = wellFormed().bytes;
    for (std::size_t length = 0; length < full.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ(runBytes(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length))), kNoImage);
        EXPECT_FALSE(output.empty());
        EXPECT_EQ(files(), std::vector<std::string>{"fw.out"});
    }
}

TEST_F(BadInputTest, ShortHeader) {
    expectRefused(Bytes(21, 0), kNoImage, "too short");
    expectRefused(Bytes{}, kNoImage, "too short");
}

TEST_F(BadInputTest, VersionOtherThanC2YieldsNoImage) {
    for (std::uint16_t version : {0x00C0, 0x00C1, 0x00C3, 0x0000}) {
        Bytes bytes = wellFormed().bytes;
        put16(bytes, field::kVersion, version);
        expectRefused(bytes, kNoImage, "version");
    }
}

TEST_F(BadInputTest, NoSectionHeadersYieldsNoImage) {
    CoffContents obj;
    obj.symbols.push_back({"check_sum", 0x3F0001});
    expectRefused(writeCoff(obj).bytes, kNoImage, "no sections");
}

TEST_F(BadInputTest, TargetIsCheckedBeforeTheRest) {
    Bytes bytes = wellFormed().bytes;
    put16(bytes, field::kTargetId, 0);
    put16(bytes, field::kSectionCount, 0xFFFF);
    expectRefused(bytes, 5, "Wrong target magic");
}

TEST_F(BadInputTest, SectionHeadersBeyondTheFile) {
    Bytes bytes = wellFormed().bytes;
    put16(bytes, field::kSectionCount, 0xFFFF);
    put32(bytes, field::kSymbolCount, 0);  // leave the symbol table out of it
    expectRefused(bytes, kNoImage, "Section headers reach beyond");

    bytes = wellFormed().bytes;
    put16(bytes, field::kOptionalHeaderSize, 0xFFFF);
    put32(bytes, field::kSymbolCount, 0);
    expectRefused(bytes, kNoImage, "Section headers reach beyond");
}

TEST_F(BadInputTest, SectionDataBeyondTheFile) {
    const CoffFile file = wellFormed();
    for (std::uint32_t offset : {static_cast<std::uint32_t>(file.bytes.size() - 3), 0xFFFFFFFFu, 0x7FFFFFFFu}) {
        Bytes bytes = file.bytes;
        put32(bytes, file.sectionHeaderOffset + field::kSectionDataOffset, offset);
        expectRefused(bytes, kNoImage, "Section 1: raw data reaches beyond");
    }
    // A size inside the range that claims more words than the file holds.
    Bytes bytes = file.bytes;
    put32(bytes, file.sectionHeaderOffset + field::kSectionSize, 0x8000);
    expectRefused(bytes, kNoImage, "Section 1: raw data reaches beyond");
    bytes = file.bytes;
    put32(bytes, file.sectionHeaderOffset + field::kSectionHeaderSize + field::kSectionSize, 0xC00);
    expectRefused(bytes, kNoImage, "Section 2: raw data reaches beyond");
}

TEST_F(BadInputTest, HugeSectionSizesAreNeverTakenIntoAnImage) {
    // Sizes whose end wraps past 2^31 or 2^32 words must not sneak into a range and
    // have gigabytes read: they lie outside it, like any other too-large section.
    for (std::uint32_t size : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x00008001u}) {
        SCOPED_TRACE(size);
        Bytes bytes = wellFormed().bytes;
        put32(bytes, wellFormed().sectionHeaderOffset + field::kSectionSize, size);
        EXPECT_EQ(runBytes(bytes), 0);
        // The flash section is gone: 0x8000 erased words sum to 0x8000, the label word
        // is 0xFFFF, so the suggestion is 0x8000 - 0xFFFF = 0x8001.
        EXPECT_EQ(output,
                  "Checksum error. Use this value at the \"check_sum\" label: -8001 and recompile.\n"
                  "Hex program file for ram created: " +
                      path("fw.hex") + ", start 8400, end: 841F\n");
        std::error_code ec;
        std::filesystem::remove(path("fw.hex"), ec);
    }
}

TEST_F(BadInputTest, SymbolTableOutsideTheFile) {
    const CoffFile file = wellFormed();
    Bytes bytes = file.bytes;
    put32(bytes, field::kSymbolCount, 0xFFFFFFFF);
    expectRefused(bytes, kNoImage, "Symbol table reaches beyond");

    bytes = file.bytes;
    put32(bytes, field::kSymbolTableOffset, 0xFFFFFFFF);
    expectRefused(bytes, kNoImage, "Symbol table reaches beyond");

    bytes = file.bytes;
    put32(bytes, field::kSymbolTableOffset, static_cast<std::uint32_t>(bytes.size() - 17));
    put32(bytes, field::kSymbolCount, 1);
    expectRefused(bytes, kNoImage, "Symbol table reaches beyond");
}

TEST_F(BadInputTest, SymbolTableOverlappingTheHeaders) {
    for (std::uint32_t offset : {0u, 21u, static_cast<std::uint32_t>(wellFormed().sectionHeaderOffset + 48)}) {
        Bytes bytes = wellFormed().bytes;
        put32(bytes, field::kSymbolTableOffset, offset);
        expectRefused(bytes, kNoImage, "Symbol table overlaps");
    }
}

TEST_F(BadInputTest, StringTableOffsetOutOfRange) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1234}});
    obj.symbols.push_back({"a_long_symbol_name", 0, {}, true});
    CoffFile file = writeCoff(obj);
    const std::size_t stringTableSize = file.bytes.size() - file.stringTableOffset;
    for (std::uint32_t offset : {static_cast<std::uint32_t>(stringTableSize), 0xFFFFFFFFu}) {
        Bytes bytes = file.bytes;
        put32(bytes, file.symbolTableOffset + 4, offset);
        expectRefused(bytes, kNoImage, "name offset");
    }
}

TEST_F(BadInputTest, StringTableNameWithoutNul) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1234}});
    obj.symbols.push_back({"a_long_symbol_name", 0, {}, true});
    CoffFile file = writeCoff(obj);
    file.bytes.pop_back();  // the name's NUL, the last byte of the file
    expectRefused(file.bytes, kNoImage, "no terminating NUL");
}

TEST_F(BadInputTest, AuxiliaryCountPastTheEndJustEndsTheWalk) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1234}});
    obj.symbols.push_back({"_main", 0});
    CoffFile file = writeCoff(obj);
    file.bytes[file.symbolTableOffset + 17] = 0xFF;
    EXPECT_EQ(runBytes(file.bytes), 0);
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(32).at(0, {0x1234}).bytes);
}

TEST_F(BadInputTest, NoSymbolTableAtAllIsFine) {
    CoffContents obj;
    obj.sections.push_back({0x3F0000, {0x1234}});
    Bytes bytes = writeCoff(obj).bytes;
    put32(bytes, field::kSymbolTableOffset, 0xFFFFFFFF);  // ignored when there are no symbols
    EXPECT_EQ(runBytes(bytes), 0);
    EXPECT_EQ(readFile("fw.hex"), ExpectedImage(32).at(0, {0x1234}).bytes);
}

}  // namespace
}  // namespace imgbuild_test
