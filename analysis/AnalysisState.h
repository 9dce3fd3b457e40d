#pragma once
// The state an analysis runs on. An AnalysisSession owns one AnalysisState and
// one GridSettings for as long as it shows analyses and hands them by
// reference to every step; nothing here is global.
//
// AnalysisState holds the inputs the session sets (snapshots, selected directory,
// totals, unit, chart preferences). GridSettings holds what the steps compute and
// keep between calls: the queries, the column rules, the headings, the row
// bookkeeping of the last fill and the charted column.
//
// Error policy: plain data (store/StoreError.h states the policy of store/ and
// analysis/).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/AnalysisKind.h"
#include "base/DateTime.h"
#include "base/PathStyle.h"
#include "base/SizeFormat.h"

namespace corvina {

// Columns 0 to 10 of the grid globals.
inline constexpr int kMaxResultColumns = 11;

// The display rule of a column. Text comes first: a grid not yet laid out
// holds text in every column.
enum class ColumnRule { Text, Count, Size, Percent, Date };
// Its letter in the tool's JSON "format": C, N, S, P or D.
char ColumnRuleLetter(ColumnRule rule);

// The rows the window's grid holds below its headings, a total row included.
inline constexpr int kWindowRowLimit = 1000;

// The two kinds of Dir row, by their Entrytype: the files entry of a
// directory ("/data/(files)", its own files) and a directory entry (its whole
// tree). A directory may itself be called "(files)", so a name alone does not
// tell the two apart.
enum class Entrytype : char { Files = '1', Directory = '2' };
std::string EntrytypeText(Entrytype type);

// The chart types of the chart menus.
enum class ChartType { Pie2D, Pie3D, Bar2D, Bar3D };

struct AnalysisState {
    // Qualified: the member's name is the type's name.
    corvina::AnalysisKind AnalysisKind = corvina::AnalysisKind::DirectoryDetails;
    DateTime SnapshotDate;         // the prime snapshot
    DateTime CompareSnapshotDate;  // null date = no compare snapshot
    std::string QueryDirectory;    // the directory the queries select on
    // What QueryDirectory names: a directory, or the "(files)" entry of the
    // tree that stands for its parent's own files.
    corvina::Entrytype QueryEntrytype = corvina::Entrytype::Directory;
    std::string SelectedDirectory; // the directory named in titles and total rows
    std::string BasePath;          // base path of the prime snapshot (DirectoryHistory)
    // The host of the prime snapshot that its history keeps to; nullopt when
    // the database holds one host (store/HostLabel.h).
    std::optional<std::string> Host;
    double DirTotal = 0;           // bytes of the selected directory, prime snapshot
    double CompareDirTotal = 0;    // bytes of the selected directory, compare snapshot
    std::string SnapshotLabel;     // "d MMM" or "HH:mm", see FormSnapshotLabels
    std::string CompareSnapshotLabel;
    std::int64_t SizeThreshold = 0;  // file-size threshold of the prime snapshot; 0 = all files
    char SizeUnit = 'M';             // 'B', 'K' or 'M'; the tool also 'G', 'T' and kAutoUnit
    corvina::SizeBasis SizeBasis = corvina::SizeBasis::Apparent;  // the sizes every column shows
    // Rows the grid holds below its headings, a total row included; a
    // record left over is said to be cut. 0: every record is shown.
    int RowLimit = kWindowRowLimit;
    PathStyle Style = kNativePathStyle;  // how the snapshot's paths are written
    corvina::ChartType ChartType = corvina::ChartType::Bar2D;
    int ChartOrientation = 0;  // 0 vertical, 1 horizontal
};

// Who joins the rows of a query: the database engine, or one ordered pass over
// each snapshot's file list (FileListMerge.h) fed by the query's scan.
enum class QueryEngine {
    Sql,
    ChangedFilesMerge,
    NewFilesMerge,
    DeletedFilesMerge,
    DuplicateNames,
    FileTypeSums,
    FileTypeDiskSums,
};

// A query and the values bound to its named parameters (all of them texts).
struct BoundQuery {
    std::string Sql;
    std::vector<std::pair<std::string, std::string>> Params;
    QueryEngine Engine = QueryEngine::Sql;
    std::string Fetch = {};      // a merge's read of one row by its key (KindQueries)
    std::string DiskSizes = {};  // a merge's Filedisk rows beside its scan (KindQueries)

    bool Empty() const { return Sql.empty(); }
};

// Whether the last fill stopped at the row limit with records left over.
enum class Truncation { None, AtRowLimit };

struct GridSettings {
    BoundQuery AnalysisSql;  // the detail rows
    BoundQuery TotalSql;     // the one total row; empty for kinds without one
    int ColumnCount = 0;
    std::array<ColumnRule, kMaxResultColumns> ColumnFormat{};
    corvina::SizeRounding SizeRounding = corvina::SizeRounding::Down;  // of the size columns
    std::array<int, kMaxResultColumns> PercentSource{};
    // -1: the first record filled sets the base.
    std::array<double, kMaxResultColumns> PercentBase{};
    std::array<std::string, kMaxResultColumns> ColumnHeading;
    int ChartColumn = 2;
    int FirstDetailRow = 1;
    int LastResultRow = 0;
    Truncation ResultTruncated = Truncation::None;
    // On disk, a size column's null is a figure the snapshot did not record:
    // shown as kNoFigure, and MissingFigures says the last run showed one. A
    // comparison runs on disk only between snapshots that recorded them, so
    // a null there is an empty sum and reads as it does on apparent sizes.
    bool MarksMissingFigures = false;
    bool MissingFigures = false;
};

// Short labels of the two snapshots for titles and headings: day and month
// ("5 Dec") when the two fall on different days, else hours and minutes
// ("14:05"). Without a compare snapshot the prime label is "d MMM" and the
// compare label empty.
void FormSnapshotLabels(AnalysisState& state);

// " (files larger than 10 KB)" for a threshold, " (all files)" for 0.
std::string FilterSuffix(std::int64_t sizeThreshold);

// A title or heading pattern of AnalysisCatalogue with its fields filled in:
// {dir} the selected directory (without a trailing separator), {prime} and
// {compare} the snapshot labels, {filter} the FilterSuffix of the prime
// snapshot, {unit} the size unit's label in the size basis. The pattern is
// read once, so a "{" in a directory name stays as it is.
std::string FillLabels(std::string_view pattern, const AnalysisState& state);

// " (on disk)" on disk, "" on apparent sizes: what titles end in.
std::string BasisSuffix(SizeBasis basis);

}  // namespace corvina
