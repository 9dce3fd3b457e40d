#include "analysis/ChartData.h"

#include "analysis/AnalysisCatalogue.h"

namespace corvina {

ChartData DrawChart(const AnalysisState& state, const GridSettings& settings, const ResultGrid& grid) {
    ChartData chart;
    chart.ChartType = state.ChartType;
    chart.ChartOrientation = state.ChartOrientation;
    const int limit = EntryOf(state.AnalysisKind).ChartPoints;
    const int column = settings.ChartColumn;
    const bool columnShown = column >= 0 && column < grid.ColumnCount();
    for (int i = 1; i <= limit && columnShown; ++i) {
        int row = settings.FirstDetailRow + i - 1;
        if (row >= grid.RowCount()) break;
        double value = 0;
        if (!ReadNumber(grid.Cell(row, column), &value)) continue;
        ++chart.ChartPointCount;
        chart.ChartValues.push_back(value);
        chart.ChartLabels.push_back(grid.Cell(row, 0));
        if (value > chart.ChartMaxValue) chart.ChartMaxValue = value;
    }
    chart.Drawn = chart.ChartPointCount >= 2;
    if (chart.Drawn && column < kMaxResultColumns) {
        chart.Title = "Analysis of " + settings.ColumnHeading[static_cast<std::size_t>(column)];
    }
    return chart;
}

}  // namespace corvina
