#pragma once
// FillResultGrid: runs one query and writes its records into the grid, one
// record per row, each cell formatted by its column's rule. At most the row of
// the state's RowLimit (1000 in the window) is filled; a record left over
// after it sets ResultTruncated, which is told as TruncatedMessage.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h).
// A query the database refuses stops the fill where it is; the rows filled so
// far stay, LastResultRow says how far it got, and the error is returned for
// the caller to report. Nothing here shows anything.

#include <string>

#include "analysis/AnalysisState.h"
#include "analysis/ResultGrid.h"
#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

// "Display truncated after 1000 entries", with the row limit's number.
std::string TruncatedMessage(int rowLimit);

// firstRow is 1 (no total row) or 2 (after the total row). Rows from firstRow
// on are replaced; the rows above stay. Writes LastResultRow, ResultTruncated
// and any PercentBase entry of -1.
StoreError FillResultGrid(DatabaseState& database, const AnalysisState& state, GridSettings& settings,
                          ResultGrid& grid, const BoundQuery& query, int firstRow);

}  // namespace corvina
