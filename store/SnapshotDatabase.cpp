// Opening the snapshot database. The sequence: the engine opens the location
// (or makes a missing file), an empty database is set up in one transaction,
// then the three tables are checked, upgraded and opened for rows in the
// order Control, files, Dir. Every step returns what it found; the caller
// words it.

#include "store/SnapshotDatabase.h"

#include <algorithm>
#include <utility>

#include "base/PathStyle.h"
#include "store/FilesLayout.h"
#include "store/HistoryLayout.h"
#include "store/Schema.h"
#include "store/Statement.h"
#include "store/WriteTransaction.h"

namespace corvina {

namespace {

using FieldList = std::vector<std::string>;

bool Has(const FieldList& fields, std::string_view field) {
    return std::find(fields.begin(), fields.end(), AsciiLower(field)) != fields.end();
}

engine::Connection& Db(DatabaseState& state) { return *state.Engine; }

// Looks the table up and reads its fields; NotSnapshotDatabase when it is
// missing or lacks a field that even the older format has: the database then
// belongs to another program.
template <std::size_t N>
StoreError FindTable(DatabaseState& state, std::string_view table, const std::array<std::string_view, N>& needed,
                     FieldList& fields) {
    bool exists = false;
    if (StoreError error = Db(state).TableExists(table, exists); !error.Ok()) return error;
    if (!exists) {
        return StoreError{StoreCode::NotSnapshotDatabase, "The table '" + std::string(table) + "' does not exist.",
                          std::string(table)};
    }
    if (StoreError error = Db(state).Fields(table, fields); !error.Ok()) return error;
    for (std::string_view field : needed) {
        if (!Has(fields, field)) {
            return StoreError{StoreCode::NotSnapshotDatabase,
                              "The table '" + std::string(table) + "' has no field '" + std::string(field) + "'.",
                              std::string(table)};
        }
    }
    return {};
}

// Adds an index that an open wants, unless it is there already. Looking first
// matters: even an IF NOT EXISTS statement would wait for the write lock while
// a snapshot is being written, and a reader must never wait for one.
StoreError AddIndexWhenMissing(DatabaseState& state, std::string_view name, std::string_view sql) {
    bool exists = false;
    if (StoreError error = Db(state).IndexExists(name, exists); !error.Ok() || exists) return error;
    return Execute(state, sql);
}

// Runs statements in one write transaction: all of them or none.
StoreError RunInTransaction(DatabaseState& state, std::initializer_list<std::string_view> statements) {
    WriteTransaction transaction(state);
    WaitUpTo wait{std::chrono::milliseconds(state.BusyTimeoutMs)};
    if (StoreError error = transaction.Begin(wait); !error.Ok()) return error;
    for (std::string_view sql : statements) {
        if (StoreError error = Execute(state, sql); !error.Ok()) return error;
    }
    return transaction.Commit(wait);
}

// Waits for the write lock while the database stays empty: when several
// processes meet a new file at once, one sets it up and the others go on as
// soon as they see its tables, however long that one then keeps the lock for
// its snapshot.
class WhileEmpty final : public LockWait {
public:
    explicit WhileEmpty(DatabaseState& state) : state_(state) {}
    bool KeepWaiting(std::chrono::milliseconds waited) override {
        bool empty = true;
        if (Db(state_).IsEmpty(empty).Ok() && !empty) {
            SetUpElsewhere = true;
            return false;
        }
        return waited < std::chrono::milliseconds(state_.BusyTimeoutMs);
    }
    bool SetUpElsewhere = false;

private:
    DatabaseState& state_;
};

struct CreateStep {
    std::string Sql;
    OpenStep Step;  // what a failure of this statement is reported as
};

// Every table and index of a new database, in one transaction: a kill leaves
// either all of them or none, and none reads as an empty database next time.
// Another process may be setting up the same database at the same moment: the
// write lock is taken first and the database looked at again inside it. The
// tables a run adds when it first writes a row are made here too where the
// dialect says so, so that a server role that may add rows but not tables can
// take snapshots.
StoreError SetUpEmptyDatabase(DatabaseState& state, OpenStep& failedStep) {
    const engine::Dialect& dialect = Db(state).SqlDialect();
    const CreateStep steps[] = {
        {schema::CreateTableSql(dialect, schema::kControl), OpenStep::CreateControl},
        {std::string(schema::kCreateIndex1), OpenStep::CreateControl},
        {schema::CreateTableSql(dialect, schema::kFiles), OpenStep::CreateFiles},
        {schema::CreateTableSql(dialect, schema::kDir), OpenStep::CreateDir},
        {std::string(schema::kCreateDirParentIndex), OpenStep::CreateDir},
        {std::string(schema::kCreateDirNameIndex), OpenStep::CreateDir},
    };
    const CreateStep runTables[] = {
        {schema::CreateTableSql(dialect, schema::kFilesystem), OpenStep::CreateControl},
        {schema::CreateTableSql(dialect, schema::kHost), OpenStep::CreateControl},
        {std::string(schema::kCreateHost1), OpenStep::CreateControl},
        {schema::CreateTableSql(dialect, schema::kExclusion), OpenStep::CreateControl},
        {schema::CreateTableSql(dialect, schema::kDiskusage), OpenStep::CreateControl},
        {schema::CreateTableSql(dialect, schema::kDirdisk), OpenStep::CreateControl},
        {schema::CreateTableSql(dialect, schema::kFiledisk), OpenStep::CreateControl},
    };
    failedStep = OpenStep::CreateControl;
    WriteTransaction transaction(state);
    WhileEmpty wait(state);
    StoreError error = transaction.Begin(wait);
    if (wait.SetUpElsewhere) return {};
    if (!error.Ok()) return error;
    bool empty = false;
    if (error = Db(state).IsEmpty(empty); !error.Ok() || !empty) return error;
    const bool historyLayout = history::NewDatabasesUseHistory();
    if (historyLayout) {
        for (const std::string& sql : history::SetUpStatements(dialect)) {
            if (error = Execute(state, sql); !error.Ok()) return error;
        }
    }
    for (const CreateStep& step : steps) {
        if (historyLayout) break;
        failedStep = step.Step;
        if (error = Execute(state, step.Sql); !error.Ok()) return error;
    }
    for (const CreateStep& step : runTables) {
        if (!dialect.SetUpMakesEveryTable() || historyLayout) break;
        failedStep = step.Step;
        if (error = Execute(state, step.Sql); !error.Ok()) return error;
    }
    failedStep = OpenStep::CreateControl;
    WaitUpTo commitWait{std::chrono::milliseconds(state.BusyTimeoutMs)};
    return transaction.Commit(commitWait);
}

// Read commands on an empty database: the tables exist for this connection
// only, empty, so that every query finds no snapshots and nothing is written.
StoreError UseEmptyTemporaryTables(DatabaseState& state) {
    const engine::Dialect& dialect = Db(state).SqlDialect();
    for (const schema::Table* table : {&schema::kControl, &schema::kFiles, &schema::kDir}) {
        if (StoreError error = Execute(state, schema::CreateTableSql(dialect, *table, schema::Create::TemporaryTable));
            !error.Ok()) {
            return error;
        }
    }
    return {};
}

// Adds the double totals to an older Control table, in one transaction that
// leaves the table as it was when it fails.
StoreError UpgradeControlTable(DatabaseState& state, const FieldList& fields, OpenResult& result) {
    if (state.ReadOnly) {
        result.Notes.push_back(OpenNote::ControlNotMigrated);
        state.OlderLayout = true;
        return {};
    }
    StoreError error;
    if (!Has(fields, "Totbytesf")) {
        error = RunInTransaction(state, {"ALTER TABLE Control ADD COLUMN TotbytesF REAL",
                                         "ALTER TABLE Control ADD COLUMN FilesizeF REAL",
                                         "UPDATE Control SET totbytesf = totbytes",
                                         "UPDATE Control SET filesizef = filesize"});
    } else {
        error = RunInTransaction(state,
                                 {"ALTER TABLE Control ADD COLUMN FilesizeF REAL", "UPDATE Control SET filesizef = filesize"});
    }
    if (error.Ok()) result.Notes.push_back(OpenNote::ControlUpgraded);
    return error;
}

StoreError OpenControlTable(DatabaseState& state, OpenResult& result) {
    FieldList fields;
    if (StoreError error = FindTable(state, "Control", schema::kControlFields, fields); !error.Ok()) return error;
    if (!Has(fields, "Filesizef")) {
        // A failed upgrade leaves an older table that still reads; the open
        // goes on, and the missing totals keep new snapshots out (below).
        UpgradeControlTable(state, fields, result);
        if (StoreError error = Db(state).Fields("Control", fields); !error.Ok()) return error;
    }
    state.ControlTable.Finalize();
    // A table that still lacks a total takes no new row: CheckSnapshotWritable
    // says so before a run starts.
    if (!Has(fields, "Filesizef") || !Has(fields, "Totbytesf")) return {};
    return state.ControlTable.Open(*state.Engine, "Control", schema::kControlRowFields, 1);
}

StoreError OpenFilesTable(DatabaseState& state) {
    FieldList fields;
    if (StoreError error = FindTable(state, "files", schema::kFilesFields, fields); !error.Ok()) return error;
    // A table keyed by (Snapshot, Filedir, Filename) is its own File1. On
    // another, an index that cannot be added now (another program holds the
    // write lock) only makes the queries slower; the next open tries again.
    bool keyed = false;
    if (StoreError error = FilesTableIsKeyed(state, keyed); !error.Ok()) return error;
    if (!keyed && !state.ReadOnly) AddIndexWhenMissing(state, "File1", schema::kCreateFile1);
    return state.FilesTable.Open(*state.Engine, "files", schema::kFilesRowFields, 1);
}

StoreError OpenDirTable(DatabaseState& state, OpenResult& result) {
    FieldList fields;
    if (StoreError error = FindTable(state, "Dir", schema::kDirFields, fields); !error.Ok()) return error;
    state.DirTable.Finalize();
    if (!Has(fields, "TotsizeF")) {
        if (state.ReadOnly) {
            result.Notes.push_back(OpenNote::DirNotMigrated);
            state.OlderLayout = true;
            return {};
        }
        if (StoreError error =
                RunInTransaction(state, {"ALTER TABLE Dir ADD COLUMN TotsizeF REAL", "UPDATE Dir SET totsizef = totsize"});
            !error.Ok()) {
            result.Notes.push_back(OpenNote::DirUpgradeFailed);
            return error;
        }
        result.Notes.push_back(OpenNote::DirUpgraded);
    }
    // As File1 above: the lookup indexes only make the tree and the
    // directory analyses faster.
    if (!state.ReadOnly) {
        Execute(state, schema::kCreateDirParentIndex);
        Execute(state, schema::kCreateDirNameIndex);
    }
    return state.DirTable.Open(*state.Engine, "Dir", schema::kDirRowFields, 2);
}

// The outcome of a failure: what is not the program's fault (a damaged
// file, another program's lock, a server out of reach, a database of
// another program) is its own outcome; the rest fails at step.
OpenResult Failure(OpenResult result, OpenStep step, StoreError error) {
    result.Step = step;
    switch (error.Code) {
        case StoreCode::Damaged: result.Outcome = OpenOutcome::Damaged; break;
        case StoreCode::Busy:
        case StoreCode::LockedPastWait: result.Outcome = OpenOutcome::Busy; break;
        case StoreCode::Unreachable: result.Outcome = OpenOutcome::Unreachable; break;
        case StoreCode::NotSnapshotDatabase: result.Outcome = OpenOutcome::Invalid; break;
        default: result.Outcome = OpenOutcome::Failed; break;
    }
    result.Error = std::move(error);
    return result;
}

OpenResult OpenTables(DatabaseState& state, OpenResult result) {
    // A history database writes through its runs (store/HistoryWriter.h) and
    // has no older table to upgrade.
    if (StoreError error = history::IsHistoryDatabase(state, state.History); !error.Ok()) {
        return Failure(std::move(result), OpenStep::Control, std::move(error));
    }
    if (state.History) return result;
    if (StoreError error = OpenControlTable(state, result); !error.Ok()) {
        return Failure(std::move(result), OpenStep::Control, std::move(error));
    }
    if (StoreError error = OpenFilesTable(state); !error.Ok()) {
        return Failure(std::move(result), OpenStep::Files, std::move(error));
    }
    if (StoreError error = OpenDirTable(state, result); !error.Ok()) {
        return Failure(std::move(result), OpenStep::Dir, std::move(error));
    }
    return result;
}

// The engine's reason why this connection cannot write; "" when it may, or
// when it cannot tell yet (a server's tables that are not there).
std::string WhyNotWritable(DatabaseState& state) {
    std::string reason;
    if (!Db(state).WhyNotWritable(reason).Ok()) reason.clear();
    return reason;
}

OpenResult OpenWithEngine(DatabaseState& state, OpenMode mode, bool& created) {
    OpenResult result;
    engine::OpenRequest request;
    request.Location = state.DatabasePath;
    request.Create = mode == OpenMode::Create;
    request.ForWriting = mode != OpenMode::ExistingOnly;
    request.BusyTimeoutMs = state.BusyTimeoutMs;
    request.Notices = state.ServerNotices;
    engine::OpenedEngine opened;
    StoreError error = engine::OpenEngine(request, opened);
    state.DatabasePath = opened.Location;
    if (error.Code == StoreCode::Missing && mode == OpenMode::ExistingOnly) {
        result.Outcome = OpenOutcome::Missing;
        result.Error = std::move(error);
        return result;
    }
    if (error.Code == StoreCode::Missing && mode == OpenMode::CreateWhenMissing) {
        result.Outcome = OpenOutcome::NeedsCreating;
        result.Error = std::move(error);
        return result;
    }
    if (!error.Ok()) {
        result.NoRegularFile = opened.NoRegularFile;
        if (mode == OpenMode::Create && !opened.Created && error.Code != StoreCode::NotSnapshotDatabase &&
            error.Code != StoreCode::Unreachable) {
            result.Notes.push_back(OpenNote::CreateFileFailed);
            return Failure(std::move(result), OpenStep::CreateFile, std::move(error));
        }
        return Failure(std::move(result), OpenStep::Open, std::move(error));
    }
    state.Engine = std::move(opened.Database);
    state.WriteAheadLog = opened.WriteAheadLog;
    created = opened.Created;
    state.DatabaseOpen = true;

    state.ReadOnlyReason = WhyNotWritable(state);
    state.ReadOnly = !state.ReadOnlyReason.empty();
    const bool empty = opened.Empty;
    if (empty && (mode == OpenMode::ExistingOnly || state.ReadOnly)) {
        if (error = UseEmptyTemporaryTables(state); !error.Ok()) {
            return Failure(std::move(result), OpenStep::Open, std::move(error));
        }
        state.ReadOnly = true;
        if (state.ReadOnlyReason.empty()) state.ReadOnlyReason = "it is open for reading only";
        return result;
    }
    if (empty) {
        OpenStep step = OpenStep::CreateControl;
        if (error = SetUpEmptyDatabase(state, step); !error.Ok()) return Failure(std::move(result), step, std::move(error));
        created = true;
        state.ReadOnlyReason = WhyNotWritable(state);
        state.ReadOnly = !state.ReadOnlyReason.empty();
    }
    return OpenTables(state, std::move(result));
}

}  // namespace

OpenResult OpenDatabase(DatabaseState& state, OpenMode mode) {
    // Opening again while open replaces the old objects.
    CloseSnapshotDatabase(state);
    state.ReadOnly = false;
    state.ReadOnlyReason.clear();
    state.OlderLayout = false;
    state.WriteAheadLog = false;
    bool created = false;
    OpenResult result = OpenWithEngine(state, mode, created);
    switch (result.Outcome) {
        case OpenOutcome::Opened:
            if (created) result.Outcome = OpenOutcome::Created;
            return result;
        case OpenOutcome::NeedsCreating:
            return result;
        default:
            break;
    }
    // A file that this open made goes again: left behind, its zero bytes (or
    // a header a full disk cut short) would read as an empty database next
    // time. Kept when the lock wait was given up: another process holds the
    // file then, setting it up.
    if (state.Engine && result.Outcome != OpenOutcome::Busy) state.Engine->RemoveCreatedFile();
    CloseSnapshotDatabase(state);
    state.DatabasePath.clear();
    return result;
}

StoreError CheckSnapshotWritable(const DatabaseState& state) {
    const std::string& path = state.DatabasePath;
    if (!state.IsUsable()) return NotOpenError(path);
    if (state.ReadOnly) return StoreError{StoreCode::ReadOnly, CannotWriteText(state), path};
    if (state.History) return {};
    for (const auto& [open, table] : {std::pair{state.ControlTable.IsPrepared(), "Control"},
                                      std::pair{state.DirTable.IsPrepared(), "Dir"},
                                      std::pair{state.FilesTable.IsPrepared(), "files"}}) {
        if (!open) {
            return StoreError{StoreCode::ReadOnly,
                              "The snapshot database " + path + " cannot take a new snapshot: its " + table +
                                  " table is of a layout that new rows do not fit",
                              path};
        }
    }
    return {};
}

StoreError CheckDatabaseIntegrity(DatabaseState& state, bool full) {
    if (!state.IsUsable()) return NotOpenError("");
    return state.Engine->CheckIntegrity(full);
}

StoreError MapForLongReads(DatabaseState& state) {
    if (!state.IsUsable()) return NotOpenError("");
    return state.MapLongReads ? state.Engine->MapForLongReads() : StoreError{};
}

void ConfigureDatabaseEngineForRuns() { engine::ConfigureEngineForRuns(); }

}  // namespace corvina
