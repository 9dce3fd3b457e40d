#include <gtest/gtest.h>

#include "store/SizeFormat.h"

namespace corvina {
namespace {

TEST(FormatSize, WholeUnitsFromEach1024StepFractionsDropped) {
    const std::pair<double, const char*> cases[] = {
        {0, "0"},
        {1023, "1023"},
        {1024, "1 KB"},
        {1024.0 * 1024 - 1, "1023 KB"},
        {1024.0 * 1024, "1 MB"},
        {1.5 * 1024 * 1024, "1 MB"},
        {5.0 * 1024 * 1024 * 1024 * 1024, "5242880 MB"},  // a 5 TB total, beyond 32 bits
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatSize(bytes), text) << bytes;
}

TEST(FormatSizeCell, UnitsRoundTowardsMinusInfinityAndTextPassesUnchanged) {
    const struct {
        CellValue Value;
        char Unit;
        const char* Text;
    } cases[] = {
        {std::int64_t{0}, 'M', "0"},
        {std::int64_t{1023}, 'K', "0"},
        {std::int64_t{1024}, 'K', "1"},
        {1024.0 * 1024 - 1, 'M', "0"},
        {3.0 * 1024 * 1024 * 1024, 'M', "3072"},
        {std::int64_t{3221225472}, 'B', "3221225472"},
        // A shrinking directory in a comparison: -1 byte is -1 KB.
        {-1.0, 'K', "-1"},
        {-2048.0, 'K', "-2"},
        {std::string(" "), 'M', " "},
        {std::string("abc"), 'K', "abc"},
        {std::string("2048"), 'K', "2"},
        {CellValue{}, 'K', ""},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatSizeCell(c.Value, c.Unit), c.Text) << CellText(c.Value) << c.Unit;
}

}  // namespace
}  // namespace corvina
