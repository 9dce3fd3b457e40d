#pragma once
// The file engine: a snapshot database in one SQLite file. Only this folder
// includes sqlite3.h.
//
// Many processes share one file: scheduled snapshots write while the window
// and the tool read. On a local file system the file is kept in write-ahead
// log mode, so that readers see the last committed state while a snapshot is
// being written; on a network file system, where the log's shared memory
// cannot be trusted, it keeps the rollback journal. A file that the user may
// read but not write beside (a read-only mount, another user's folder) is
// read as it stands when no log or journal holds what the file lacks.

#include "store/engine/Engine.h"

namespace corvina::engine {

// Opens (or, with request.Create, makes) the file request.Location names.
StoreError OpenSqliteEngine(const OpenRequest& request, OpenedEngine& opened);

void ConfigureSqliteForRuns();
void WatchSqliteForDamage();
bool SqliteMetDamage();

}  // namespace corvina::engine
