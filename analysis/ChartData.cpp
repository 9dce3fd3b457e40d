#include "analysis/ChartData.h"

#include <string_view>

#include "analysis/AnalysisCatalogue.h"
#include "base/PathStyle.h"

namespace corvina {

namespace {

// "/data/big" gives "big", "C:\Data" gives "Data"; a root ("/", "C:") is its own last element.
std::string LastPathElement(std::string_view path, PathStyle style) {
    path = WithoutTrailingSeparators(path, style);
    const std::size_t separator = path.find_last_of(Separator(style));
    if (separator == std::string_view::npos || path.size() == 1) return std::string(path);
    return std::string(path.substr(separator + 1));
}

}  // namespace

ChartData DrawChart(const AnalysisState& state, const GridSettings& settings, const ResultGrid& grid) {
    ChartData chart;
    chart.ChartType = state.ChartType;
    chart.ChartOrientation = state.ChartOrientation;
    const AnalysisEntry& kind = EntryOf(state.AnalysisKind);
    const int limit = kind.ChartPoints;
    const int column = settings.ChartColumn;
    const bool columnShown = column >= 0 && column < grid.ColumnCount();
    for (int i = 1; i <= limit && columnShown; ++i) {
        int row = settings.FirstDetailRow + i - 1;
        if (row >= grid.RowCount()) break;
        double value = 0;
        if (!ReadNumber(grid.Cell(row, column), &value)) continue;
        ++chart.ChartPointCount;
        chart.ChartValues.push_back(value);
        const std::string& first = grid.Cell(row, 0);
        chart.ChartLabels.push_back(kind.PathRows ? LastPathElement(first, state.Style) : first);
        chart.ChartTips.push_back(first);
        if (value > chart.ChartMaxValue) chart.ChartMaxValue = value;
    }
    chart.Drawn = chart.ChartPointCount >= 2;
    if (chart.Drawn && column < kMaxResultColumns) {
        chart.Title = "Analysis of " + settings.ColumnHeading[static_cast<std::size_t>(column)];
    }
    return chart;
}

}  // namespace corvina
