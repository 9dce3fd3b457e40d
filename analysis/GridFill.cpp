#include "analysis/GridFill.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>

#include "analysis/FileListMerge.h"
#include "base/DateTime.h"
#include "base/SizeFormat.h"
#include "store/Statement.h"

namespace corvina {

namespace {

// The record being filled: a statement's current row or a computed record.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    // row is false after the last record.
    virtual StoreError Next(bool& row) = 0;
    virtual CellValue Field(int index) const = 0;
};

class StatementSource : public RecordSource {
public:
    StoreError Open(DatabaseState& database, const BoundQuery& query) {
        if (StoreError error = statement_.Prepare(database, query.Sql); !error.Ok()) return error;
        return BindParams(statement_, query);
    }
    StoreError Next(bool& row) override { return statement_.Step(row); }
    CellValue Field(int index) const override { return ReadField(statement_, index); }

private:
    Statement statement_;
};

class RecordListSource : public RecordSource {
public:
    explicit RecordListSource(std::vector<Record> records) : records_(std::move(records)) {}
    StoreError Next(bool& row) override {
        row = ++next_ <= records_.size();
        return {};
    }
    CellValue Field(int index) const override {
        const Record& record = records_[next_ - 1];
        return index >= 0 && static_cast<std::size_t>(index) < record.size() ? record[static_cast<std::size_t>(index)]
                                                                             : CellValue{};
    }

private:
    std::vector<Record> records_;
    std::size_t next_ = 0;
};

StoreError OpenSource(DatabaseState& database, const AnalysisState& state, const BoundQuery& query,
                      std::unique_ptr<RecordSource>& source) {
    std::vector<Record> records;
    StoreError error;
    // As a query's LIMIT: one record more than the grid holds tells that rows were cut.
    const std::size_t limit = state.RowLimit > 0 ? static_cast<std::size_t>(state.RowLimit) + 1 : SIZE_MAX;
    switch (query.Engine) {
        case QueryEngine::ChangedFilesMerge: error = CollectChangedFiles(database, query, state, limit, records); break;
        case QueryEngine::NewFilesMerge:
        case QueryEngine::DeletedFilesMerge:
            error = CollectMissingFiles(database, query, state, query.Engine == QueryEngine::DeletedFilesMerge, limit,
                                        records);
            break;
        case QueryEngine::DuplicateNames:
            error = CollectDuplicateFiles(database, query, state.Style, limit, records);
            break;
        case QueryEngine::FileTypeSums: error = CollectFileTypeSums(database, query, limit, records); break;
        case QueryEngine::FileTypeDiskSums:
            error = CollectFileTypeDiskSums(database, query, state, limit, records);
            break;
        case QueryEngine::Sql: {
            auto statement = std::make_unique<StatementSource>();
            error = statement->Open(database, query);
            source = std::move(statement);
            return error;
        }
    }
    source = std::make_unique<RecordListSource>(std::move(records));
    return error;
}

// Rows added at a time to a grid beyond the window's limit.
constexpr int kGrowthRows = 1024;

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

// A size on disk the snapshot did not record, where the run marks them.
bool MissingFigure(const CellValue& value, GridSettings& settings) {
    if (!settings.MarksMissingFigures || !std::holds_alternative<std::monostate>(value)) return false;
    settings.MissingFigures = true;
    return true;
}

void FillRow(const RecordSource& statement, const AnalysisState& state, GridSettings& settings,
             ResultGrid& grid, int row) {
    for (int c = 0; c < settings.ColumnCount && c < kMaxResultColumns; ++c) {
        auto column = static_cast<std::size_t>(c);
        std::string text;
        switch (settings.ColumnFormat[column]) {
            case ColumnRule::Size: {
                const CellValue value = statement.Field(c);
                text = MissingFigure(value, settings) ? std::string(kNoFigure)
                                                      : FormatSizeCell(value, state.SizeUnit, settings.SizeRounding);
                break;
            }
            case ColumnRule::Percent: {
                const CellValue source = statement.Field(settings.PercentSource[column]);
                text = MissingFigure(source, settings) ? std::string(kNoFigure)
                                                       : PercentCell(source, settings.PercentBase[column]);
                break;
            }
            case ColumnRule::Date: text = DateCell(statement.Field(c)); break;
            case ColumnRule::Text:
            case ColumnRule::Count: text = CellText(statement.Field(c)); break;
        }
        grid.SetCell(row, c, std::move(text));
    }
}

void AlignColumns(const GridSettings& settings, ResultGrid& grid) {
    for (int c = 0; c < settings.ColumnCount && c < kMaxResultColumns; ++c) {
        const ColumnRule rule = settings.ColumnFormat[static_cast<std::size_t>(c)];
        const bool right = rule == ColumnRule::Size || rule == ColumnRule::Percent || rule == ColumnRule::Count;
        grid.SetAlignment(c, right ? CellAlignment::Right : CellAlignment::Left);
    }
}

}  // namespace

std::string TruncatedMessage(int rowLimit) {
    return "Display truncated after " + std::to_string(rowLimit) + " entries";
}

StoreError FillResultGrid(DatabaseState& database, const AnalysisState& state, GridSettings& settings,
                          ResultGrid& grid, const BoundQuery& query, int firstRow) {
    int row = firstRow - 1;
    const int lastRow = state.RowLimit > 0 ? state.RowLimit : INT_MAX;
    settings.ResultTruncated = Truncation::None;
    // Rows from firstRow on start empty; the rows above (headings, a total
    // row) stay. A grid of a larger limit or of none grows as records come.
    grid.SetRowCount(std::min(grid.RowCount(), firstRow));
    grid.SetRowCount(std::min(lastRow, kGrowthRows) + 10);
    grid.SetFixedRows(firstRow);
    StoreError error;
    std::unique_ptr<RecordSource> source;
    if (!database.IsUsable()) {
        error = StoreError{StoreCode::Other, "no snapshot database is open", query.Sql};
    } else {
        error = OpenSource(database, state, query, source);
    }
    bool record = true;
    while (error.Ok() && (error = source->Next(record)).Ok() && record) {
        // A record beyond the last row is looked at only to tell that rows were cut.
        if (row >= lastRow) {
            settings.ResultTruncated = Truncation::AtRowLimit;
            break;
        }
        ++row;
        if (row >= grid.RowCount()) grid.SetRowCount(row + kGrowthRows);
        FillRow(*source, state, settings, grid, row);
    }
    settings.LastResultRow = row;
    grid.SetRowCount(row + 1);
    AlignColumns(settings, grid);
    return error;
}

}  // namespace corvina
