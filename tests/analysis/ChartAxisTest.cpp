// The chart's value axis: round steps, whole ones for whole values, labels
// with the decimals the step needs, 0 always on the axis.

#include <gtest/gtest.h>

#include "analysis/ChartAxis.h"

namespace corvina {
namespace {

TEST(ChartAxis, StepsAreOneTwoOrFiveTimesAPowerOfTenAndWholeForWholeValues) {
    struct Case {
        double Low, High;
        bool Whole;
        int MaxIntervals;
        std::vector<std::string> Labels;
    };
    const Case cases[] = {
        {0, 21, true, 5, {"0", "5", "10", "15", "20", "25"}},
        {0, 3, true, 8, {"0", "1", "2", "3"}},  // no tick at 0.5 files
        {0, 3, false, 8, {"0", "0.5", "1.0", "1.5", "2.0", "2.5", "3.0"}},
        {0, 5795668, true, 5, {"0", "2000000", "4000000", "6000000"}},
        {0, 0.7, false, 4, {"0", "0.2", "0.4", "0.6", "0.8"}},
        {0, 0.3, false, 3, {"0", "0.1", "0.2", "0.3"}},
        {2, 9, true, 1, {"0", "10"}},
        {-3, 0, true, 4, {"-3", "-2", "-1", "0"}},
        {-12, 30, true, 5, {"-20", "-10", "0", "10", "20", "30"}},
        {-5, 5, true, 1, {"-5", "0", "5"}},
        {0, 0, true, 4, {"0", "1"}},
    };
    for (const Case& c : cases) {
        const ChartAxis axis = ChooseChartAxis(c.Low, c.High, c.Whole, c.MaxIntervals);
        EXPECT_EQ(axis.Labels, c.Labels) << c.Low << ".." << c.High;
        EXPECT_EQ(axis.Ticks.size(), axis.Labels.size());
    }
    EXPECT_TRUE(AllWholeNumbers({0, -4, 5795668}));
    EXPECT_FALSE(AllWholeNumbers({3, 0.5}));
}

}  // namespace
}  // namespace corvina
