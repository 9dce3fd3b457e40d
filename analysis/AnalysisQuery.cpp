#include "analysis/AnalysisQuery.h"

#include <cctype>
#include <string>

#include "analysis/AnalysisCatalogue.h"

namespace corvina {

namespace {

// The grid never shows more than 1000 rows, so no query needs to deliver more;
// the limit lets the engine keep only the top rows of a sort.
constexpr std::string_view kRowLimit = " LIMIT 1000";

// Names are compared as the snapshot's file system compares them: byte for
// byte on POSIX, without regard to (ASCII) case on Windows.
std::string Coll(PathStyle style) { return style == PathStyle::Windows ? " COLLATE NOCASE" : ""; }

// column is the directory itself or lies below it. The first range keeps the
// scan on the index; the second condition drops names such as "/data-x" that
// sort between "/data" and "/data/".
// Every files row of a snapshot lies in the tree of its base path (the walk
// writes nothing else), so the tree of the base path needs no condition.
std::string InTree(const std::string& column, PathStyle style, const QueryHints& hints) {
    if (hints.WholeSnapshot) return "1";
    std::string c = Coll(style);
    return "(" + column + " >= :q" + c + " AND " + column + " < :hi" + c + " AND (" + column + " = :q" + c + " OR " +
           column + " >= :lo" + c + "))";
}

// Whole part, rounded towards minus infinity, of a real expression.
std::string RoundDown(const std::string& x) {
    return "(CAST(" + x + " AS INTEGER) - ((" + x + ") < CAST(" + x + " AS INTEGER)))";
}

struct ColumnSettings {
    int Count;
    std::string_view Formats;  // one rule per column
    int PercentColumn;         // -1 none
    int PercentField;
    int Chart;                 // -1 leaves ChartColumn
};

ColumnSettings SettingsOf(int kind) {
    switch (kind) {
        case DirectoryDetails: return {4, "CNSP", 3, 2, -1};
        case CompareDirectories: return {6, "CSSSNP", 5, 3, -1};
        case NewDirectories:
        case DeletedDirectories: return {3, "CNS", -1, 0, -1};
        case DirectoryHistory: return {3, "DNS", -1, 0, 2};
        case FilesInDirectory: return {4, "CSDP", 3, 1, 1};
        case FilesInTree: return {4, "CCSD", -1, 0, 2};
        case ChangedFiles: return {7, "CCSSDSD", -1, 0, 0};
        case NewFiles: return {4, "CCSD", -1, 0, 1};
        case DeletedFiles: return {4, "CCSD", -1, 0, 0};
        case FileTypeSummary: return {3, "CNS", -1, 0, 2};
        default: return {4, "CCSD", -1, 0, 1};  // DuplicateFiles, RecentlyChangedFiles
    }
}

void SetColumns(int kind, const AnalysisState& state, GridSettings& grid) {
    ColumnSettings settings = SettingsOf(kind);
    grid.ColumnCount = settings.Count;
    for (std::size_t i = 0; i < static_cast<std::size_t>(settings.Count); ++i) {
        grid.ColumnFormat[i] = settings.Formats[i];
    }
    if (settings.PercentColumn >= 0) {
        auto column = static_cast<std::size_t>(settings.PercentColumn);
        grid.PercentSource[column] = settings.PercentField;
        grid.PercentBase[column] = kind == DirectoryDetails     ? state.DirTotal
                                   : kind == CompareDirectories ? state.DirTotal - state.CompareDirTotal
                                                                : -1;
    }
    if (settings.Chart >= 0) grid.ChartColumn = settings.Chart;
}

// The files of a tree. When the tree holds most of the table's rows, one pass
// over the table is cheaper than the index range and a row lookup per file.
std::string FilesSource(const QueryHints& hints) { return hints.WideTree ? "files a NOT INDEXED" : "files a"; }

// A file analysis of the prime snapshot over the tree: select list and order.
std::string FilesOfTree(std::string_view select, std::string_view order, PathStyle style, const QueryHints& hints) {
    return "SELECT " + std::string(select) + " FROM " + FilesSource(hints) + " WHERE a.Snapshot = :d1 AND " +
           InTree("a.Filedir", style, hints) + " ORDER BY " + std::string(order) + std::string(kRowLimit);
}

// The files of the tree in snapshot key whose directory and name the other
// snapshot does not have. Both sides come from the (Snapshot, Filedir,
// Filename) index in its order, so the engine merges the two lists in one pass
// instead of looking each file up in the other snapshot; the rows found are
// then read by their key. A file's directory decides whether it is in the
// tree, so limiting the other side to the tree changes nothing.
std::string MissingFiles(std::string_view key, std::string_view otherKey, PathStyle style, const QueryHints& hints) {
    std::string c = Coll(style);
    auto side = [&](std::string_view k) {
        return "SELECT Filedir" + c + ", Filename" + c + " FROM files WHERE Snapshot = " + std::string(k) + " AND " +
               InTree("Filedir", style, hints);
    };
    // The ORDER BY makes the engine merge; LIMIT -1 keeps it from dropping
    // the order of a subquery. The rows found are this snapshot's own texts,
    // so they are read back byte for byte through the index.
    return "WITH missing(Dir, Name) AS (" + side(key) + " EXCEPT " + side(otherKey) +
           " ORDER BY 1, 2 LIMIT -1) SELECT a.Filename, a.Filedir, a.Filesize, a.Filedate, a.Filetype, a.Fileattr "
           "FROM missing CROSS JOIN files a WHERE a.Snapshot = " + std::string(key) +
           " AND a.Filedir = (missing.Dir COLLATE BINARY) AND a.Filename = (missing.Name COLLATE BINARY)"
           " ORDER BY 3 DESC, a.Filedir, a.Filename" + std::string(kRowLimit);
}

std::string MissingDirs(std::string_view key, std::string_view otherKey, PathStyle style) {
    std::string c = Coll(style);
    return "SELECT Shortname, Files, TotsizeF FROM Dir a WHERE a.Snapshot = " + std::string(key) +
           " AND a.Parentdir = :q" + c + " AND NOT EXISTS (SELECT 1 FROM Dir b WHERE b.Snapshot = " +
           std::string(otherKey) + " AND b.Dirname = a.Dirname" + c + ") ORDER BY 3 DESC, a.Shortname" +
           std::string(kRowLimit);
}

std::string GrowthPercent() {
    return "CASE WHEN a.TotsizeF = 0 THEN 0 ELSE " + RoundDown("(a.TotsizeF - b.TotsizeF) * 100 / a.TotsizeF") +
           " END";
}

void BuildSql(int kind, PathStyle style, const QueryHints& hints, GridSettings& grid) {
    const std::string c = Coll(style);
    const std::string fileColumns = "a.Filename, a.Filedir, a.Filesize, a.Filedate, a.Filetype, a.Fileattr";
    std::string& sql = grid.AnalysisSql.Sql;
    std::string& total = grid.TotalSql.Sql;
    switch (kind) {
        case DirectoryDetails:
            sql = "SELECT Shortname, Files, TotsizeF, Snapshot, Entrytype, Dirname, Shortname, Parentdir, Dirlevel "
                  "FROM Dir WHERE Snapshot = :d1 AND Parentdir = :q" + c + " ORDER BY 3 DESC, Shortname" +
                  std::string(kRowLimit);
            total = "SELECT 'Total for ' || :s, Files, TotsizeF, 100 FROM Dir WHERE Snapshot = :d1 AND Dirname = :q" + c;
            break;
        case CompareDirectories:
            // No order: the rows come as the engine finds them, the subdirectories
            // of the prime snapshot in index order.
            sql = "SELECT a.Shortname, a.TotsizeF, b.TotsizeF, a.TotsizeF - b.TotsizeF, " + GrowthPercent() +
                  " FROM Dir a, Dir b WHERE a.Snapshot = :d1 AND b.Snapshot = :d2 AND a.Parentdir = :q" + c +
                  " AND b.Dirname = a.Dirname" + c + std::string(kRowLimit);
            total = "SELECT 'Total for ' || :s, a.TotsizeF, b.TotsizeF, a.TotsizeF - b.TotsizeF, " + GrowthPercent() +
                    ", 100 FROM Dir a, Dir b WHERE a.Snapshot = :d1 AND b.Snapshot = :d2 AND a.Dirname = :q" + c +
                    " AND b.Dirname = :q" + c;
            break;
        case NewDirectories: sql = MissingDirs(":d1", ":d2", style); break;
        case DeletedDirectories: sql = MissingDirs(":d2", ":d1", style); break;
        case DirectoryHistory:
            // The few Control rows of the base path lead; each finds its Dir row
            // by (Snapshot, Dirname).
            sql = "SELECT a.Snapshot, a.Files, a.TotsizeF FROM Control b CROSS JOIN Dir a WHERE b.Basepath = :b" + c +
                  " AND a.Snapshot = b.Snapshot AND a.Dirname = :q" + c + " ORDER BY a.Snapshot" +
                  std::string(kRowLimit);
            break;
        case FilesInDirectory:
            sql = "SELECT Filename, Filesize, Filedate, Fileattr FROM files WHERE Snapshot = :d1 AND Filedir = :q" + c +
                  " ORDER BY Filesize DESC, Filename" + std::string(kRowLimit);
            total = "SELECT 'Total for ' || :s, TotsizeF, ' ', ' ' FROM Dir WHERE Snapshot = :d1 AND Dirname = :qf" + c;
            break;
        case FilesInTree:
            sql = FilesOfTree(fileColumns, "a.Filesize DESC, a.Filedir, a.Filename", style, hints);
            total = "SELECT 'Total for ' || :s, ' ', TotsizeF, ' ' FROM Dir WHERE Snapshot = :d1 AND Dirname = :q" + c;
            break;
        case ChangedFiles:
            // The files of the tree in both snapshots, read once; FileListMerge
            // pairs them up in memory (a lookup per file costs a million seeks).
            sql = "SELECT a.Snapshot = :d1, a.Filedir, a.Filename, a.Filesize, a.Filedate FROM " +
                  FilesSource(hints) + " WHERE a.Snapshot IN (:d1, :d2) AND " + InTree("a.Filedir", style, hints);
            grid.AnalysisSql.Engine = QueryEngine::ChangedFilesMerge;
            break;
        case NewFiles:
            sql = MissingFiles(":d1", ":d2", style, hints);
            break;
        case DeletedFiles:
            sql = MissingFiles(":d2", ":d1", style, hints);
            break;
        case FileTypeSummary:
            sql = "SELECT a.Filetype, count(*), sum(a.Filesize) FROM " + FilesSource(hints) + " WHERE a.Snapshot = :d1 AND " +
                  InTree("a.Filedir", style, hints) + " GROUP BY a.Filetype ORDER BY 3 DESC, a.Filetype" +
                  std::string(kRowLimit);
            break;
        case DuplicateFiles:
            // The names of the tree's files, counted in memory by FileListMerge
            // (the engine would sort every name of the tree).
            sql = "SELECT Filename, Filedir, rowid FROM files WHERE Snapshot = :d1 AND " + InTree("Filedir", style, hints) +
                  " ORDER BY Filedir";
            grid.AnalysisSql.Engine = QueryEngine::DuplicateNames;
            break;
        default:  // RecentlyChangedFiles
            sql = FilesOfTree(fileColumns, "a.Filedate DESC, a.Filedir, a.Filename", style, hints);
            break;
    }
}

}  // namespace

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
    grid.TotalSql = {};
    grid.ColumnFormat.fill('C');
    const int kind = state.AnalysisKind;
    if (FindAnalysis(kind) == nullptr) return;

    SetColumns(kind, state, grid);
    grid.AnalysisSql = {};
    BuildSql(kind, state.Style, hints, grid);

    TreeBounds bounds = TreeBoundsOf(state.QueryDirectory, state.Style);
    std::vector<std::pair<std::string, std::string>> params{
        {":d1", FormatKey(state.SnapshotDate)},
        {":d2", FormatKey(state.CompareSnapshotDate)},
        {":q", state.QueryDirectory},
        {":lo", bounds.Lo},
        {":hi", bounds.Hi},
        {":qf", FilesEntryName(state.QueryDirectory, state.Style)},
        {":s", state.SelectedDirectory},
        {":b", state.BasePath},
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
