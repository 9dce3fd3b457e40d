// Opening a snapshot database on a server. The sequence mirrors a file's:
// connect, set up a database without our tables (after asking), check the
// tables, prepare the row inserts. A server that cannot be reached, or a
// role that may not create the tables, is said and the program goes on
// without a database: neither is the program's fault.

#include <array>
#include <string>

#include "store/Catalogue.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "store/SnapshotDatabase.h"
#include "store/WriteTransaction.h"

namespace corvina {
namespace {

// The tables of a server database: names as bytea (any bytes, compared as
// bytes), keys and dates as text compared as bytes, sizes as 64-bit integers.
// The tables a run of a file makes when it first needs them are made here,
// once, so that a role that may add rows but not tables can take snapshots.
constexpr std::array<std::string_view, 9> kServerSchema{
    "CREATE TABLE Control (Snapshot TEXT COLLATE \"C\", Basepath BYTEA, Description BYTEA, "
    "Collfiles TEXT COLLATE \"C\", Filelimit BIGINT, Totdirs BIGINT, Totfiles BIGINT, Totbytes BIGINT, "
    "Totbytesf DOUBLE PRECISION, Filetot BIGINT, Filesize BIGINT, Filesizef DOUBLE PRECISION)",
    "CREATE UNIQUE INDEX Index1 ON Control (Snapshot)",
    "CREATE TABLE files (Snapshot TEXT COLLATE \"C\", Filename BYTEA, Filesize BIGINT, Filetype BYTEA, "
    "Filedir BYTEA, Fileattr BIGINT, Filedate TEXT COLLATE \"C\", "
    "CONSTRAINT File1 PRIMARY KEY (Snapshot, Filedir, Filename))",
    "CREATE TABLE Dir (Snapshot TEXT COLLATE \"C\", Entrytype TEXT COLLATE \"C\", Dirname BYTEA, Shortname BYTEA, "
    "Parentdir BYTEA, Dirlevel BIGINT, Files BIGINT, Totsize BIGINT, TotsizeF DOUBLE PRECISION)",
    "CREATE INDEX DirParent ON Dir (Snapshot, Parentdir)",
    "CREATE INDEX DirName ON Dir (Snapshot, Dirname)",
    "CREATE TABLE Filesystem (Snapshot TEXT COLLATE \"C\", Fssize BIGINT, Fsfree BIGINT)",
    "CREATE TABLE Host (Snapshot TEXT COLLATE \"C\", Hostname BYTEA)",
    "CREATE UNIQUE INDEX Host1 ON Host (Snapshot)",
};

constexpr std::array<std::string_view, 3> kOwnTables{"Control", "files", "Dir"};

OpenOutcome Fail(DatabaseState& state, Prompter& prompter, std::string text, OpenOutcome outcome) {
    ShowMessage(prompter, std::move(text), Icon::Exclamation);
    CloseSnapshotDatabase(state);
    state.DatabasePath.clear();
    return outcome;
}

StoreError CountOwnTables(DatabaseState& state, int& count) {
    count = 0;
    for (std::string_view table : kOwnTables) {
        bool exists = false;
        if (StoreError error = TableExists(state, table, exists); !error.Ok()) return error;
        count += exists ? 1 : 0;
    }
    return {};
}

// Every table and index in one transaction, under the writers' lock: two
// clients meeting an empty database at once make the tables once.
StoreError CreateTables(DatabaseState& state) {
    WriteTransaction transaction(state);
    WaitUpTo wait{std::chrono::milliseconds(state.BusyTimeoutMs)};
    if (StoreError error = transaction.Begin(wait); !error.Ok()) return error;
    int count = 0;
    if (StoreError error = CountOwnTables(state, count); !error.Ok() || count > 0) return error;
    for (std::string_view sql : kServerSchema) {
        if (StoreError error = Execute(state, sql); !error.Ok()) return error;
    }
    return transaction.Commit(wait);
}

// Whether this role may add rows to every table of ours.
StoreError MayWrite(DatabaseState& state, bool& writable) {
    Statement query;
    StoreError error = query.Prepare(state,
                                     "SELECT has_table_privilege('control', 'INSERT') AND "
                                     "has_table_privilege('dir', 'INSERT') AND has_table_privilege('files', 'INSERT')");
    bool row = false;
    if (error.Ok()) error = query.Step(row);
    writable = error.Ok() && row && query.Int64(0) == 1;
    return error;
}

}  // namespace

OpenOutcome OpenServerDatabase(DatabaseState& state, Prompter& prompter, OpenMode mode) {
    const std::string location = state.DatabasePath;
    state.DatabasePath = WithoutPassword(location);
    state.Server = std::make_unique<ServerConnection>();
    if (StoreError error = state.Server->Connect(location, state.ServerNotices); !error.Ok()) {
        return Fail(state, prompter, "Cannot reach the snapshot database " + state.DatabasePath + "\n" + error.Details(),
                    OpenOutcome::Unreachable);
    }
    state.DatabaseOpen.assign(1, 'Y');

    int count = 0;
    if (StoreError error = CountOwnTables(state, count); !error.Ok()) {
        return Fail(state, prompter, StoreErrorText(state.DatabasePath, error), OpenOutcome::Unreachable);
    }
    bool created = false;
    if (count == 0 && mode == OpenMode::ExistingOnly) {
        // Readers of a database without our tables see it empty: the three
        // tables exist for this connection only.
        for (std::string_view create : {kServerSchema[0], kServerSchema[2], kServerSchema[3]}) {
            std::string sql(create);
            sql.replace(0, std::string_view("CREATE TABLE").size(), "CREATE TEMP TABLE");
            if (StoreError error = Execute(state, sql); !error.Ok()) {
                return Fail(state, prompter, StoreErrorText(state.DatabasePath, error), OpenOutcome::Invalid);
            }
        }
        state.ReadOnly = true;
        return OpenOutcome::Opened;
    }
    if (count == 0) {
        if (!AskYesNo(prompter, "System Database " + state.DatabasePath +
                                    " does not exist - would you like to create it?")) {
            CloseSnapshotDatabase(state);
            state.DatabasePath.clear();
            return OpenOutcome::Declined;
        }
        if (StoreError error = CreateTables(state); !error.Ok()) {
            return Fail(state, prompter, "Can't create the tables of system database " + state.DatabasePath + "\n" +
                                             error.Details(),
                        OpenOutcome::Invalid);
        }
        created = true;
    } else if (count < static_cast<int>(kOwnTables.size())) {
        return Fail(state, prompter,
                    "Database " + state.DatabasePath + " does not seem to be a valid Corvina database",
                    OpenOutcome::Invalid);
    }

    bool writable = false;
    StoreError error = MayWrite(state, writable);
    state.ReadOnly = !writable;
    if (!writable) state.ReadOnlyReason = "this role may not add rows to its tables";
    if (error.Ok() && writable) error = state.ControlTable.Prepare(state, schema::kInsertControl, StatementUse::Repeated);
    if (error.Ok() && writable) error = state.DirTable.Prepare(state, schema::kInsertDir, StatementUse::Repeated);
    if (error.Ok() && writable) error = state.FilesTable.Prepare(state, schema::kInsertFiles, StatementUse::Repeated);
    if (!error.Ok()) {
        return Fail(state, prompter,
                    "Database " + state.DatabasePath + " does not seem to be a valid Corvina database\n" +
                        error.Details(),
                    OpenOutcome::Invalid);
    }
    return created ? OpenOutcome::Created : OpenOutcome::Opened;
}

}  // namespace corvina
