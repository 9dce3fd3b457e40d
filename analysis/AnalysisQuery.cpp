#include "analysis/AnalysisQuery.h"

#include <cctype>
#include <string>

#include "analysis/AnalysisCatalogue.h"

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

}  // namespace

// A size on disk where the database has no table of them: typed, so that
// an engine sums and compares it as it would a figure.
constexpr std::string_view kNoDiskSize = "CAST(NULL AS BIGINT)";

std::string QueryParts::DirSize(std::string_view alias) const {
    if (Basis == SizeBasis::Apparent) return std::string(alias) + ".TotsizeF";
    if (!Hints.DiskTables) return std::string(kNoDiskSize);
    return "k" + std::string(alias) + ".Diskbytes";
}

// Dirdisk holds the Dirname text of its Dir row as it is: an exact
// comparison, whatever the path style, finds it through its key.
std::string QueryParts::DirSizeJoin(std::string_view alias) const {
    if (Basis == SizeBasis::Apparent || !Hints.DiskTables) return {};
    const std::string a(alias), k = "k" + a;
    return " LEFT JOIN Dirdisk " + k + " ON " + k + ".Snapshot = " + a + ".Snapshot AND " + k + ".Dirname = " + a +
           ".Dirname";
}

std::string QueryParts::FileSize(std::string_view alias) const {
    if (Basis == SizeBasis::Apparent) return std::string(alias) + ".Filesize";
    if (!Hints.DiskTables) return std::string(kNoDiskSize);
    return "k" + std::string(alias) + ".Diskbytes";
}

std::string QueryParts::FileSizeJoin(std::string_view alias) const {
    if (Basis == SizeBasis::Apparent || !Hints.DiskTables) return {};
    const std::string a(alias), k = "k" + a;
    return " LEFT JOIN Filedisk " + k + " ON " + k + ".Snapshot = " + a + ".Snapshot AND " + k + ".Filedir = " + a +
           ".Filedir AND " + k + ".Filename = " + a + ".Filename";
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
std::string QueryParts::FilesSource() const {
    if (!Hints.WideTree) return "files a" + FileSizeJoin("a");
    return "files a" + std::string(Hints.Dialect != nullptr ? Hints.Dialect->NotIndexed() : " NOT INDEXED") +
           FileSizeJoin("a");
}

std::string QueryParts::FileColumns() const {
    return "a.Filename, a.Filedir, " + FileSize("a") + ", a.Filedate, a.Filetype, a.Fileattr";
}

std::string QueryParts::FilesOfTree(std::string_view select, std::string_view order) const {
    return "SELECT " + std::string(select) + " FROM " + FilesSource() + " WHERE a.Snapshot = :d1 AND " +
           InTree("a.Filedir") + " ORDER BY " + std::string(order) + Limit();
}

// Without NOCASE, File1 delivers the rows in this order as they are stored;
// with it, the engine sorts them (File1 orders bytes), spilling to a
// temporary file rather than holding a large tree in memory.
std::string QueryParts::FilesInKeyOrder(bool sized) const {
    const std::string select = sized ? "a.Filedir, a.Filename, " + FileSize("a") + ", a.Filedate"
                                     : std::string("a.Filedir, a.Filename");
    return "SELECT " + select + " FROM files a" + (sized ? FileSizeJoin("a") : std::string()) +
           " WHERE a.Snapshot = :key AND " + InTree("a.Filedir") + " ORDER BY " + Name("a.Filedir") + ", " +
           Name("a.Filename");
}

std::string QueryParts::FileByKey(std::string_view fields) const {
    return "SELECT " + std::string(fields) + " FROM files a" + FileSizeJoin("a") +
           " WHERE a.Snapshot = :key AND a.Filedir = :dir AND a.Filename = :name";
}

std::string QueryParts::MissingDirs(std::string_view key, std::string_view otherKey) const {
    // A files entry pairs with a files entry only: a directory called
    // "(files)" bears the same name as its parent's files entry.
    return "SELECT a.Shortname, a.Files, " + DirSize("a") + " FROM Dir a" + DirSizeJoin("a") +
           " WHERE a.Snapshot = " + std::string(key) +
           " AND " + Same("a.Parentdir", ":q") + " AND NOT EXISTS (SELECT 1 FROM Dir b WHERE b.Snapshot = " +
           std::string(otherKey) + " AND " + Same("b.Dirname", "a.Dirname") +
           " AND b.Entrytype = a.Entrytype) ORDER BY 3 DESC, a.Shortname" + Limit();
}

// A files entry's Parentdir is its directory, so the tree's range over the
// (Snapshot, Parentdir) index finds them, the query directory's own included.
std::string QueryParts::OwnFilesOfTree() const {
    const std::string size = DirSize("a");
    auto side = [&](std::string_view key, const std::string& values) {
        return "SELECT a.Parentdir, " + values + " FROM Dir a" + DirSizeJoin("a") + " WHERE a.Snapshot = " +
               std::string(key) + " AND a.Entrytype = '1' AND " + InTree("a.Parentdir");
    };
    return "WITH own(Dir, F1, B1, F2, B2) AS (" + side(":d1", "a.Files, " + size + ", 0, 0") + " UNION ALL " +
           side(":d2", "0, 0, a.Files, " + size) + ")";
}

// Sizes on disk are whole numbers: their share is taken as a real, as that
// of the real totals is, so that it rounds down rather than towards zero.
std::string QueryParts::GrowthPercent() const {
    const std::string a = DirSize("a"), b = DirSize("b");
    const std::string hundred = Basis == SizeBasis::Apparent ? "100" : "100.0";
    return "CASE WHEN " + a + " = 0 THEN 0 ELSE " + RoundDown("(" + a + " - " + b + ") * " + hundred + " / " + a) +
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
    grid.AnalysisSql = BoundQuery{std::move(queries.Detail), {}, queries.Engine, std::move(queries.Fetch)};
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
