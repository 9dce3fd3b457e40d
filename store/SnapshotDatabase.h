#pragma once
// Opening, creating, validating and upgrading the snapshot database, and the
// open "tables" (prepared row inserts) that stay ready while it is open. The
// other layers query it through store/Statement.h; the engine's connection
// stays inside store/.
//
// Error policy: as every function of store/ (StoreError.h), except that
// OpenSnapshotDatabase reports every problem itself through the Prompter and
// returns its outcome, which is also visible in the state (DatabasePath ""
// when the user declined, the file is not a snapshot database, is damaged, or
// stayed locked by another program longer than we wait). Unrecoverable
// failures show a message ending in ". Program aborted" and call the
// ProgramEnder.
//
// Many processes share one file: scheduled snapshots write while the window
// and the tool read. On a local file system the file is kept in write-ahead
// log mode, so that readers see the last committed state while a snapshot is
// being written; on a network file system, where the log's shared memory
// cannot be trusted, it keeps the rollback journal.

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/Prompter.h"
#include "store/Statement.h"
#include "store/StoreError.h"

namespace corvina {

class DatabaseConnection;  // the engine's connection, known inside store/ only
class ServerConnection;    // a database server's (store/ServerConnection.h)

// The open database. Members are destroyed in reverse order: the prepared
// statements go before the database they belong to. SwapDatabaseStates
// exchanges every member: a new one belongs there too.
struct DatabaseState {
    std::string DatabasePath;  // "" = no usable database
    std::string DatabaseOpen;  // "Y" after an existing file was opened, "" after close
    bool ReadOnly = false;     // the file or its folder cannot be written
    // Why, in words that finish "cannot be written: ..."; "" while writable.
    std::string ReadOnlyReason;
    // A table of the older format stayed as it was: the file could not be written.
    bool OlderLayout = false;
    bool WriteAheadLog = false;  // readers go on while a snapshot is written
    int BusyTimeoutMs = 5000;  // how long to wait for another process's lock
    std::unique_ptr<DatabaseConnection> SnapshotDatabase;
    // Instead of SnapshotDatabase when DatabasePath names a server; the path
    // then holds the connection text without its password.
    std::unique_ptr<ServerConnection> Server;
    // Receives what a server says besides its answers (a trigger's warning,
    // its notice that it shuts down), as the server wrote it: the text may
    // hold any bytes, so whoever shows it escapes it. Set before the open; may
    // be called on a run's worker thread. Empty: such notices are dropped.
    std::function<void(std::string_view)> ServerNotices;
    // Inserts prepared once per open database; the row writers bind and run them.
    Statement ControlTable;
    Statement DirTable;
    Statement FilesTable;

    DatabaseState();
    DatabaseState(const DatabaseState&) = delete;
    DatabaseState& operator=(const DatabaseState&) = delete;
    ~DatabaseState();

    // True while a database is open and usable for queries.
    bool IsUsable() const { return (SnapshotDatabase != nullptr || Server != nullptr) && !DatabasePath.empty(); }
};

enum class OpenOutcome {
    Opened,    // an existing valid file (possibly upgraded)
    Created,   // the file was created (or found empty) and its tables were made
    Declined,  // the user declined to create it: DatabasePath ""
    Invalid,   // not a snapshot database (or no regular file at all): DatabasePath ""
    Ended,     // unrecoverable: the message was shown and EndProgram called
    Missing,   // OpenMode::ExistingOnly and no file: nothing said, DatabasePath ""
    Damaged,   // the engine found the file damaged: said so, DatabasePath ""
    Busy,      // another program kept it locked past the wait: said so, DatabasePath ""
    Unreachable,  // a server that did not answer or refused us: said so, DatabasePath ""
};

enum class OpenMode {
    // The window, and the commands that write: a missing file is offered for
    // creation (the Prompter answers), an empty one is set up without asking.
    CreateWhenMissing,
    // Commands that only read or delete: a missing file is Missing, and an
    // empty one reads as a database without snapshots. Nothing is created.
    ExistingOnly,
};

OpenOutcome OpenSnapshotDatabase(DatabaseState& state, Prompter& prompter, ProgramEnder& ender,
                                 OpenMode mode = OpenMode::CreateWhenMissing);
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

// Why the open database cannot take a new snapshot (read-only, or a table of
// an older or odd layout that lacks a field a new row needs); Ok when it can.
// Asked before a run starts, so that nobody waits for a walk in vain.
StoreError CheckSnapshotWritable(const DatabaseState& state);

// The engine's own consistency check of the whole file: quick (the structure
// of every page) or full (also every index against its table). Ok, or an
// error with IsDamaged() whose Reason gives the first problems found.
StoreError CheckDatabaseIntegrity(DatabaseState& state, bool full);

// A database location that names a server rather than a file: a
// postgresql:// (or postgres://) URI, or a keyword string ("host=...
// dbname=..."). The password, if the text holds one, is used to connect and
// then forgotten: the state and every message keep WithoutPassword's text;
// passwords belong in ~/.pgpass or the environment.
bool IsServerLocation(std::string_view location);
std::string WithoutPassword(std::string_view location);

// Builds the message text of a database failure: phrase + path + "\n" +
// "Code=.. Reason=.." + ". Program aborted".
std::string ProgramAbortedText(std::string_view phrase, std::string_view path, const StoreError& error);

// Converts an exception (the database wrapper's inside store/, or any other
// that reaches an entry point) into the store's error.
StoreError ToStoreError(const std::exception& e, std::string datum = {});

// Process-wide settings of the database engine that make the row writes of a
// run cheaper: no memory statistics (a global lock per allocation). Takes
// effect only when called before the first database is opened; later calls
// change nothing.
void ConfigureDatabaseEngineForRuns();

}  // namespace corvina
