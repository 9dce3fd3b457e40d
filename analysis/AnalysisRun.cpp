#include "analysis/AnalysisRun.h"

#include "analysis/AnalysisIndexes.h"

#include <exception>

#include <SQLiteCpp/Statement.h>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisQuery.h"
#include "analysis/GridFill.h"

namespace corvina {

std::string AnalysisTitle(const AnalysisState& state) {
    return FillLabels(EntryOf(state.AnalysisKind).Title, state);
}

QueryHints EstimateQueryHints(DatabaseState& database, const AnalysisState& state) {
    QueryHints hints;
    if (!database.IsUsable()) return hints;
    try {
        SQLite::Statement query(*database.SnapshotDatabase,
                                std::string("SELECT d.Files, c.Filetot, c.Totfiles, (SELECT sum(Filetot) FROM Control), "
                                            "c.Basepath = d.Dirname "
                                            "FROM Control c, Dir d WHERE c.Snapshot = :d1 AND d.Snapshot = :d1 "
                                            "AND d.Dirname = :q") +
                                    (state.Style == PathStyle::Windows ? " COLLATE NOCASE" : ""));
        query.bind(":d1", FormatKey(state.SnapshotDate));
        query.bind(":q", state.QueryDirectory);
        if (!query.executeStep()) return hints;
        double treeFiles = query.getColumn(0).getDouble();
        double recorded = query.getColumn(1).getDouble();
        double seen = query.getColumn(2).getDouble();
        double tableRows = query.getColumn(3).getDouble();
        if (seen > 0) treeFiles *= recorded / seen;
        // A pass over the table costs about 0.4 of a row read through the
        // index (measured on a million-file snapshot).
        hints.WideTree = tableRows > 0 && treeFiles >= 0.4 * tableRows;
        hints.WholeSnapshot = query.getColumn(4).getInt() != 0;
    } catch (const std::exception&) {
        // The hints only steer speed.
    }
    return hints;
}

namespace {

void FixRows(const GridSettings& settings, ResultGrid& grid) {
    if (settings.LastResultRow < settings.FirstDetailRow) {
        // Nothing below the fixed rows: only the heading (and total) row stay.
        grid.SetRowCount(settings.FirstDetailRow);
    } else {
        grid.SetRowCount(settings.LastResultRow + 1);
    }
    grid.SetFixedRows(settings.FirstDetailRow);
}

}  // namespace

AnalysisOutcome RunAnalysis(DatabaseState& database, Prompter& prompter, const AnalysisState& state,
                            GridSettings& settings, ResultGrid& grid) {
    AnalysisOutcome outcome;
    if (database.SnapshotDatabase) PrepareForAnalysis(*database.SnapshotDatabase);
    BuildAnalysisQuery(state, settings, EstimateQueryHints(database, state));
    outcome.Title = AnalysisTitle(state);
    if (!settings.TotalSql.Empty()) {
        settings.FirstDetailRow = 2;
        outcome.Error = FillResultGrid(database, prompter, state, settings, grid, settings.TotalSql, 1);
    } else {
        settings.FirstDetailRow = 1;
    }
    if (outcome.Error.Ok()) {
        outcome.Error =
            FillResultGrid(database, prompter, state, settings, grid, settings.AnalysisSql, settings.FirstDetailRow);
    }
    if (outcome.Error.IsDamaged()) {
        ShowMessage(prompter, DamagedDatabaseText(database.DatabasePath, outcome.Error.Reason), Icon::Exclamation);
    } else if (!outcome.Error.Ok()) {
        ShowMessage(prompter, "Error running analysis " + outcome.Title + "\n" + outcome.Error.Details(),
                    Icon::Exclamation);
    }
    FixRows(settings, grid);
    outcome.Chart = DrawChart(state, settings, grid);
    return outcome;
}

void SortOnColumn(Prompter& prompter, const AnalysisState& state, GridSettings& settings, ResultGrid& grid,
                  int column) {
    if (settings.ResultTruncated == 'y') ShowMessage(prompter, std::string(kTruncatedSortWarning));
    settings.ChartColumn = column;
    if (EntryOf(state.AnalysisKind).KeepsRowOrder) return;
    char rule = column >= 0 && column < kMaxResultColumns ? settings.ColumnFormat[static_cast<std::size_t>(column)] : 'C';
    grid.SortScrollingRows(column, rule == 'C');
}

}  // namespace corvina
