#include "analysis/AnalysisRun.h"

#include "analysis/AnalysisIndexes.h"

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisQuery.h"
#include "analysis/DiskFigures.h"
#include "analysis/GridFill.h"
#include "store/Statement.h"

namespace corvina {

std::string AnalysisFailureText(std::string_view databasePath, const std::string& title, const StoreError& error) {
    if (error.IsDamaged()) return DamagedDatabaseText(databasePath, error.Reason);
    return "Error running analysis " + title + "\n" + error.Details();
}

std::string AnalysisTitle(const AnalysisState& state) {
    return FillLabels(EntryOf(state.AnalysisKind).Title, state) + BasisSuffix(state.SizeBasis);
}

StoreError EstimateQueryHints(DatabaseState& database, const AnalysisState& state, QueryHints& hints) {
    hints = {};
    Statement query;
    StoreError error = query.Prepare(
        // Filetot summed as reals: an estimate needs no exact count, and an
        // engine's integer sum fails beyond 64 bits.
        database, std::string("SELECT d.Files, c.Filetot, c.Totfiles, (SELECT sum(Filetot * 1.0) FROM Control), "
                              "c.Basepath = d.Dirname "
                              "FROM Control c, Dir d WHERE c.Snapshot = :d1 AND d.Snapshot = :d1 "
                              "AND ") +
                      NameOperand(&database.Engine->SqlDialect(), state.Style, "d.Dirname") + " = " +
                      NameOperand(&database.Engine->SqlDialect(), state.Style, ":q") + " AND d.Entrytype = :qt");
    bool row = false;
    if (error.Ok()) error = query.BindText(query.ParameterIndex(":d1"), FormatKey(state.SnapshotDate));
    if (error.Ok()) error = query.BindText(query.ParameterIndex(":q"), state.QueryDirectory);
    if (error.Ok()) error = query.BindText(query.ParameterIndex(":qt"), EntrytypeText(state.QueryEntrytype));
    if (error.Ok()) error = query.Step(row);
    if (!error.Ok() || !row) return error;
    double treeFiles = query.Double(0);
    double recorded = query.Double(1);
    double seen = query.Double(2);
    double tableRows = query.Double(3);
    if (seen > 0) treeFiles *= recorded / seen;
    // A pass over the table costs about 0.4 of a row read through the
    // index (measured on a million-file snapshot).
    // A view of the history layout takes no index hint.
    hints.WideTree = !database.History && tableRows > 0 && treeFiles >= 0.4 * tableRows;
    hints.Dialect = &database.Engine->SqlDialect();
    hints.History = database.History;
    hints.WholeSnapshot = query.Int64(4) != 0;
    return {};
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

// Each fill sets ResultTruncated afresh; the outcome keeps a cut of either.
StoreError Fill(DatabaseState& database, const AnalysisState& state, GridSettings& settings, ResultGrid& grid,
                const BoundQuery& query, int firstRow, AnalysisOutcome& outcome) {
    StoreError error = FillResultGrid(database, state, settings, grid, query, firstRow);
    if (settings.ResultTruncated == Truncation::AtRowLimit) outcome.Truncated = Truncation::AtRowLimit;
    return error;
}

}  // namespace

AnalysisOutcome RunAnalysis(DatabaseState& database, const AnalysisState& state, GridSettings& settings,
                            ResultGrid& grid) {
    AnalysisOutcome outcome;
    QueryHints hints;
    // Both only steer speed, but a file they cannot read gives no rows either:
    // their failure is the run's. Without a database the fill says so.
    if (database.IsUsable()) {
        outcome.Error = PrepareForAnalysis(database);
        if (outcome.Error.Ok()) outcome.Error = EstimateQueryHints(database, state, hints);
        if (outcome.Error.Ok() && state.SizeBasis == SizeBasis::Disk) {
            outcome.Error = DiskTablesExist(database, hints.DiskTables);
            if (outcome.Error.Ok()) {
                outcome.Error = HasDiskFigures(database, state.SnapshotDate, hints.PrimeDiskFigures);
            }
        }
        if (!outcome.Error.Ok()) settings.LastResultRow = 0;
    }
    BuildAnalysisQuery(state, settings, hints);
    settings.MissingFigures = false;
    outcome.Title = AnalysisTitle(state);
    if (!settings.TotalSql.Empty()) {
        settings.FirstDetailRow = 2;
        if (outcome.Error.Ok()) outcome.Error = Fill(database, state, settings, grid, settings.TotalSql, 1, outcome);
    } else {
        settings.FirstDetailRow = 1;
    }
    if (outcome.Error.Ok()) {
        outcome.Error =
            Fill(database, state, settings, grid, settings.AnalysisSql, settings.FirstDetailRow, outcome);
    }
    FixRows(settings, grid);
    outcome.Chart = DrawChart(state, settings, grid);
    outcome.MissingFigures = settings.MissingFigures;
    return outcome;
}

void SortOnColumn(const AnalysisState& state, GridSettings& settings, ResultGrid& grid, int column) {
    settings.ChartColumn = column;
    if (EntryOf(state.AnalysisKind).KeepsRowOrder) return;
    const ColumnRule rule = column >= 0 && column < kMaxResultColumns
                                ? settings.ColumnFormat[static_cast<std::size_t>(column)]
                                : ColumnRule::Text;
    grid.SortScrollingRows(column, rule == ColumnRule::Text);
}

}  // namespace corvina
