#pragma once
// DrawChart's data: the points the chart beside the grid shows, collected from
// the grid's cell texts (sizes already in the display unit, counts, whole
// percentages), never from the database. The window paints them.
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

#include <string>
#include <vector>

#include "analysis/AnalysisState.h"
#include "analysis/ResultGrid.h"

namespace corvina {

inline constexpr std::string_view kNoDataToChart = "Note: no data to chart";

struct ChartData {
    int ChartPointCount = 0;
    std::vector<double> ChartValues;
    std::vector<std::string> ChartLabels;     // the first column of each point's row, or its last path element
    std::vector<std::string> ChartTips = {};  // the first column of each point's row in full
    double ChartMaxValue = 0;                 // 0 when no value is positive
    bool Drawn = false;                       // false: show kNoDataToChart instead
    std::string Title;                        // "Analysis of " + heading of the charted column
    corvina::ChartType ChartType = corvina::ChartType::Bar2D;
    int ChartOrientation = 0;
};

// Up to the kind's ChartPoints detail rows (4; 50 for DirectoryHistory) from
// FirstDetailRow on; a row whose cell in ChartColumn is empty or not a number
// gives no point but counts. Where the first column holds whole paths (the
// kind's PathRows), a bar's label is the path's last element, which fits
// under it; the whole path is its tip.
// Fewer than two points draw nothing. A column the grid does not have holds no
// numbers.
ChartData DrawChart(const AnalysisState& state, const GridSettings& settings, const ResultGrid& grid);

}  // namespace corvina
