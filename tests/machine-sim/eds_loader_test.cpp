#include <gtest/gtest.h>

#include "eds_loader.h"
#include "twin_bench.h"

namespace msim {
namespace {

const char* kMinimal = R"([DeviceInfo]
ProductName=Test

[1000]
ParameterName=Device type
ObjectType=0x7
DataType=0x0007
AccessType=ro
DefaultValue=0x12345678

[1200]
ParameterName=SDO server
ObjectType=0x9
SubNumber=3

[1200sub0]
ParameterName=count
DataType=0x0005
AccessType=ro
DefaultValue=2

[1200sub1]
ParameterName=rx
DataType=0x0007
AccessType=ro
DefaultValue=$NODEID+0x600

[1200sub2]
ParameterName=tx
DataType=0x0007
AccessType=ro
DefaultValue=0x580+$NODEID
)";

std::string failure(const std::string& text) {
    try {
        parseEds(text, "bad.eds", 10);
    } catch (const EdsError& e) {
        return e.what();
    }
    return "no error";
}

TEST(EdsLoader, ReadsVariablesRecordsAndNodeIdRelativeValues) {
    EdsInfo info;
    ObjectDictionary od = parseEds(kMinimal, "min.eds", 0x22, &info);
    EXPECT_EQ(info.productName, "Test");
    EXPECT_EQ(od.entry(0x1000, 0)->asUnsigned(), 0x12345678u);
    EXPECT_EQ(od.entry(0x1200, 1)->asUnsigned(), 0x622u);
    EXPECT_EQ(od.entry(0x1200, 2)->asUnsigned(), 0x5A2u);
    EXPECT_FALSE(od.entry(0x1000, 0)->writable());
}

TEST(EdsLoader, EveryShippedModelLoadsWithTheObjectsTheConverterUses) {
    struct Expect {
        const char* name;
        unsigned number;
        bool moduleMode;
    };
    for (const Expect& e :
         {Expect{"wren", 1, false}, Expect{"wren-2", 2, false}, Expect{"finch", 3, false}, Expect{"swift", 4, false},
          Expect{"crane", 5, false}, Expect{"robin", 6, false}, Expect{"kestrel", 9, true}}) {
        SCOPED_TRACE(e.name);
        ObjectDictionary od = test::model(e.name);
        const OdEntry* type = od.entry(0x2000, 1);
        ASSERT_NE(type, nullptr);
        ASSERT_EQ(type->value.size(), 6u);  // three 16-bit numbers on the wire
        EXPECT_EQ(type->value[2] | type->value[3] << 8, static_cast<int>(e.number));
        EXPECT_NE(type->value[0] | type->value[1] << 8, 0);  // type 0 would select no model
        EXPECT_EQ(od.entry(0x5401, 1)->value.size(), 3u);
        EXPECT_EQ(od.entry(0x5404, 1)->value.size(), 13u);
        EXPECT_EQ(od.entry(0x5405, 1)->value.size(), 13u);
        EXPECT_EQ(od.entry(0x5300, 1)->value.size(), 16u);
        EXPECT_EQ(od.entry(0x5407, 1)->value.size(), 26u);
        EXPECT_EQ(od.entry(0x5300, 0)->asUnsigned(), 3u);
        EXPECT_EQ(od.object(0x2001) != nullptr, e.moduleMode);
        EXPECT_EQ(od.object(0x5600) != nullptr, !e.moduleMode);
        for (uint16_t idx : {0x1016, 0x1017, 0x1F50, 0x1F51, 0x1F57, 0x2222, 0x5406, 0x5408})
            EXPECT_NE(od.object(idx), nullptr) << std::hex << idx;
        for (uint16_t base : {0x3000, 0x4000, 0x5200})
            for (uint16_t t = 0; t < 7; ++t)
                EXPECT_NE(od.object(static_cast<uint16_t>(base + t)), nullptr) << std::hex << base + t;
        for (uint16_t t = 0; t < 6; ++t) EXPECT_NE(od.object(static_cast<uint16_t>(0x5100 + t)), nullptr);
        EXPECT_EQ(od.entry(0x5206, 1)->type, DataType::Real32);
    }
}

TEST(EdsLoader, BootloaderLacksTheApplicationObjects) {
    ObjectDictionary od = test::model("bootloader");
    for (uint16_t idx : {0x1016, 0x2222, 0x2000, 0x2001, 0x5600, 0x5401, 0x3000, 0x5300})
        EXPECT_EQ(od.object(idx), nullptr) << std::hex << idx;
    for (uint16_t idx : {0x1017, 0x1F50, 0x1F51, 0x1F57, 0x5406}) EXPECT_NE(od.object(idx), nullptr) << std::hex << idx;
}

TEST(EdsLoader, MalformedFilesNameFileAndLine) {
    struct Case {
        std::string text;
        std::string expect;  // prefix file:line plus a word of the message
    };
    const std::string var = "[2000]\nParameterName=x\nObjectType=0x7\nDataType=0x0005\nAccessType=rw\n";
    const Case cases[] = {
        {"[2000]\nParameterName=x\nthis line has no equals sign\n", "bad.eds:3: expected 'key=value'"},
        {var + "DefaultValue=300\n", "bad.eds:6: DefaultValue \"300\" does not fit UNSIGNED8"},
        {var + "DefaultValue=12abc\n", "bad.eds:6: DefaultValue \"12abc\" is not a number"},
        {"[2000]\nParameterName=x\nDataType=0x0099\nAccessType=rw\n", "bad.eds:3: DataType 0x0099 is not supported"},
        {"[2000]\nParameterName=x\nDataType=0x0005\nAccessType=readwrite\n", "bad.eds:4: AccessType"},
        {"[2000]\nParameterName=x\nDataType=0x0005\n", "bad.eds:1: [2000] lacks AccessType"},
        {var + "\n[2000]\nParameterName=y\n", "bad.eds:7: section [2000] repeated (first at line 1)"},
        {var + "AccessType=ro\n", "bad.eds:6: key AccessType repeated"},
        {"[2000]\nParameterName=x\nObjectType=0x8\nSubNumber=2\n[2000sub0]\nParameterName=n\nDataType=0x0005\n"
         "AccessType=ro\n",
         "bad.eds:4: SubNumber is 2 but 1 sub-index sections exist"},
        {"[2001sub1]\nParameterName=x\nDataType=0x0005\nAccessType=rw\n",
         "bad.eds:1: [2001sub1] has no object section"},
        {"[ManufacturerObjects]\nSupportedObjects=1\n1=0x2000\n", "bad.eds:3: [ManufacturerObjects] names 0x2000"},
        {"[2000\nParameterName=x\n", "bad.eds:1: section header without closing"},
        {"ParameterName=x\n", "bad.eds:1: key outside of any section"},
        {"[2000]\nParameterName=x\nDataType=0x000A\nAccessType=rw\nDefaultValue=0102F\n",
         "bad.eds:5: DefaultValue needs an even number"},
        {"[2000]\nParameterName=x\nDataType=0x0005\nAccessType=rw\nLowLimit=5\nHighLimit=9\nDefaultValue=2\n",
         "bad.eds:7: DefaultValue outside"},
        {"[FileInfo]\nFileName=x\n", "bad.eds:1: no objects defined"},
        {"[2000]\nParameterName=x\nObjectType=0x8\nCompactSubObj=4\nDataType=0x0005\nAccessType=rw\n",
         "bad.eds:4: CompactSubObj is not supported"},
    };
    for (const Case& c : cases) {
        const std::string what = failure(c.text);
        EXPECT_EQ(what.rfind(c.expect, 0), 0u) << "got: " << what << "\nwanted: " << c.expect;
    }
}

TEST(EdsLoader, MissingFileIsReportedByName) {
    try {
        loadEds("/nonexistent/machine.eds", 10);
        FAIL() << "no error";
    } catch (const EdsError& e) {
        EXPECT_EQ(std::string(e.what()), "/nonexistent/machine.eds:0: cannot open file");
    }
}

TEST(EdsLoader, CommentsBlankLinesAndCaseOfKeysDoNotMatter) {
    ObjectDictionary od = parseEds(
        "; comment\n\n[2000]\nparametername=x\nDATATYPE=0x0006\naccesstype=RW\n"
        "defaultvalue=0x1234\n",
        "ok.eds", 10);
    EXPECT_EQ(od.entry(0x2000, 0)->asUnsigned(), 0x1234u);
    EXPECT_TRUE(od.entry(0x2000, 0)->writable());
}

}  // namespace
}  // namespace msim
