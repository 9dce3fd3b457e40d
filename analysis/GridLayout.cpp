#include "analysis/GridLayout.h"

#include "analysis/AnalysisCatalogue.h"

namespace corvina {

void LayoutResultGrid(const AnalysisState& state, GridSettings& settings, ResultGrid& grid) {
    const std::vector<ColumnEntry>& columns = EntryOf(state.AnalysisKind).Columns;
    if (grid.RowCount() == 0) grid.SetRowCount(1);
    grid.SetColumnCount(static_cast<int>(columns.size()));
    for (std::size_t i = 0; i < columns.size(); ++i) {
        settings.ColumnHeading[i] = FillLabels(columns[i].Heading, state);
        grid.SetColumnWidth(static_cast<int>(i), columns[i].Width);
        // Text columns hold the names: of files, directories, file types.
        grid.SetHoldsNames(static_cast<int>(i), columns[i].Rule == ColumnRule::Text);
        grid.SetCell(0, static_cast<int>(i), settings.ColumnHeading[i]);
    }
}

}  // namespace corvina
