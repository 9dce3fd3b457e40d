#pragma once
// The open snapshot database as every layer holds it: its location, what the
// open found, the engine (store/engine/Engine.h) and the row appenders of a
// run. store/SnapshotDatabase.h opens it.
//
// Error policy: as every function of store/ (StoreError.h).

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "store/RowAppender.h"
#include "store/StoreError.h"
#include "store/engine/Engine.h"

namespace corvina {

class HistoryRun;

using engine::IsServerLocation;
using engine::WithoutPassword;

// The open database. Members are destroyed in reverse order: the row
// appenders go before the engine they belong to. SwapDatabaseStates
// exchanges every member: a new one belongs there too.
struct DatabaseState {
    // "" = no usable database; a server's connection text without its password.
    std::string DatabasePath;
    bool DatabaseOpen = false;  // an existing database was opened; false after close
    bool ReadOnly = false;      // the file or its folder (or the server role) cannot write
    // Why, in words that finish "cannot be written: ..."; "" while writable.
    std::string ReadOnlyReason;
    // A table of the older format stayed as it was: the file could not be written.
    bool OlderLayout = false;
    bool WriteAheadLog = false;  // readers go on while a snapshot is written
    int BusyTimeoutMs = 5000;  // how long to wait for another process's lock
    // The analyses of a long-lived process (the window) map the file for
    // their long reads; a one-shot command reads through the engine's small
    // cache instead, so that its memory does not grow with the file.
    bool MapLongReads = true;
    std::unique_ptr<engine::Connection> Engine;
    // Receives what a server says besides its answers (a trigger's warning,
    // its notice that it shuts down), as the server wrote it: the text may
    // hold any bytes, so whoever shows it escapes it. Set before the open; may
    // be called on a run's worker thread. Empty: such notices are dropped.
    std::function<void(std::string_view)> ServerNotices;
    // The rows of a run; opened once per open database.
    RowAppender ControlTable;
    RowAppender DirTable;
    RowAppender FilesTable;
    // The history layout (store/HistoryLayout.h): Control, Dir and files are
    // views, and a run writes through the HistoryRun its RowWriter made.
    bool History = false;
    std::unique_ptr<HistoryRun> Run;

    DatabaseState();
    DatabaseState(const DatabaseState&) = delete;
    DatabaseState& operator=(const DatabaseState&) = delete;
    ~DatabaseState();

    // True while a database is open and usable for queries.
    bool IsUsable() const { return Engine != nullptr && !DatabasePath.empty(); }
};

void CloseSnapshotDatabase(DatabaseState& state);

// Exchanges two states whole: a database opened into a state of its own
// takes the place of the one in use only once its open has succeeded. The
// connections and statements stay where they are on the heap, so whatever
// holds them (a server's notice processor holds its connection) keeps
// working; what holds a state itself sees the other database afterwards.
void SwapDatabaseStates(DatabaseState& a, DatabaseState& b) noexcept;

// "The snapshot database X cannot be written: <why>", as every command that
// would write says it of a read-only database.
std::string CannotWriteText(const DatabaseState& state);

// Whether the database has a table of this name (any case), for the tables
// that older files lack.
StoreError TableExists(DatabaseState& state, std::string_view name, bool& exists);
// Runs statements (the table's CREATE and its indexes) when the table is not
// there; call inside the writer's transaction.
StoreError CreateTableWhenMissing(DatabaseState& state, std::string_view name,
                                  std::initializer_list<std::string_view> statements);

}  // namespace corvina
