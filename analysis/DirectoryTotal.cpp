#include "analysis/DirectoryTotal.h"

#include "analysis/AnalysisQuery.h"
#include "analysis/DiskFigures.h"
#include "store/Statement.h"

namespace corvina {

StoreError FindDirectoryTotal(DatabaseState& database, std::string_view dirname, const DateTime& snapshot,
                              PathStyle style, std::optional<double>& total, Entrytype entrytype, SizeBasis basis) {
    total.reset();
    // A directory called "(files)" has the name of its parent's files entry.
    if (!database.IsUsable()) return NotOpenError("Dir");
    const engine::Dialect& dialect = database.Engine->SqlDialect();
    QueryParts parts{.Style = style, .Hints = {.Dialect = &dialect}, .Basis = basis};
    if (basis == SizeBasis::Disk) {
        if (StoreError error = DiskTablesExist(database, parts.Hints.DiskTables); !error.Ok()) return error;
    }
    const std::string sql = "SELECT TotsizeF FROM " + parts.DirSource() + " WHERE Snapshot = ? AND " +
                            NameOperand(&dialect, style, "Dirname") + " = " + NameOperand(&dialect, style, "?") +
                            " AND Entrytype = ?";
    Statement query;
    bool row = false;
    StoreError error = query.Prepare(database, sql);
    if (error.Ok()) error = query.BindText(1, FormatKey(snapshot));
    if (error.Ok()) error = query.BindText(2, dirname);
    if (error.Ok()) error = query.BindText(3, EntrytypeText(entrytype));
    if (error.Ok()) error = query.Step(row);
    if (error.Ok() && row) total = query.Double(0);
    return error;
}

std::string DirectoryTotalFailureText(const StoreError& error, std::string_view dirname) {
    return "Error: " + std::string(StoreCodeName(error.Code)) + " " + error.Reason + "\nWhile processing directory " +
           std::string(dirname);
}

}  // namespace corvina
