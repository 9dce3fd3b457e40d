#include "analysis/DirectoryChildren.h"

#include "analysis/AnalysisQuery.h"
#include "analysis/DiskFigures.h"
#include "store/Statement.h"

namespace corvina {

namespace {

// Each child comes with whether it has children of its own, so that only
// expandable nodes show an expander. Both lookups use the (Snapshot,
// Parentdir) index; the compare side is one (Snapshot, Dirname) lookup per
// child, so that a node's growth costs no query of its own. A files entry
// is a leaf and pairs with a files entry only: a directory called "(files)"
// bears its name, and its children name it as their parent.
// On disk the sizes come from the rows Dirdisk joins; a child the compare
// snapshot lacks reads as 0 there, as on apparent sizes (the tree shows
// growth on disk only between snapshots that recorded their figures).
std::string ChildrenSql(const engine::Dialect& dialect, PathStyle style, bool compare, const QueryParts& parts) {
    std::string sql =
        "SELECT d.Dirname, d.Shortname, d.Entrytype = '2' AND EXISTS (SELECT 1 FROM Dir c WHERE c.Snapshot = "
        "d.Snapshot AND c.Parentdir = d.Dirname), d.Entrytype = '1', ";
    // The compare snapshot's row is read as a value of its own rather than
    // joined: where Dir is a view of several tables (the history layout), an
    // engine would rather read the whole view than look into it.
    const std::string same = " FROM Dir b WHERE b.Snapshot = ?3 AND b.Dirname = d.Dirname AND b.Entrytype = d.Entrytype)";
    if (parts.Basis == SizeBasis::Apparent) {
        sql += "COALESCE(d.TotsizeF, 0), ";
        sql += compare ? "COALESCE((SELECT b.TotsizeF" + same + ", 0)" : "0";
    } else {
        sql += parts.DirSize("d") + ", ";
        sql += compare ? "(SELECT " + parts.DirSize("b") + same : "0";
    }
    sql += ", COALESCE(d.Files, 0) FROM Dir d";
    // Names are ordered as they compare in the snapshot's path style.
    sql += " WHERE d.Snapshot = ?1 AND d.Parentdir = ?2 ORDER BY d.Entrytype, " +
           NameOperand(&dialect, style, "d.Shortname") + ", d.Dirname";
    return sql;
}

}  // namespace

StoreError ListDirectoryChildren(DatabaseState& database, const DateTime& snapshot, std::string_view parent,
                                 PathStyle style, std::vector<DirectoryChild>& children, const DateTime& compare,
                                 SizeBasis basis) {
    children.clear();
    if (!database.IsUsable()) return NotOpenError("Dir");
    const engine::Dialect& dialect = database.Engine->SqlDialect();
    QueryParts parts{.Style = style, .Hints = {.Dialect = &dialect}, .Basis = basis};
    Statement query;
    StoreError error;
    if (basis == SizeBasis::Disk) error = DiskTablesExist(database, parts.Hints.DiskTables);
    if (error.Ok()) error = query.Prepare(database, ChildrenSql(dialect, style, !compare.IsNull(), parts));
    if (error.Ok()) error = query.BindText(1, FormatKey(snapshot));
    if (error.Ok()) error = query.BindText(2, parent);
    if (error.Ok() && !compare.IsNull()) error = query.BindText(3, FormatKey(compare));
    for (bool row = true; error.Ok() && (error = query.Step(row)).Ok() && row;) {
        children.push_back({std::string(query.Text(0)), std::string(query.Text(1)), query.Int64(2) != 0,
                            query.Int64(3) != 0, query.Double(4), query.Double(5), query.Int64(6)});
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
        "d.Parentdir <> ?4 AND NOT EXISTS (SELECT 1 FROM Dir p WHERE p.Snapshot = ?1 AND p.Dirname = d.Parentdir "
        "AND p.Entrytype = '2')");
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
