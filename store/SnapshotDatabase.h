#pragma once
// Opening, creating, validating and upgrading the snapshot database, and the
// open "tables" (prepared row inserts) that stay ready while it is open.
//
// Error policy: OpenSnapshotDatabase reports every problem itself through the
// Prompter; its outcome is also visible in the state (DatabasePath "" when the
// user declined or the file is not a snapshot database). Unrecoverable
// failures show a message ending in ". Program aborted" and call the
// ProgramEnder.

#include <memory>
#include <string>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include "store/Prompter.h"
#include "store/StoreError.h"

struct sqlite3_stmt;

namespace corvina {

// A statement prepared with SQLite's own call, for the inserts of the row
// writers, which bind without the wrapper's copies.
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const;
};
using PreparedInsert = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The open database. Members are destroyed in reverse order: the prepared
// statements go before the database they belong to.
struct DatabaseState {
    std::string DatabasePath;  // "" = no usable database
    std::string DatabaseOpen;  // "Y" after an existing file was opened, "" after close
    bool ReadOnly = false;     // the file or its folder cannot be written
    int BusyTimeoutMs = 5000;  // how long to wait for another process's lock
    std::unique_ptr<SQLite::Database> SnapshotDatabase;
    // Inserts prepared once per open database; the row writers bind and step them.
    std::unique_ptr<SQLite::Statement> ControlTable;
    PreparedInsert DirTable;
    PreparedInsert FilesTable;

    DatabaseState() = default;
    DatabaseState(const DatabaseState&) = delete;
    DatabaseState& operator=(const DatabaseState&) = delete;
    ~DatabaseState();

    // True while a database is open and usable for queries.
    bool IsUsable() const { return SnapshotDatabase != nullptr && !DatabasePath.empty(); }
};

enum class OpenOutcome {
    Opened,    // an existing valid file (possibly upgraded)
    Created,   // the user agreed and the file was created with its tables
    Declined,  // the user declined to create it: DatabasePath ""
    Invalid,   // not a snapshot database: DatabasePath ""
    Ended,     // unrecoverable: the message was shown and EndProgram called
};

// How the open question is answered: the window program asks, the
// command-line tool always creates.
OpenOutcome OpenSnapshotDatabase(DatabaseState& state, Prompter& prompter, ProgramEnder& ender);
void CloseSnapshotDatabase(DatabaseState& state);

// The indexes every open adds when missing. Exposed so that other layers that
// need an index for their queries add it the same way (failures ignored).
void AddLookupIndexes(SQLite::Database& db);

// Builds the message text of a database failure: phrase + path + "\n" +
// "Code=.. Reason=.." + ". Program aborted".
std::string ProgramAbortedText(std::string_view phrase, std::string_view path, const StoreError& error);

// Converts the exception of the database wrapper into the store's error.
StoreError ToStoreError(const std::exception& e, std::string datum = {});

}  // namespace corvina
