#pragma once
// The file analyses that set two snapshots side by side, and the one that
// counts names, done here rather than as a join, with the same rows and order
// as the queries they stand for:
//
//  ChangedFiles: the files of the tree present in both snapshots whose size or
//  date differs, as (a.Filename, a.Filedir, b.Filesize - a.Filesize,
//  a.Filesize, a.Filedate, b.Filesize, b.Filedate), ordered by the change
//  descending, then directory and name.
//
//  NewFiles and DeletedFiles: the files of the tree in one snapshot whose
//  directory and name the other lacks, as (Filename, Filedir, Filesize,
//  Filedate, Filetype, Fileattr), ordered by size descending, then directory
//  and name byte for byte.
//
//  DuplicateFiles: the files of the tree whose name occurs in another
//  directory of the tree, as (Filename, Filedir, Filesize, Filedate), ordered
//  by name, then directory.
//
//  FileTypeSummary: per file type, (Filetype, count(*), sum(Filesize)),
//  ordered by the sum descending, then the type. The sum is exact: sizes at
//  the 64-bit limits add up beyond 64 bits (an engine's integer sum fails
//  there or rounds).
//
// The comparisons read both snapshots' files in key order, one statement per
// snapshot, and pair them in one pass: only the rows that may be shown are
// kept, never a snapshot. Names compare as the snapshot's path style compares
// them (bytes, or ASCII case folded as the engine's NOCASE does), and the scan
// delivers them in that order: File1's own order for bytes, a sort for NOCASE.
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h);
// a database failure ends the collection, and no records are returned.

#include <cstddef>
#include <vector>

#include "analysis/AnalysisState.h"
#include "base/SizeFormat.h"
#include "store/SnapshotDatabase.h"
#include "store/Statement.h"
#include "store/StoreError.h"

namespace corvina {

using Record = std::vector<CellValue>;

// The scan query lists the files of the tree of the snapshot whose key is
// bound to :key as (Filedir, Filename, Filesize, Filedate), in the order of
// CompareNames on Filedir, then Filename; with DiskSizes (POSIX names, in
// byte order) their sizes on disk take the place of Filesize. The state
// gives the path style and the two snapshots' keys.
StoreError CollectChangedFiles(DatabaseState& database, const BoundQuery& scan, const AnalysisState& state,
                               std::size_t limit, std::vector<Record>& records);
// The files of the prime snapshot's tree that the compare snapshot lacks, or
// (deleted) those of the compare snapshot that the prime snapshot lacks. The
// scan lists (Filedir, Filename) only, in the same order; its Fetch reads
// (Filesize, Filedate, Filetype, Fileattr) of a file shown by its snapshot,
// directory and name (in that order of its markers).
StoreError CollectMissingFiles(DatabaseState& database, const BoundQuery& scan, const AnalysisState& state,
                               bool deleted, std::size_t limit, std::vector<Record>& records);

// The scan query lists the prime snapshot's files of the tree as (Filename,
// Filedir); its Fetch reads (Filename, Filedir, Filesize, Filedate) of a file
// shown by :d1, :dir and :name.
StoreError CollectDuplicateFiles(DatabaseState& database, const BoundQuery& scan, PathStyle style, std::size_t limit,
                                 std::vector<Record>& records);

// The scan query lists the tree's files grouped by type as (Filetype,
// count(*), sum(Filesize >> 32), sum(Filesize & 4294967295)): parts that
// cannot overflow, added up here.
StoreError CollectFileTypeSums(DatabaseState& database, const BoundQuery& scan, std::size_t limit,
                               std::vector<Record>& records);
// The same on disk: the scan lists the prime snapshot's files of the tree as
// (Filetype, Filedir, Filename) in the byte order of their keys, and its
// DiskSizes their sizes on disk, which are added up here.
StoreError CollectFileTypeDiskSums(DatabaseState& database, const BoundQuery& scan, const AnalysisState& state,
                                   std::size_t limit, std::vector<Record>& records);

// A column of the current row as a grid cell keeps it: a number as a number
// (a whole number beyond 64 bits as its digits), null (or a column the row
// lacks) as empty, anything else as text.
CellValue ReadField(const Statement& statement, int index);

// Binds the parameters of query that statement names; others are skipped.
StoreError BindParams(Statement& statement, const BoundQuery& query);

// The engine's NOCASE order (ASCII letters folded) or byte order.
int CompareNames(std::string_view a, std::string_view b, PathStyle style);

}  // namespace corvina
