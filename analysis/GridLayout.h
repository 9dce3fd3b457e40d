#pragma once
// LayoutResultGrid: columns, headings and widths of the result grid for the
// current analysis and display unit. Rows are left to the filling.
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

#include "analysis/AnalysisState.h"
#include "analysis/ResultGrid.h"

namespace corvina {

// Sets ColumnHeading 0 to count - 1 (higher entries keep older texts), the
// grid's column count, widths (twips), the columns that hold names, and the
// heading row. The headings name the unit and the snapshot labels as they
// are now.
void LayoutResultGrid(const AnalysisState& state, GridSettings& settings, ResultGrid& grid);

}  // namespace corvina
