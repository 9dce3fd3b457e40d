#pragma once
// Two file analyses whose join the database engine would do one row at a time
// (a lookup per file, or a sort of every name) are done here in one pass over
// the tree's file list and a table in memory, with the same rows and order as the
// queries they stand for:
//
//  ChangedFiles: the files of the tree present in both snapshots whose size or
//  date differs, as (a.Filename, a.Filedir, b.Filesize - a.Filesize,
//  a.Filesize, a.Filedate, b.Filesize, b.Filedate), ordered by the change
//  descending, then directory and name.
//
//  DuplicateFiles: the files of the tree whose name occurs in another
//  directory of the tree, as (Filename, Filedir, Filesize, Filedate), ordered
//  by name, then directory.
//
// Names compare as the snapshot's path style compares them (bytes, or ASCII
// case folded as the engine's NOCASE does).
//
// Error policy: as every function of store/ and analysis/ (store/StoreError.h);
// a database failure ends the collection, and no records are returned.

#include <cstddef>
#include <vector>

#include "analysis/AnalysisState.h"
#include "store/SizeFormat.h"
#include "store/SnapshotDatabase.h"
#include "store/Statement.h"
#include "store/StoreError.h"

namespace corvina {

using Record = std::vector<CellValue>;

// The scan query lists the files of the tree in both snapshots as (is in the
// prime snapshot, Filedir, Filename, Filesize, Filedate), in any order.
StoreError CollectChangedFiles(DatabaseState& database, const BoundQuery& scan, PathStyle style, std::size_t limit,
                               std::vector<Record>& records);

// The scan query lists the prime snapshot's files of the tree as (Filename,
// Filedir, rowid).
StoreError CollectDuplicateFiles(DatabaseState& database, const BoundQuery& scan, PathStyle style, std::size_t limit,
                                 std::vector<Record>& records);

// Binds the parameters of query that statement names; others are skipped.
StoreError BindParams(Statement& statement, const BoundQuery& query);

// The engine's NOCASE order (ASCII letters folded) or byte order.
int CompareNames(std::string_view a, std::string_view b, PathStyle style);

}  // namespace corvina
