#include "analysis/ChartAxis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace corvina {

namespace {

// A step of Mantissa times ten to the Exponent. Tick k is k * step, computed
// from whole numbers so that 3 * 0.1 is the 0.3 a reader expects.
struct Step {
    int Mantissa = 1;
    int Exponent = 0;

    double Times(long long k) const {
        const double whole = static_cast<double>(k * Mantissa);
        return Exponent >= 0 ? whole * std::pow(10.0, Exponent) : whole / std::pow(10.0, -Exponent);
    }
    // The smallest and largest multiple of the step taking in [low, high]; the
    // slack keeps 0.3 / 0.1 = 2.9999999999999996 from asking for a tick more.
    long long First(double low) const { return static_cast<long long>(std::floor(low / Times(1) + 1e-9)); }
    long long Last(double high) const { return static_cast<long long>(std::ceil(high / Times(1) - 1e-9)); }
};

Step NextStep(Step step) {
    switch (step.Mantissa) {
        case 1: return {2, step.Exponent};
        case 2: return {5, step.Exponent};
        default: return {1, step.Exponent + 1};
    }
}

std::string TickText(double value, int decimals) {
    if (value == 0) return "0";  // never "-0"
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

ChartAxis ChooseChartAxis(double low, double high, bool wholeNumbers, int maxIntervals) {
    low = std::min(low, 0.0);
    high = std::max(high, 0.0);
    if (low == high) high = 1;
    maxIntervals = std::max(maxIntervals, low < 0 && high > 0 ? 2 : 1);

    // Start a decade below the even share of the range and widen until the ticks fit.
    Step step{1, static_cast<int>(std::floor(std::log10((high - low) / maxIntervals))) - 1};
    if (wholeNumbers) step.Exponent = std::max(step.Exponent, 0);
    while (step.Last(high) - step.First(low) > maxIntervals) step = NextStep(step);

    ChartAxis axis;
    axis.Step = step.Times(1);
    const int decimals = std::max(0, -step.Exponent);
    for (long long k = step.First(low); k <= step.Last(high); ++k) {
        axis.Ticks.push_back(step.Times(k));
        axis.Labels.push_back(TickText(axis.Ticks.back(), decimals));
    }
    return axis;
}

bool AllWholeNumbers(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::floor(v) == v; });
}

}  // namespace corvina
