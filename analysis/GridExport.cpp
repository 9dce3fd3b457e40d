#include "analysis/GridExport.h"

#include <nlohmann/json.hpp>

#include "analysis/AnalysisCatalogue.h"
#include "base/DateTime.h"

namespace corvina {

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

namespace {

// A figure not recorded, outside the columns of names (where a file may be
// called so): CSV leaves its field empty, JSON writes null.
bool NoFigure(const ResultGrid& grid, int row, int column) {
    return row > 0 && !grid.HoldsNames(column) && grid.Cell(row, column) == kNoFigure;
}

}  // namespace

void WriteGridCsv(const ResultGrid& grid, std::ostream& out, int endRow) {
    if (endRow < 0) endRow = grid.RowCount();
    for (int r = 0; r < endRow; ++r) {
        for (int c = 0; c < grid.ColumnCount(); ++c) {
            const std::string& cell = NoFigure(grid, r, c) ? std::string() : grid.Cell(r, c);
            out << (c > 0 ? "," : "") << CsvField(r == 0 ? cell.substr(0, cell.find_last_not_of(' ') + 1) : cell);
        }
        out << "\r\n";
    }
}

void WriteGridJson(const std::string& title, const AnalysisSession& session, std::ostream& out, int endRow) {
    using nlohmann::json;
    const ResultGrid& grid = session.Grid();
    if (endRow < 0) endRow = grid.RowCount();
    const GridSettings& settings = session.Settings();
    const AnalysisState& state = session.State();
    const AnalysisEntry& entry = EntryOf(state.AnalysisKind);
    auto row = [&](int r) {
        json cells = json::array();
        for (int c = 0; c < grid.ColumnCount(); ++c) {
            cells.push_back(NoFigure(grid, r, c) ? json(nullptr) : json(grid.Cell(r, c)));
        }
        return cells;
    };
    json columns = json::array();
    for (int c = 0; c < grid.ColumnCount(); ++c) {
        columns.push_back({{"heading", grid.Cell(0, c)},
                           {"format", std::string(1, ColumnRuleLetter(settings.ColumnFormat[static_cast<std::size_t>(c)]))},
                           {"align", grid.Alignment(c) == CellAlignment::Right ? "right" : "left"}});
    }
    json rows = json::array();
    for (int r = settings.FirstDetailRow; r < endRow; ++r) rows.push_back(row(r));
    json doc{{"title", title},
             {"kind", std::string(entry.CommandName)},
             {"code", entry.Code()},
             {"snapshot", FormatKey(state.SnapshotDate)},
             {"compare", state.CompareSnapshotDate.IsNull() ? json(nullptr) : json(FormatKey(state.CompareSnapshotDate))},
             {"directory", state.SelectedDirectory},
             {"unit", std::string(1, state.SizeUnit)},
             {"columns", columns},
             {"total", settings.FirstDetailRow == 2 && grid.RowCount() > 1 ? row(1) : json(nullptr)},
             {"rows", rows},
             {"truncated", settings.ResultTruncated == Truncation::AtRowLimit || endRow < grid.RowCount()}};
    // Sizes are apparent unless said; the two snapshots named, whatever the
    // kind, say whether they left out the same entries.
    if (state.SizeBasis == SizeBasis::Disk) doc["size"] = SizeBasisName(state.SizeBasis);
    if (!state.CompareSnapshotDate.IsNull()) doc["exclusions_differ"] = session.ExclusionsDiffer();
    // File names are bytes: text that is not UTF-8 shows replacement characters.
    out << doc.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}

}  // namespace corvina
