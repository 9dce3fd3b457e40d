#include "analysis/GridFill.h"

#include <cmath>
#include <exception>

#include <SQLiteCpp/Column.h>
#include <SQLiteCpp/Statement.h>

#include "store/DateTime.h"
#include "store/SizeFormat.h"

namespace corvina {

namespace {

CellValue ReadField(const SQLite::Statement& statement, int index) {
    if (index < 0 || index >= statement.getColumnCount()) return std::monostate{};
    SQLite::Column column = statement.getColumn(index);
    if (column.isInteger()) return static_cast<std::int64_t>(column.getInt64());
    if (column.isFloat()) return column.getDouble();
    if (column.isNull()) return std::monostate{};
    return std::string(static_cast<const char*>(column.getBlob()), static_cast<std::size_t>(column.getBytes()));
}

bool NumericValue(const CellValue& value, double* number) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        *number = static_cast<double>(*i);
        return true;
    }
    if (const auto* d = std::get_if<double>(&value)) {
        *number = *d;
        return true;
    }
    return false;
}

// Whole percentage, rounded down. Multiplying before dividing keeps whole
// shares exact (29 of 100 is 29, not 28.999...).
std::string PercentCell(const CellValue& source, double& base) {
    double value = 0;
    if (!NumericValue(source, &value)) return {};
    if (base == -1) base = value;
    if (base == 0) return {};
    // Adding +0 turns a -0 (a zero share of a shrinking total) into 0.
    return FormatNumber(std::floor(value * 100 / base) + 0.0);
}

std::string DateCell(const CellValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (auto date = DateTime::Parse(*text)) return FormatDisplayDate(*date) + " ";
    }
    return CellText(value) + " ";
}

void FillRow(const SQLite::Statement& statement, const AnalysisState& state, GridSettings& settings,
             ResultGrid& grid, int row) {
    for (int c = 0; c < settings.ColumnCount && c < kMaxResultColumns; ++c) {
        auto column = static_cast<std::size_t>(c);
        std::string text;
        switch (settings.ColumnFormat[column]) {
            case 'S': text = FormatSizeCell(ReadField(statement, c), state.SizeUnit); break;
            case 'P':
                text = PercentCell(ReadField(statement, settings.PercentSource[column]), settings.PercentBase[column]);
                break;
            case 'D': text = DateCell(ReadField(statement, c)); break;
            default: text = CellText(ReadField(statement, c)); break;
        }
        grid.SetCell(row, c, std::move(text));
    }
}

void AlignColumns(const GridSettings& settings, ResultGrid& grid) {
    for (int c = 0; c < settings.ColumnCount && c < kMaxResultColumns; ++c) {
        char rule = settings.ColumnFormat[static_cast<std::size_t>(c)];
        bool right = rule == 'S' || rule == 'P' || rule == 'N';
        grid.SetAlignment(c, right ? CellAlignment::Right : CellAlignment::Left);
    }
}

}  // namespace

StoreError FillResultGrid(DatabaseState& database, Prompter& prompter, const AnalysisState& state,
                          GridSettings& settings, ResultGrid& grid, const BoundQuery& query, int firstRow) {
    int row = firstRow - 1;
    settings.ResultTruncated = 'n';
    // Rows from firstRow on start empty; the rows above (headings, a total
    // row) stay.
    grid.SetRowCount(std::min(grid.RowCount(), firstRow));
    grid.SetRowCount(kLastGridRow + 10);
    grid.SetFixedRows(firstRow);
    StoreError error;
    if (!database.IsUsable()) {
        error = StoreError{1, "no snapshot database is open", query.Sql};
    } else {
        try {
            SQLite::Statement statement(*database.SnapshotDatabase, query.Sql);
            for (const auto& [name, value] : query.Params) statement.bind(name, value);
            while (row < kLastGridRow && statement.executeStep()) {
                ++row;
                FillRow(statement, state, settings, grid, row);
                if (row == kLastGridRow) {
                    ShowMessage(prompter, std::string(kTruncatedMessage));
                    settings.ResultTruncated = 'y';
                }
            }
        } catch (const std::exception& e) {
            error = ToStoreError(e, query.Sql);
        }
    }
    settings.LastResultRow = row;
    grid.SetRowCount(row + 1);
    AlignColumns(settings, grid);
    return error;
}

}  // namespace corvina
