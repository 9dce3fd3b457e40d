#include <gtest/gtest.h>

#include "store/SizeFormat.h"

namespace corvina {
namespace {

TEST(FormatSize, DropsFractionsAtEachStep) {
    EXPECT_EQ(FormatSize(0), "0");
    EXPECT_EQ(FormatSize(1023), "1023");
    EXPECT_EQ(FormatSize(1024), "1 KB");
    EXPECT_EQ(FormatSize(10240), "10 KB");
    EXPECT_EQ(FormatSize(1024.0 * 1024 - 1), "1023 KB");
    EXPECT_EQ(FormatSize(1024.0 * 1024), "1 MB");
    EXPECT_EQ(FormatSize(1.5 * 1024 * 1024), "1 MB");
    // Beyond 32 bits: a 5 TB total.
    EXPECT_EQ(FormatSize(5.0 * 1024 * 1024 * 1024 * 1024), "5242880 MB");
}

TEST(FormatSizeCell, UnitsRoundTowardsMinusInfinity) {
    EXPECT_EQ(FormatSizeCell(std::int64_t{0}, 'B'), "0");
    EXPECT_EQ(FormatSizeCell(std::int64_t{0}, 'K'), "0");
    EXPECT_EQ(FormatSizeCell(std::int64_t{0}, 'M'), "0");
    EXPECT_EQ(FormatSizeCell(std::int64_t{1023}, 'K'), "0");
    EXPECT_EQ(FormatSizeCell(std::int64_t{1024}, 'K'), "1");
    EXPECT_EQ(FormatSizeCell(1024.0 * 1024 - 1, 'M'), "0");
    EXPECT_EQ(FormatSizeCell(3.0 * 1024 * 1024 * 1024, 'M'), "3072");
    EXPECT_EQ(FormatSizeCell(std::int64_t{3221225472}, 'B'), "3221225472");
    // A shrinking directory in a comparison: -1 byte is -1 KB, as Int does it.
    EXPECT_EQ(FormatSizeCell(-1.0, 'K'), "-1");
    EXPECT_EQ(FormatSizeCell(-2048.0, 'K'), "-2");
}

TEST(FormatSizeCell, TextThatIsNotANumberPassesUnchanged) {
    EXPECT_EQ(FormatSizeCell(std::string(" "), 'M'), " ");
    EXPECT_EQ(FormatSizeCell(std::string("abc"), 'K'), "abc");
    EXPECT_EQ(FormatSizeCell(std::string("2048"), 'K'), "2");
    EXPECT_EQ(FormatSizeCell(CellValue{}, 'K'), "");
}

TEST(FormatSizeCell, UnitLabelsArePaddedToTenCharacters) {
    EXPECT_EQ(SizeUnitLabel('B'), "(Bytes)   ");
    EXPECT_EQ(SizeUnitLabel('K'), "(KB)      ");
    EXPECT_EQ(SizeUnitLabel('M'), "(MB)      ");
}

}  // namespace
}  // namespace corvina
