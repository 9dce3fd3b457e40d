#include "analysis/DirectoryChildren.h"

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

}  // namespace corvina
