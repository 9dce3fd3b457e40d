#pragma once
// The two layouts of the files table and the conversion between them. A file
// made by this version keeps its files rows in a table keyed by File1
// (Snapshot, Filedir, Filename); a file of the previous layout has a rowid
// table beside a File1 unique index, which repeats every key. Both read the
// same through every query; only CompactFilesTable, asked for, converts.
//
// Error policy: as every function of store/ (StoreError.h).

#include <cstdint>

#include "store/DatabaseState.h"
#include "store/StoreError.h"
#include "store/WriteTransaction.h"

namespace corvina {

// Whether the files table is keyed by (Snapshot, Filedir, Filename) itself.
StoreError FilesTableIsKeyed(DatabaseState& state, bool& keyed);

enum class CompactOutcome {
    Converted,  // the rows were copied into a keyed table and the file vacuumed
    Already,    // the table was keyed already; the file was only vacuumed
};

// Copies every files row into a keyed table in one write transaction (taken
// as a delete takes it: wait says how long to wait for another writer), then
// rebuilds the file without its free pages. A table with fields beyond ours,
// or with rows that share a key, is left as it is and said so.
StoreError CompactFilesTable(DatabaseState& state, LockWait& wait, CompactOutcome& outcome,
                             std::int64_t& rows);

}  // namespace corvina
