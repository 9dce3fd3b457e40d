#pragma once
// BuildAnalysisQuery: the queries of the current analysis and the display rules
// of its columns. Every query is a prepared statement's text with named
// parameters; directory names and keys are bound, never spliced into the text,
// so a quote, "%", "_" or "*" in a path is an ordinary character.
//
// Parameters: :d1 key of the prime snapshot, :d2 key of the compare snapshot,
// :q the query directory, :lo/:hi the bounds of the names below it, :qf its
// files entry, :s the label of a total row, :b the base path.

#include "analysis/AnalysisState.h"

namespace corvina {

// How the data is spread, so that a query reads it the cheaper way; the rows
// and their order do not depend on it (see EstimateQueryHints in
// AnalysisRun.h).
struct QueryHints {
    bool WideTree = false;       // the tree's files are a large part of the files table
    bool WholeSnapshot = false;  // the directory is the snapshot's base path
};

// Empties TotalSql and resets every ColumnFormat to 'C'; for an analysis code
// (0 to 4, 10 to 17) sets AnalysisSql, TotalSql (codes 0, 1, 10, 11),
// ColumnCount, ColumnFormat, PercentSource, PercentBase and ChartColumn. Codes
// 0 to 3 leave ChartColumn as it was; other codes leave AnalysisSql,
// ColumnCount and the percentage settings as they were. Runs nothing.
void BuildAnalysisQuery(const AnalysisState& state, GridSettings& grid, const QueryHints& hints = {});

// The bounds of "the directory itself or anything below it": names n with
// n == directory or lo <= n < hi. lo is the directory followed by the
// separator (the POSIX root "/" is its own lo), hi is lo with its last byte
// raised by one, so a byte-wise range over an index finds them.
struct TreeBounds {
    std::string Lo;
    std::string Hi;
};
TreeBounds TreeBoundsOf(std::string_view directory, PathStyle style);

}  // namespace corvina
