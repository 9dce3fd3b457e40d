#pragma once
// RunAnalysis: the current analysis from start to end, without a window. It
// builds the queries, forms the title the window puts in its status bar, fills
// the grid (a total row, then the detail rows), fixes the grid's fixed rows and
// collects the chart data. The caller lays out the grid first
// (LayoutResultGrid) whenever the kind or the unit changed.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h).
// Nothing here shows anything. When the database refuses a query the grid
// keeps what was filled, the run finishes its bookkeeping, and the error comes
// back in the outcome, to be told as AnalysisFailureText.

#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/AnalysisQuery.h"
#include "analysis/AnalysisState.h"
#include "analysis/ChartData.h"
#include "analysis/ResultGrid.h"
#include "store/SnapshotDatabase.h"
#include "store/StoreError.h"

namespace corvina {

// What one run of an analysis gives besides the grid.
struct AnalysisOutcome {
    std::string Title;
    ChartData Chart;
    StoreError Error;
    // AtRowLimit when the grid stopped at the row limit with records left
    // over: told as TruncatedMessage (GridFill.h).
    Truncation Truncated = Truncation::None;
    // On disk: the grid shows kNoFigure for sizes a snapshot did not record
    // (told as kMissingFiguresNote).
    bool MissingFigures = false;
    // A comparison of two snapshots that left out different entries (told
    // as ExclusionsDifferText); set by the session, which knows both.
    bool ExclusionsDiffer = false;
};

// How a run the database refused is told: the damaged-file text for a
// damaged file, else "Error running analysis <title>" and, on a line of its
// own, the engine's code and reason.
std::string AnalysisFailureText(std::string_view databasePath, const std::string& title, const StoreError& error);

// The title of the current analysis.
std::string AnalysisTitle(const AnalysisState& state);

// Whether the tree of QueryDirectory holds a large part of the files table:
// its file count (from its Dir row, scaled by the share of files the snapshot
// recorded) against all files rows. Unknown counts give the default hints;
// after a failure hints holds the defaults too.
StoreError EstimateQueryHints(DatabaseState& database, const AnalysisState& state, QueryHints& hints);

// A failure of the connection setting or of the hints ends the run before
// the fill, and comes back as a refused query does.
AnalysisOutcome RunAnalysis(DatabaseState& database, const AnalysisState& state, GridSettings& settings,
                            ResultGrid& grid);

// What a click on a column header does to the data: makes the column the
// charted one and, except for kinds that keep their row order
// (DirectoryHistory), sorts the scrolling rows on it (ascending for text
// columns, descending otherwise). The caller redraws the chart (DrawChart).
// A result cut at the row limit sorts only the rows it holds: the caller
// warns of that first, with this text.
inline constexpr std::string_view kTruncatedSortWarning =
    "Because the display has been truncated, the display is incomplete.\n"
    "Sorting on a column will only give partial results.\n"
    "Do the analysis on sub-directories to avoid this problem.";
void SortOnColumn(const AnalysisState& state, GridSettings& settings, ResultGrid& grid, int column);

}  // namespace corvina
