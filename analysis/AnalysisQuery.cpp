#include "analysis/AnalysisQuery.h"

#include <cctype>
#include <string>

#include "analysis/AnalysisCatalogue.h"
#include "store/DiskUsage.h"
#include "store/HistoryLayout.h"

namespace corvina {

namespace {

// Whole part, rounded towards minus infinity, of a real expression: right
// whether the engine's cast cuts towards zero or rounds to the nearest.
std::string RoundDown(const std::string& x) {
    return "(CAST(" + x + " AS BIGINT) - CASE WHEN (" + x + ") < CAST(" + x + " AS BIGINT) THEN 1 ELSE 0 END)";
}

double ShareBaseValue(ShareBase base, const AnalysisState& state) {
    switch (base) {
        case ShareBase::DirTotal: return state.DirTotal;
        case ShareBase::DirGrowth: return state.DirTotal - state.CompareDirTotal;
        case ShareBase::FirstRecord: return -1;
    }
    return -1;
}

void SetColumns(const AnalysisEntry& entry, const AnalysisState& state, GridSettings& grid) {
    grid.ColumnCount = static_cast<int>(entry.Columns.size());
    grid.SizeRounding = entry.Rounding;
    for (std::size_t i = 0; i < entry.Columns.size(); ++i) {
        const ColumnEntry& column = entry.Columns[i];
        grid.ColumnFormat[i] = column.Rule;
        if (column.ShareOf >= 0) {
            grid.PercentSource[i] = column.ShareOf;
            grid.PercentBase[i] = ShareBaseValue(column.Base, state);
        }
    }
    if (entry.ChartColumn) grid.ChartColumn = *entry.ChartColumn;
}

// A size on disk where the database has no table of them.
constexpr std::string_view kNoDiskSize = "NULL";

// The engine's real type: the totals of Dir are reals, and a share of one is
// taken as a real, rounding down rather than towards zero.
std::string RealType(const engine::Dialect* dialect) {
    return dialect != nullptr ? std::string(dialect->TypeName(engine::ValueKind::Real)) : "REAL";
}

std::string Aliased(std::string_view table, std::string_view alias) {
    return std::string(table) + " " + std::string(alias.empty() ? table : alias);
}

}  // namespace

std::string QueryParts::DirSource(std::string_view alias, std::string_view relation) const {
    const std::string dir(relation);
    if (Basis == SizeBasis::Apparent) {
        if (alias.empty()) return dir == "Dir" ? dir : dir + " Dir";
        return dir + " " + std::string(alias);
    }
    return Aliased("(SELECT d.Snapshot, d.Entrytype, d.Dirname, d.Shortname, d.Parentdir, d.Dirlevel, d.Files, CAST(" +
                       DirSize("d") + " AS " + RealType(Hints.Dialect) + ") AS TotsizeF FROM " + dir + " d)",
                   alias.empty() ? "Dir" : alias);
}

bool QueryParts::ReadsDiskFigures() const {
    return Basis == SizeBasis::Disk && Hints.DiskTables && Hints.PrimeDiskFigures;
}

// The hint that reads files in one pass stays on the table, inside the view.
// A prime snapshot without figures has only nulls to show (a comparison on
// disk needs both snapshots' figures).
std::string QueryParts::FilesTable(std::string_view alias, bool onePass, std::string_view relation) const {
    const std::string hint(!onePass                 ? std::string_view()
                           : Hints.Dialect != nullptr ? Hints.Dialect->NotIndexed()
                                                      : std::string_view(" NOT INDEXED"));
    const std::string files(relation);
    if (Basis == SizeBasis::Apparent) return (alias.empty() ? files : files + " " + std::string(alias)) + hint;
    std::string size = "CAST(NULL AS BIGINT)", join;
    if (ReadsDiskFigures()) {
        // A file without its Filedisk row takes its length in whole units.
        FilediskSql terms = FilediskTerms({.Files = "f", .Filedisk = "k", .Diskusage = "ku"});
        size = std::move(terms.Diskbytes);
        join = std::move(terms.Joins);
    }
    return Aliased("(SELECT f.Snapshot, f.Filename, " + size + " AS Filesize, f.Filetype, f.Filedir, f.Fileattr, "
                   "f.Filedate FROM " + files + " f" + hint + join + ")",
                   alias.empty() ? "files" : alias);
}

// Dirdisk holds the Dirname text and entry type of its Dir row as they are:
// an exact comparison, whatever the path style, finds it through its key
// (a files entry and a subdirectory named "(files)" share a Dirname). It is
// read as a value of its own rather than joined: where Dirdisk is a view of
// several tables (the history layout), an engine would rather read the whole
// view than look into it from the outer side of a join.
std::string QueryParts::DirSize(std::string_view alias) const {
    if (Basis == SizeBasis::Apparent) return std::string(alias) + ".TotsizeF";
    if (!Hints.DiskTables) return std::string(kNoDiskSize);
    const std::string a(alias), k = "k" + a;
    return "(SELECT " + k + ".Diskbytes FROM Dirdisk " + k + " WHERE " + k + ".Snapshot = " + a + ".Snapshot AND " + k +
           ".Dirname = " + a + ".Dirname AND " + k + ".Entrytype = " + a + ".Entrytype)";
}

std::string QueryParts::Limit() const {
    if (RowLimit <= 0) return {};
    return " LIMIT " + std::to_string(static_cast<long long>(RowLimit) + 1);
}

std::string NameOperand(const engine::Dialect* dialect, PathStyle style, std::string_view expr) {
    if (style != PathStyle::Windows) return std::string(expr);
    if (dialect == nullptr) return std::string(expr) + " COLLATE NOCASE";
    return dialect->CaseInsensitive(expr);
}

std::string QueryParts::Name(std::string_view expr) const { return NameOperand(Hints.Dialect, Style, expr); }

std::string QueryParts::Same(std::string_view a, std::string_view b) const { return Name(a) + " = " + Name(b); }

std::string QueryParts::GroupName(std::string_view expr) const {
    if (Style != PathStyle::Windows || Hints.Dialect == nullptr) return std::string(expr);
    return Hints.Dialect->GroupValue(expr);
}

// The first range keeps the scan on the index; the second condition drops
// names such as "/data-x" that sort between "/data" and "/data/".
// Every files row of a snapshot lies in the tree of its base path (the walk
// writes nothing else), so the tree of the base path needs no condition.
std::string QueryParts::InTree(const std::string& column) const {
    if (Hints.WholeSnapshot) return "1 = 1";
    const std::string n = Name(column);
    return "(" + n + " >= " + Name(":q") + " AND " + n + " < " + Name(":hi") + " AND (" + n + " = " + Name(":q") +
           " OR " + n + " >= " + Name(":lo") + "))";
}

// When the tree holds most of the table's rows, one pass over the table is
// cheaper than the index range and a row lookup per file.
// In the history layout the tree's paths lead, in the order of their
// names, the snapshot's whole tree too: read the other way round, every
// file span of the chain looks its path up and the names sort afterwards.
// (A file holding the paths of many chains pays a look for each of the
// others' paths in a whole-snapshot read.)
std::string QueryParts::FilesSource() const { return FilesTable("a", Hints.WideTree, TreeFiles()); }

std::string QueryParts::TreeFiles() const {
    if (!Hints.History) return "files";
    return "(" + history::FilesUnderSql(InTree("p.Dirname")) + ")";
}

std::string QueryParts::FilesOfTree(std::string_view select, std::string_view order) const {
    return "SELECT " + std::string(select) + " FROM " + FilesSource() + " WHERE a.Snapshot = :d1 AND " +
           InTree("a.Filedir") + " ORDER BY " + std::string(order) + Limit();
}

std::string QueryParts::FilesOfTreeOnDisk(std::string_view order) const {
    const std::string hint(!Hints.WideTree ? std::string_view()
                           : Hints.Dialect != nullptr ? Hints.Dialect->NotIndexed()
                                                      : std::string_view(" NOT INDEXED"));
    const FilediskSql terms = FilediskTerms({.Files = "a", .Filedisk = "k", .Diskusage = "ku"});
    return "SELECT a.Filename, a.Filedir, " + terms.Diskbytes + ", a.Filedate, a.Filetype, a.Fileattr FROM (SELECT "
           "a.Snapshot, a.Filename, a.Filedir, a.Filesize, a.Filedate, a.Filetype, a.Fileattr FROM " + TreeFiles() + " a" + hint +
           " WHERE a.Snapshot = :d1 AND " + InTree("a.Filedir") + " ORDER BY " + std::string(order) + Limit() + ") a" +
           terms.Joins + " ORDER BY " + std::string(order);
}

std::string QueryParts::DiskSizesInKeyOrder() const {
    return "SELECT Filedir, Filename, Diskbytes FROM Filedisk WHERE Snapshot = :key AND " + InTree("Filedir") +
           " ORDER BY Filedir, Filename";
}

// Without NOCASE, File1 delivers the rows in this order as they are stored;
// with it, the engine sorts them (File1 orders bytes), spilling to a
// temporary file rather than holding a large tree in memory.
// In the history layout a side reads only its files whose rows the other
// side (:other) does not share: those that changed, came or went.
std::string QueryParts::FilesInKeyOrder(std::string_view fields, bool sized) const {
    const std::string relation = Hints.History ? "(" + history::DifferingFilesSql(":other") + ")" : "files";
    const bool onDisk = sized && Basis == SizeBasis::Disk;
    const std::string source = onDisk          ? FilesTable({}, false, relation)
                               : Hints.History ? relation + " files"
                                               : relation;
    return "SELECT " + std::string(fields) + " FROM " + source + " WHERE Snapshot = :key AND " + InTree("Filedir") +
           " ORDER BY " + Name("Filedir") + ", " + Name("Filename");
}

std::string QueryParts::MissingDirs(std::string_view key, std::string_view otherKey) const {
    // A files entry pairs with a files entry only: a directory called
    // "(files)" bears the same name as its parent's files entry.
    return "SELECT Shortname, Files, TotsizeF FROM " + DirSource("a") + " WHERE a.Snapshot = " + std::string(key) +
           " AND " + Same("a.Parentdir", ":q") + " AND NOT EXISTS (SELECT 1 FROM Dir b WHERE b.Snapshot = " +
           std::string(otherKey) + " AND " + Same("b.Dirname", "a.Dirname") +
           " AND b.Entrytype = a.Entrytype) ORDER BY 3 DESC, a.Shortname" + Limit();
}

// A files entry's Parentdir is its directory, so the tree's range over the
// (Snapshot, Parentdir) index finds them, the query directory's own included.
std::string QueryParts::OwnFilesOfTree(bool changedOnly) const {
    auto side = [&](std::string_view key, std::string_view other, std::string_view values) {
        const std::string relation =
            changedOnly && Hints.History ? "(" + history::DifferingDirsSql(other) + ")" : std::string("Dir");
        return "SELECT Parentdir, " + std::string(values) + " FROM " + DirSource({}, relation) + " WHERE Snapshot = " +
               std::string(key) + " AND Entrytype = '1' AND " + InTree("Parentdir");
    };
    return "WITH own(Dir, F1, B1, F2, B2) AS (" + side(":d1", ":d2", "Files, TotsizeF, 0, 0") + " UNION ALL " +
           side(":d2", ":d1", "0, 0, Files, TotsizeF") + ")";
}

std::string QueryParts::GrowthPercent() {
    return "CASE WHEN a.TotsizeF = 0 THEN 0 ELSE " + RoundDown("(a.TotsizeF - b.TotsizeF) * 100 / a.TotsizeF") +
           " END";
}

TreeBounds TreeBoundsOf(std::string_view directory, PathStyle style) {
    const char sep = Separator(style);
    TreeBounds bounds;
    bounds.Lo = std::string(directory);
    if (bounds.Lo.empty() || bounds.Lo.back() != sep) bounds.Lo += sep;
    bounds.Hi = bounds.Lo;
    bounds.Hi.back() = static_cast<char>(sep + 1);
    return bounds;
}

void BuildAnalysisQuery(const AnalysisState& state, GridSettings& grid, const QueryHints& hints) {
    const AnalysisEntry& entry = EntryOf(state.AnalysisKind);
    grid.ColumnFormat.fill(ColumnRule::Text);
    SetColumns(entry, state, grid);
    grid.MarksMissingFigures = state.SizeBasis == SizeBasis::Disk && !entry.NeedsCompare;
    KindQueries queries =
        entry.Query(QueryParts{state.Style, hints, state.Host.has_value(), state.RowLimit, state.SizeBasis});
    grid.AnalysisSql = BoundQuery{std::move(queries.Detail), {}, queries.Engine, std::move(queries.Fetch),
                                  std::move(queries.DiskSizes)};
    grid.TotalSql = BoundQuery{std::move(queries.Total), {}, QueryEngine::Sql};

    TreeBounds bounds = TreeBoundsOf(state.QueryDirectory, state.Style);
    std::vector<std::pair<std::string, std::string>> params{
        {":d1", FormatKey(state.SnapshotDate)},
        {":d2", FormatKey(state.CompareSnapshotDate)},
        {":q", state.QueryDirectory},
        {":qt", EntrytypeText(state.QueryEntrytype)},
        {":lo", bounds.Lo},
        {":hi", bounds.Hi},
        {":qf", FilesEntryName(state.QueryDirectory, state.Style)},
        {":s", state.SelectedDirectory},
        {":b", state.BasePath},
        {":h", state.Host.value_or("")},
    };
    // Bind only what each text names: binding an unknown name is an error.
    for (BoundQuery* query : {&grid.AnalysisSql, &grid.TotalSql}) {
        if (query->Empty()) continue;
        for (const auto& param : params) {
            const std::string& sql = query->Sql;
            for (std::size_t at = sql.find(param.first); at != std::string::npos; at = sql.find(param.first, at + 1)) {
                std::size_t after = at + param.first.size();
                if (after == sql.size() || !(std::isalnum(static_cast<unsigned char>(sql[after])))) {
                    query->Params.push_back(param);
                    break;
                }
            }
        }
    }
}

}  // namespace corvina
