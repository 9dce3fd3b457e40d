#include "analysis/AnalysisCatalogue.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string>

#include "store/HostLabel.h"

namespace corvina {

namespace {

constexpr std::string_view kFileColumns = "a.Filename, a.Filedir, a.Filesize, a.Filedate, a.Filetype, a.Fileattr";

// What the comparisons of file lists read of each file they show, by its key.
std::string MissingFileFetch(const QueryParts& q) {
    return "SELECT Filesize, Filedate, Filetype, Fileattr FROM " + q.FilesTable() +
           " WHERE Snapshot = ? AND Filedir = ? AND Filename = ?";
}

// Rows of the file analyses that list files: name, directory, size, date.
std::vector<ColumnEntry> FileListColumns(int directoryWidth, int sizeWidth) {
    using R = ColumnRule;
    return {{"File", 2000},
            {"Directory", directoryWidth},
            {"Size{unit}", sizeWidth, R::Size},
            {"File Date", 2000, R::Date}};
}

std::vector<AnalysisEntry> MakeCatalogue() {
    using K = AnalysisKind;
    using M = AnalysisMenu;
    using R = ColumnRule;
    return {
        {.Kind = K::DirectoryDetails,
         .Name = "DirectoryDetails",
         .CommandName = "directory-details",
         .MenuCaption = "&Directory Details",
         .Menu = M::Directories,
         .Columns = {{"Directory Name", 2000},
                     {"# of Files", 1000, R::Count},
                     {"Total size {unit}", 1500, R::Size},
                     {"% of Total", 1000, R::Percent, 2, ShareBase::DirTotal}},
         .Title = "Analysis of directory {dir}",
         .Query = [](const QueryParts& q) {
             return KindQueries{
                 "SELECT Shortname, Files, TotsizeF, Snapshot, Entrytype, Dirname, Shortname, Parentdir, Dirlevel "
                 "FROM " + q.DirSource() + " WHERE Snapshot = :d1 AND " + q.Same("Parentdir", ":q") +
                     " ORDER BY 3 DESC, Shortname" + q.Limit(),
                 "SELECT 'Total for ' || :s, Files, TotsizeF, 100 FROM " + q.DirSource() +
                     " WHERE Snapshot = :d1 AND " + q.Same("Dirname", ":q") + " AND Entrytype = :qt"};
         }},
        {.Kind = K::CompareDirectories,
         .Name = "CompareDirectories",
         .CommandName = "compare-directories",
         .MenuCaption = "Compare Directory Info",
         .Menu = M::Directories,
         .NeedsCompare = true,
         .Columns = {{"Directory", 1500},
                     {"Size ({prime}) {unit}", 1500, R::Size},
                     {"Size ({compare}) {unit}", 1500, R::Size},
                     {"Increase {unit}", 1200, R::Size},
                     {"% incr", 800, R::Count},
                     {"% of Total Incr", 1200, R::Percent, 3, ShareBase::DirGrowth}},
         .Title = "Compare {dir} from {compare} to {prime}",
         .Query = [](const QueryParts& q) {
             // No order: the rows come as the engine finds them, the
             // subdirectories of the prime snapshot in index order. A files
             // entry pairs with a files entry only (a directory may be
             // called "(files)").
             return KindQueries{
                 "SELECT a.Shortname, a.TotsizeF, b.TotsizeF, a.TotsizeF - b.TotsizeF, " + q.GrowthPercent() +
                     " FROM " + q.DirSource("a") + ", " + q.DirSource("b") +
                     " WHERE a.Snapshot = :d1 AND b.Snapshot = :d2 AND " + q.Same("a.Parentdir", ":q") + " AND " +
                     q.Same("b.Dirname", "a.Dirname") + " AND b.Entrytype = a.Entrytype" + q.Limit(),
                 "SELECT 'Total for ' || :s, a.TotsizeF, b.TotsizeF, a.TotsizeF - b.TotsizeF, " + q.GrowthPercent() +
                     ", 100 FROM " + q.DirSource("a") + ", " + q.DirSource("b") +
                     " WHERE a.Snapshot = :d1 AND b.Snapshot = :d2 AND " +
                     q.Same("a.Dirname", ":q") + " AND " + q.Same("b.Dirname", ":q") +
                     " AND a.Entrytype = :qt AND b.Entrytype = :qt"};
         }},
        {.Kind = K::NewDirectories,
         .Name = "NewDirectories",
         .CommandName = "new-directories",
         .MenuCaption = "New Directories",
         .Menu = M::Directories,
         .NeedsCompare = true,
         .Columns = {{"Directory Name", 2000}, {"# of Files", 1000, R::Count}, {"Total size {unit}", 1500, R::Size}},
         .Title = "Directories in {prime} and not in {compare} in {dir}{filter}",
         .Query = [](const QueryParts& q) { return KindQueries{q.MissingDirs(":d1", ":d2")}; }},
        {.Kind = K::DeletedDirectories,
         .Name = "DeletedDirectories",
         .CommandName = "deleted-directories",
         .MenuCaption = "Deleted Directories",
         .Menu = M::Directories,
         .NeedsCompare = true,
         .Columns = {{"Directory Name", 2000}, {"# of Files", 1000, R::Count}, {"Total size {unit}", 1500, R::Size}},
         .Title = "Directories in {compare} and not in {prime} in {dir}{filter}",
         .Query = [](const QueryParts& q) { return KindQueries{q.MissingDirs(":d2", ":d1")}; }},
        {.Kind = K::DirectoryHistory,
         .Name = "DirectoryHistory",
         .CommandName = "directory-history",
         .MenuCaption = "Directory History",
         .Menu = M::Directories,
         .Columns = {{"Date", 2000, R::Date}, {"# of files", 1500, R::Count}, {"Size {unit}", 1500, R::Size}},
         .ChartColumn = 2,
         .ChartPoints = 50,
         .KeepsRowOrder = true,
         .Title = "History of {dir}",
         .Query = [](const QueryParts& q) {
             // The few Control rows of the base path lead; each finds its Dir
             // row by (Snapshot, Dirname). The history layout orders them by
             // their instants (store/SnapshotTime.h): keys are local times.
             const std::string time = q.Hints.History ? " LEFT JOIN Snap t ON t.Snapshot = b.Snapshot" : "";
             const std::string order =
                 q.Hints.History ? " ORDER BY CASE WHEN t.Instant IS NULL THEN 0 ELSE 1 END, t.Instant, a.Snapshot"
                                 : " ORDER BY a.Snapshot";
             if (!q.KeepsHost) {
                 return KindQueries{"SELECT a.Snapshot, a.Files, a.TotsizeF FROM Control b CROSS JOIN " +
                                    q.DirSource("a") + time + " WHERE " + q.Same("b.Basepath", ":b") +
                                    " AND a.Snapshot = b.Snapshot AND " + q.Same("a.Dirname", ":q") +
                                    " AND a.Entrytype = :qt" + order + q.Limit()};
             }
             return KindQueries{"SELECT a.Snapshot, a.Files, a.TotsizeF FROM Control b CROSS JOIN " + q.DirSource("a") +
                                JoinHostOf("b") + time + " WHERE " + q.Same("b.Basepath", ":b") + " AND " +
                                HostIs(":h") + " AND a.Snapshot = b.Snapshot AND " + q.Same("a.Dirname", ":q") +
                                " AND a.Entrytype = :qt" + order + q.Limit()};
         }},
        {.Kind = K::WhereDidItGrow,
         .Name = "WhereDidItGrow",
         .CommandName = "where-did-it-grow",
         .MenuCaption = "Where did it &grow",
         .Menu = M::Directories,
         .NeedsCompare = true,
         .Columns = {{"Directory", 2500},
                     {"Change in files", 1200, R::Count},
                     {"Change {unit}", 1300, R::Size},
                     {"Size ({prime}) {unit}", 1500, R::Size},
                     {"Size ({compare}) {unit}", 1500, R::Size}},
         .ChartColumn = 2,
         .PathRows = true,
         // Swapping the two snapshots turns every change round: it must
         // read the same, -1704 MB for +1704 MB, not -1705.
         .Rounding = SizeRounding::TowardZero,
         .Title = "Where did {dir} grow from {compare} to {prime}",
         .Query = [](const QueryParts& q) {
             // A directory whose own files did not change adds a row of no
             // change, which the rows leave out and the total needs.
             return KindQueries{
                 q.OwnFilesOfTree(true) + " SELECT " + q.GroupName("Dir") +
                     ", sum(F1) - sum(F2), sum(B1) - sum(B2), sum(B1), sum(B2) FROM own GROUP BY " + q.Name("Dir") +
                     " HAVING sum(F1) <> sum(F2) OR sum(B1) <> sum(B2) ORDER BY 3 DESC, 1" + q.Limit(),
                 q.OwnFilesOfTree() + " SELECT 'Total for ' || :s, sum(F1) - sum(F2), sum(B1) - sum(B2), sum(B1), "
                                      "sum(B2) FROM own"};
         }},
        {.Kind = K::FilesInDirectory,
         .Name = "FilesInDirectory",
         .CommandName = "files-in-directory",
         .MenuCaption = "Files within &Directory",
         .Menu = M::Files,
         .ReadsFiles = true,
         .Columns = {{"File", 2000},
                     {"Size{unit}", 1500, R::Size},
                     {"File Date", 2000, R::Date},
                     {"% of dir size", 1500, R::Percent, 1, ShareBase::FirstRecord}},
         .ChartColumn = 1,
         .Title = "Files within directory {dir}{filter}",
         .Query = [](const QueryParts& q) {
             return KindQueries{
                 "SELECT Filename, Filesize, Filedate, Fileattr FROM " + q.FilesTable() + " WHERE Snapshot = :d1 AND " +
                     q.Same("Filedir", ":q") + " ORDER BY Filesize DESC, Filename" + q.Limit(),
                 "SELECT 'Total for ' || :s, TotsizeF, ' ', ' ' FROM " + q.DirSource() + " WHERE Snapshot = :d1 AND " +
                     q.Same("Dirname", ":qf") + " AND Entrytype = '1'"};
         }},
        {.Kind = K::FilesInTree,
         .Name = "FilesInTree",
         .CommandName = "files-in-tree",
         .MenuCaption = "Files within directory &Tree",
         .Menu = M::Files,
         .ReadsFiles = true,
         .Columns = FileListColumns(2500, 1000),
         .ChartColumn = 2,
         .Title = "Files within {dir} directory tree {filter}",
         .Query = [](const QueryParts& q) {
             return KindQueries{
                 // On disk most files have no Filedisk row (their size is
                 // derived), so the largest are found in the files' view.
                 q.FilesOfTree(kFileColumns, "a.Filesize DESC, a.Filedir, a.Filename"),
                 "SELECT 'Total for ' || :s, ' ', TotsizeF, ' ' FROM " + q.DirSource() + " WHERE Snapshot = :d1 AND " +
                     q.Same("Dirname", ":q") + " AND Entrytype = :qt"};
         }},
        {.Kind = K::ChangedFiles,
         .Name = "ChangedFiles",
         .CommandName = "changed-files",
         .MenuCaption = "&Changed files",
         .Menu = M::Files,
         .NeedsCompare = true,
         .ReadsFiles = true,
         .Columns = {{"File", 2000},
                     {"Directory", 2500},
                     {"Change{unit}", 1300, R::Size},
                     {"Size{unit}", 1000, R::Size},
                     {"File Date", 2000, R::Date},
                     {"Size{unit}", 1000, R::Size},
                     {"File Date", 2000, R::Date}},
         .ChartColumn = 0,
         .Title = "Changed files in {dir} directory tree {filter}",
         .Query = [](const QueryParts& q) {
             // Both snapshots' files of the tree in key order, paired by
             // FileListMerge in one pass (a lookup per file costs a million
             // seeks).
             // On disk each side reads its sizes from Filedisk beside it,
             // in the same byte order, which the names of a POSIX snapshot
             // are paired in.
             if (q.ReadsDiskFigures() && q.Style == PathStyle::Posix) {
                 return KindQueries{q.FilesInKeyOrder("Filedir, Filename, Filesize, Filedate"), "",
                                    QueryEngine::ChangedFilesMerge, "", q.DiskSizesInKeyOrder()};
             }
             return KindQueries{q.FilesInKeyOrder("Filedir, Filename, Filesize, Filedate", true), "",
                                QueryEngine::ChangedFilesMerge};
         }},
        {.Kind = K::NewFiles,
         .Name = "NewFiles",
         .CommandName = "new-files",
         .MenuCaption = "&New files",
         .Menu = M::Files,
         .NeedsCompare = true,
         .ReadsFiles = true,
         .Columns = FileListColumns(2500, 1000),
         .ChartColumn = 1,
         .Title = "Files in {prime} and not in {compare} in {dir} directory tree {filter}",
         .Query = [](const QueryParts& q) {
             return KindQueries{q.FilesInKeyOrder("Filedir, Filename"), "", QueryEngine::NewFilesMerge,
                                MissingFileFetch(q)};
         }},
        {.Kind = K::DeletedFiles,
         .Name = "DeletedFiles",
         .CommandName = "deleted-files",
         .MenuCaption = "&Deleted files",
         .Menu = M::Files,
         .NeedsCompare = true,
         .ReadsFiles = true,
         .Columns = FileListColumns(2500, 1000),
         .ChartColumn = 0,
         .Title = "Files in {compare} and not in {prime} in {dir} directory tree {filter}",
         .Query = [](const QueryParts& q) {
             return KindQueries{q.FilesInKeyOrder("Filedir, Filename"), "", QueryEngine::DeletedFilesMerge,
                                MissingFileFetch(q)};
         }},
        {.Kind = K::FileTypeSummary,
         .Name = "FileTypeSummary",
         .CommandName = "file-type-summary",
         .MenuCaption = "Summarise by By File &Type",
         .Menu = M::Files,
         .ReadsFiles = true,
         .Columns = {{"File Type", 2000}, {"# of files", 1000, R::Count}, {"Size{unit}", 1000, R::Size}},
         .ChartColumn = 2,
         .Title = "Analysis by File Type within {dir} directory tree {filter}",
         .Query = [](const QueryParts& q) {
             // Summed in two parts that cannot overflow and ordered by
             // FileListMerge, which adds them up exactly.
             if (q.ReadsDiskFigures()) {
                 // Each file's type beside its size on disk, both in key order.
                 return KindQueries{"SELECT a.Filetype, a.Filedir, a.Filename, a.Filesize FROM " + q.TreeFiles() + " a WHERE "
                                    "a.Snapshot = :d1 "
                                    "AND " + q.InTree("a.Filedir") + " ORDER BY a.Filedir, a.Filename",
                                    "", QueryEngine::FileTypeDiskSums, "", q.DiskSizesInKeyOrder()};
             }
             return KindQueries{"SELECT a.Filetype, count(*), sum(a.Filesize >> 32), sum(a.Filesize & 4294967295) "
                                "FROM " + q.FilesSource() + " WHERE a.Snapshot = :d1 AND " + q.InTree("a.Filedir") +
                                    " GROUP BY a.Filetype",
                                "", QueryEngine::FileTypeSums};
         }},
        {.Kind = K::DuplicateFiles,
         .Name = "DuplicateFiles",
         .CommandName = "duplicate-files",
         .MenuCaption = "Duplicate files",
         .Menu = M::Files,
         .ReadsFiles = true,
         .Columns = FileListColumns(2000, 1500),
         .ChartColumn = 1,
         .Title = "Duplicate files within {dir} directory tree {filter}",
         .Query = [](const QueryParts& q) {
             // The names of the tree's files, counted in memory by
             // FileListMerge (the engine would sort every name of the tree).
             return KindQueries{"SELECT Filename, Filedir FROM " + q.TreeFiles() + " files WHERE Snapshot = :d1 AND " +
                                    q.InTree("Filedir") + " ORDER BY Filedir",
                                "", QueryEngine::DuplicateNames,
                                "SELECT Filename, Filedir, Filesize, Filedate FROM " + q.FilesTable() +
                                    " WHERE Snapshot = :d1 AND Filedir = :dir AND Filename = :name"};
         }},
        {.Kind = K::RecentlyChangedFiles,
         .Name = "RecentlyChangedFiles",
         .CommandName = "recently-changed-files",
         .MenuCaption = "&Recently changed",
         .Menu = M::Files,
         .ReadsFiles = true,
         .Columns = FileListColumns(2000, 1500),
         .ChartColumn = 1,
         .Title = "Recently changed files within {dir} directory tree {filter}",
         .Query = [](const QueryParts& q) {
             constexpr std::string_view order = "a.Filedate DESC, a.Filedir, a.Filename";
             return KindQueries{q.ReadsDiskFigures() ? q.FilesOfTreeOnDisk(order) : q.FilesOfTree(kFileColumns, order)};
         }},
    };
}

const std::vector<AnalysisEntry>& Catalogue() {
    static const std::vector<AnalysisEntry> catalogue = MakeCatalogue();
    return catalogue;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::span<const AnalysisEntry> AnalysisCatalogue() { return Catalogue(); }

const AnalysisEntry& EntryOf(AnalysisKind kind) {
    const AnalysisEntry* entry = FindAnalysis(static_cast<int>(kind));
    // A kind without a row would otherwise run as some other kind.
    if (entry == nullptr) std::abort();
    return *entry;
}

const AnalysisEntry* FindAnalysis(int code) {
    const auto& catalogue = Catalogue();
    auto it = std::find_if(catalogue.begin(), catalogue.end(), [code](const auto& e) { return e.Code() == code; });
    return it == catalogue.end() ? nullptr : &*it;
}

const AnalysisEntry* FindAnalysisByName(std::string_view text) {
    int code = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (!text.empty() && ec == std::errc{} && end == text.data() + text.size()) return FindAnalysis(code);
    for (const auto& entry : Catalogue()) {
        if (text == entry.CommandName || EqualsIgnoringCase(text, entry.Name)) return &entry;
    }
    return nullptr;
}

}  // namespace corvina
