#pragma once
// BuildAnalysisQuery: the queries of the current analysis and the display rules
// of its columns. Every query is a prepared statement's text with named
// parameters; directory names and keys are bound, never spliced into the text,
// so a quote, "%", "_" or "*" in a path is an ordinary character.
//
// Parameters: :d1 key of the prime snapshot, :d2 key of the compare snapshot,
// :q the query directory, :qt its Entrytype, :lo/:hi the bounds of the names
// below it, :qf its files entry, :s the label of a total row, :b the base
// path, :h the host a history keeps to.
//
// Error policy: nothing here touches the database; the queries' failures are
// their runner's (store/StoreError.h).

#include <string>
#include <string_view>

#include "analysis/AnalysisState.h"
#include "store/engine/Engine.h"

namespace corvina {

// How the data is spread, so that a query reads it the cheaper way; the rows
// and their order do not depend on it (see EstimateQueryHints in
// AnalysisRun.h).
struct QueryHints {
    bool WideTree = false;       // the tree's files are a large part of the files table
    bool WholeSnapshot = false;  // the directory is the snapshot's base path
    // The engine's own words where engines differ: how names compare
    // without regard to case, the hint that reads a table in one pass. A
    // query built without a database (a test of its text) has none, and
    // reads as a file's.
    const engine::Dialect* Dialect = nullptr;
    // Whether the database has the tables of on-disk sizes (Dirdisk,
    // Filedisk). Older ones lack them; their sizes on disk read as NULL, as
    // those of a snapshot without rows there do.
    bool DiskTables = false;
    // Whether the prime snapshot has on-disk figures: a Filedisk row for
    // each of its files rows. Without them its files' sizes on disk are
    // all NULL, and nothing needs to be joined to say so.
    bool PrimeDiskFigures = false;
    // The history layout (store/HistoryLayout.h): the two sides of a file
    // comparison, and the changes of "Where did it grow", read only the rows
    // that differ between the snapshots.
    bool History = false;
};

// expr as the names of a snapshot of style compare and sort: byte for byte on
// POSIX, without regard to (ASCII) case on Windows, as the dialect says it.
std::string NameOperand(const engine::Dialect* dialect, PathStyle style, std::string_view expr);

// What the query of one kind gives: the texts and who joins the detail rows.
struct KindQueries {
    std::string Detail = {};
    std::string Total = {};  // the one total row; "" for kinds without one
    QueryEngine Engine = QueryEngine::Sql;
    // For a merge whose scan reads keys only: the query that reads a row
    // shown by its key.
    std::string Fetch = {};
    // For a merge on disk: the Filedisk rows of the files the scan lists, as
    // (Filedir, Filename, Diskbytes) in the same key order (DiskSizesInKeyOrder).
    std::string DiskSizes = {};
};

// The pieces the kinds' queries (AnalysisCatalogue.cpp) are made of, for the
// path style and the hints of one run.
struct QueryParts {
    PathStyle Style = kNativePathStyle;
    QueryHints Hints;
    bool KeepsHost = false;  // a history keeps to the host bound to :h
    int RowLimit = kWindowRowLimit;  // AnalysisState::RowLimit
    SizeBasis Basis = SizeBasis::Apparent;

    // The Dir table as a query that reads sizes names it: Dir itself on
    // apparent sizes; on disk the same rows with TotsizeF holding the
    // Diskbytes of each one's Dirdisk row (NULL where there is none), so that
    // every query keeps its text, columns, order and semantics in either
    // basis. Named alias, or "Dir" for a query whose columns are unqualified.
    // relation stands for Dir where only some of its rows are read.
    std::string DirSource(std::string_view alias = {}, std::string_view relation = "Dir") const;
    // The files table the same way, Filesize holding the Filedisk row's
    // Diskbytes; onePass adds the engine's hint to read it without an index.
    // relation stands for the files table where only some of its rows are read.
    std::string FilesTable(std::string_view alias = {}, bool onePass = false,
                           std::string_view relation = "files") const;
    // On disk, with the prime snapshot's figures to read. A join per file
    // costs a lookup per file: the file analyses of a whole tree read
    // Filedisk beside files in key order instead, or join only the rows
    // they show.
    bool ReadsDiskFigures() const;
    // For the queries that read Dir rows themselves: the size of the Dir row
    // of alias in the basis (TotsizeF, or its Dirdisk row's Diskbytes).
    std::string DirSize(std::string_view alias) const;

    // " LIMIT n" for a detail query: one record more than the grid can hold,
    // so that the fill sees that rows were cut, and no more, so that the
    // engine keeps only the top rows of a sort. "" without a row limit.
    std::string Limit() const;

    // Names are compared as the snapshot's file system compares them: byte
    // for byte on POSIX, without regard to (ASCII) case on Windows.
    std::string Name(std::string_view expr) const;
    // "a = b" as names compare.
    std::string Same(std::string_view a, std::string_view b) const;
    // A name of a group of rows whose names compare the same.
    std::string GroupName(std::string_view expr) const;
    // column is the directory :q itself or lies below it.
    std::string InTree(const std::string& column) const;
    // The files table as a file analysis of the tree reads it (alias a).
    std::string FilesSource() const;
    // A file analysis of the prime snapshot over the tree: select list and order.
    std::string FilesOfTree(std::string_view select, std::string_view order) const;
    // On disk (ReadsDiskFigures), for an order of alias a that holds no
    // size: the first files of the tree in that order, as (Filename,
    // Filedir, size on disk, Filedate, Filetype, Fileattr), each joined to its
    // size on disk.
    std::string FilesOfTreeOnDisk(std::string_view order) const;
    // The Filedisk rows of the tree in the snapshot bound to :key, as
    // (Filedir, Filename, Diskbytes) in the byte order of their key.
    std::string DiskSizesInKeyOrder() const;
    // The fields (Filedir and Filename first) of the files of the tree in the
    // snapshot bound to :key, in the order of their directory and name as
    // the path style compares them, for the merges of FileListMerge.h; sized
    // when the fields hold Filesize, which is then the basis's.
    std::string FilesInKeyOrder(std::string_view fields, bool sized = false) const;
    // The subdirectories of :q in snapshot key that the other snapshot lacks.
    std::string MissingDirs(std::string_view key, std::string_view otherKey) const;
    // "WITH own(Dir, F1, B1, F2, B2) AS (...)": the files entry of every
    // directory of the tree, by its directory, with its files and bytes in
    // the prime snapshot (F1, B1) or in the compare snapshot (F2, B2), the
    // other side 0. Summed by Dir, a directory one snapshot lacks counts 0 there.
    // With changedOnly, in the history layout, only the entries whose rows
    // differ between the snapshots: the others add nothing to a change.
    std::string OwnFilesOfTree(bool changedOnly = false) const;
    // The files table for a query of the files of the tree of :q: the
    // table itself, or in the history layout a relation that reads them by
    // the tree's paths.
    std::string TreeFiles() const;
    // Growth of a.TotsizeF over b.TotsizeF in whole percent of a, rounded down.
    static std::string GrowthPercent();
};

// Sets AnalysisSql, TotalSql (empty for kinds without a total row),
// ColumnCount, ColumnFormat, the percentage settings, MarksMissingFigures
// and, for kinds that name one, ChartColumn. Runs nothing.
void BuildAnalysisQuery(const AnalysisState& state, GridSettings& grid, const QueryHints& hints = {});

// The bounds of "the directory itself or anything below it": names n with
// n == directory or lo <= n < hi. lo is the directory followed by the
// separator (the POSIX root "/" is its own lo), hi is lo with its last byte
// raised by one, so a byte-wise range over an index finds them.
struct TreeBounds {
    std::string Lo;
    std::string Hi;
};
TreeBounds TreeBoundsOf(std::string_view directory, PathStyle style);

}  // namespace corvina
