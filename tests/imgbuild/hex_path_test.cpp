#include <gtest/gtest.h>

#include "output_path.h"

namespace {

using imgbuild::hexPathFor;

TEST(HexPath, FileNameIsCutBeforeItsFirstPoint) {
    EXPECT_EQ(hexPathFor("fw.out"), "fw.hex");
    EXPECT_EQ(hexPathFor("fw.v2.out"), "fw.hex");
    EXPECT_EQ(hexPathFor("fw"), "fw.hex");
    EXPECT_EQ(hexPathFor("fw."), "fw.hex");
}

TEST(HexPath, PointsInFolderNamesAreKept) {
    EXPECT_EQ(hexPathFor("../out/fw.out"), "../out/fw.hex");
    EXPECT_EQ(hexPathFor("./fw.v2.out"), "./fw.hex");
    EXPECT_EQ(hexPathFor("rel.1/fw"), "rel.1/fw.hex");
    EXPECT_EQ(hexPathFor("C:\\build.x\\fw.v2.out"), "C:\\build.x\\fw.hex");
    EXPECT_EQ(hexPathFor("a.b/c.d\\fw.out"), "a.b/c.d\\fw.hex");
}

}  // namespace
