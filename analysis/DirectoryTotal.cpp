#include "analysis/DirectoryTotal.h"

#include <exception>
#include <string>

#include <SQLiteCpp/Statement.h>

namespace corvina {

std::optional<double> FindDirectoryTotal(DatabaseState& database, std::string_view dirname, const DateTime& snapshot,
                                         PathStyle style) {
    if (!database.IsUsable()) return std::nullopt;
    try {
        std::string sql = "SELECT TotsizeF FROM Dir WHERE Snapshot = ? AND Dirname = ?";
        if (style == PathStyle::Windows) sql += " COLLATE NOCASE";
        SQLite::Statement query(*database.SnapshotDatabase, sql);
        query.bind(1, FormatKey(snapshot));
        query.bind(2, std::string(dirname));
        if (!query.executeStep()) return std::nullopt;
        return query.getColumn(0).getDouble();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

double GetDirectoryTotal(DatabaseState& database, std::string_view dirname, const DateTime& snapshot, PathStyle style) {
    return FindDirectoryTotal(database, dirname, snapshot, style).value_or(0);
}

}  // namespace corvina
