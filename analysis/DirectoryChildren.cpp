#include "analysis/DirectoryChildren.h"

#include "analysis/AnalysisQuery.h"
#include "store/Statement.h"

namespace corvina {

namespace {

// Each child comes with whether it has children of its own, so that only
// expandable nodes show an expander. Both lookups use the (Snapshot,
// Parentdir) index.
std::string ChildrenSql(PathStyle style) {
    std::string sql =
        "SELECT d.Dirname, d.Shortname, EXISTS (SELECT 1 FROM Dir c WHERE c.Snapshot = d.Snapshot AND "
        "c.Parentdir = d.Dirname) FROM Dir d WHERE d.Snapshot = ? AND d.Parentdir = ? ORDER BY d.Entrytype, "
        "d.Shortname";
    // Names are ordered as they compare in the snapshot's path style.
    if (style == PathStyle::Windows) sql += " COLLATE NOCASE";
    sql += ", d.Dirname";
    return sql;
}

}  // namespace

StoreError ListDirectoryChildren(DatabaseState& database, const DateTime& snapshot, std::string_view parent,
                                 PathStyle style, std::vector<DirectoryChild>& children) {
    children.clear();
    Statement query;
    StoreError error = query.Prepare(database, ChildrenSql(style));
    if (error.Ok()) error = query.BindText(1, FormatKey(snapshot));
    if (error.Ok()) error = query.BindText(2, parent);
    for (bool row = true; error.Ok() && (error = query.Step(row)).Ok() && row;) {
        children.push_back({std::string(query.Text(0)), std::string(query.Text(1)), query.Int64(2) != 0});
    }
    return error;
}

StoreError CountOrphanDirectories(DatabaseState& database, const DateTime& snapshot, std::string_view rootKey,
                                  PathStyle style, std::int64_t& count) {
    count = 0;
    const TreeBounds below = TreeBoundsOf(rootKey, style);
    Statement query;
    StoreError error = query.Prepare(
        database,
        "SELECT COUNT(*) FROM Dir d WHERE d.Snapshot = ?1 AND d.Dirname >= ?2 AND d.Dirname < ?3 AND "
        "d.Parentdir <> ?4 AND NOT EXISTS (SELECT 1 FROM Dir p WHERE p.Snapshot = ?1 AND p.Dirname = d.Parentdir)");
    if (error.Ok()) error = query.BindText(1, FormatKey(snapshot));
    if (error.Ok()) error = query.BindText(2, below.Lo);
    if (error.Ok()) error = query.BindText(3, below.Hi);
    if (error.Ok()) error = query.BindText(4, rootKey);
    bool row = false;
    if (error.Ok()) error = query.Step(row);
    if (error.Ok() && row) count = query.Int64(0);
    return error;
}

}  // namespace corvina
