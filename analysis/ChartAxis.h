#pragma once
// The value axis of the chart beside the grid: where its ticks go and how they
// read. Steps are 1, 2 or 5 times a power of ten, so a reader can tell the
// value between two ticks; values that are all whole numbers (counts, sizes in
// whole display units, whole percentages) get whole steps, as a tick at 2.5
// files means nothing.
//
// Error policy: nothing here fails.

#include <string>
#include <vector>

namespace corvina {

struct ChartAxis {
    double Step = 1;
    std::vector<double> Ticks;        // from the first tick to the last, Step apart
    std::vector<std::string> Labels;  // each tick's text, with as many decimals as the step needs
    double Low() const { return Ticks.front(); }
    double High() const { return Ticks.back(); }
};

// The axis for values from low to high: its ticks take in 0, low and high,
// with as small a step as keeps them at most maxIntervals apart (two when the
// values lie on both sides of 0). All values 0 give the axis 0 to 1.
ChartAxis ChooseChartAxis(double low, double high, bool wholeNumbers, int maxIntervals);

bool AllWholeNumbers(const std::vector<double>& values);

}  // namespace corvina
