// Opening the snapshot database. The sequence: open the file (or, after asking,
// create it), then check, create (only in a file created now), upgrade and
// prepare the three tables in the order Control, files, Dir. Every step returns
// an error number, 0 for success; kErrFileNotFound and kErrTableNotFound steer
// the sequence, any other number is the engine's.

#include "store/SnapshotDatabase.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <optional>
#include <unistd.h>

#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Transaction.h>

#include "store/Schema.h"

namespace corvina {

void StatementFinalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

DatabaseState::~DatabaseState() { CloseSnapshotDatabase(*this); }

StoreError ToStoreError(const std::exception& e, std::string datum) {
    StoreError error;
    if (const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&e)) {
        error.Code = sqlite->getErrorCode();
        if (error.Code <= 0) error.Code = SQLITE_ERROR;
    } else {
        error.Code = SQLITE_ERROR;
    }
    error.Reason = e.what();
    error.Datum = std::move(datum);
    return error;
}

std::string ProgramAbortedText(std::string_view phrase, std::string_view path, const StoreError& error) {
    std::string text(phrase);
    text += path;
    text += '\n';
    text += error.Details();
    text += ". Program aborted";
    return text;
}

namespace {

enum class Table { Control, Files, Dir };

struct TableSteps {
    std::string_view Name;
    std::string_view CantCreate;
    std::string_view UnableToOpen;
};

constexpr TableSteps kControlSteps{"Control", "Can't create Control table ", "Unable to open Control table "};
constexpr TableSteps kFilesSteps{"files", "Can't create File table ", "Unable to open File table database "};
constexpr TableSteps kDirSteps{"Dir", "Can't create Dir table ", "Unable to open Dir table "};

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A database SQLite opened read-only, or whose folder we may not write (the
// rollback journal is created beside the file).
bool IsReadOnly(SQLite::Database& db, const std::string& path) {
    if (sqlite3_db_readonly(db.getHandle(), "main") == 1) return true;
    return ::access(FolderOf(path).c_str(), W_OK) != 0 || ::access(path.c_str(), W_OK) != 0;
}

StoreError Execute(SQLite::Database& db, std::string_view sql) {
    try {
        db.exec(std::string(sql));
        return {};
    } catch (const std::exception& e) {
        return ToStoreError(e, std::string(sql));
    }
}

// Table names are matched without regard to case, as field names are.
StoreError TableExists(SQLite::Database& db, std::string_view table, bool& exists) {
    try {
        SQLite::Statement query(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
        query.bind(1, std::string(table));
        exists = query.executeStep();
        return {};
    } catch (const std::exception& e) {
        return ToStoreError(e, std::string(table));
    }
}

bool HasColumn(SQLite::Database& db, std::string_view table, std::string_view column) {
    try {
        SQLite::Statement query(db, "SELECT 1 FROM pragma_table_info(?) WHERE name = ? COLLATE NOCASE");
        query.bind(1, std::string(table));
        query.bind(2, std::string(column));
        return query.executeStep();
    } catch (const std::exception&) {
        return false;
    }
}

int OpenWorkspaceDatabase(DatabaseState& state, StoreError& error) {
    if (!FileExists(state.DatabasePath)) {
        error = StoreError{kErrFileNotFound, "Could not find file '" + state.DatabasePath + "'.", state.DatabasePath};
        return error.Code;
    }
    try {
        state.SnapshotDatabase =
            std::make_unique<SQLite::Database>(state.DatabasePath, SQLite::OPEN_READWRITE, state.BusyTimeoutMs);
    } catch (const std::exception& e) {
        error = ToStoreError(e, state.DatabasePath);
        return error.Code;
    }
    // assign(1, 'Y') rather than = "Y": GCC 12 at -O3 warns falsely (-Wrestrict) on
    // assigning a literal here (GCC bug 105329).
    state.DatabaseOpen.assign(1, 'Y');
    return 0;
}

int CreateSnapshotFile(DatabaseState& state, Prompter& prompter, StoreError& error) {
    try {
        state.SnapshotDatabase = std::make_unique<SQLite::Database>(
            state.DatabasePath, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE, state.BusyTimeoutMs);
        // Write the header now, so that a created file is a database even before its tables.
        state.SnapshotDatabase->exec("PRAGMA user_version = 0");
        return 0;
    } catch (const std::exception& e) {
        error = ToStoreError(e, state.DatabasePath);
        state.SnapshotDatabase.reset();
        ShowMessage(prompter, "Database created failed err=" + std::to_string(error.Code));
        return error.Code;
    }
}

int CreateTable(DatabaseState& state, Table table, StoreError& error) {
    SQLite::Database& db = *state.SnapshotDatabase;
    switch (table) {
        case Table::Control:
            error = Execute(db, schema::kCreateControl);
            if (error.Ok()) error = Execute(db, schema::kCreateIndex1);
            break;
        case Table::Files: error = Execute(db, schema::kCreateFiles); break;
        case Table::Dir: error = Execute(db, schema::kCreateDir); break;
    }
    return error.Code;
}

void AddFilesIndex(SQLite::Database& db) { Execute(db, "CREATE UNIQUE INDEX IF NOT EXISTS File1 ON files (Snapshot, Filedir, Filename)"); }

// Prepares the row insert of a table; a table of the older format that could
// not be upgraded gets none, and its writes fail with a clear error.
// A table of ours lacks a column of ours: the file is someone else's, and is
// rejected like one that lacks the table.
int SchemaMismatch(StoreError& error) {
    if (error.Code == SQLITE_ERROR) error.Code = kErrTableNotFound;
    return error.Code;
}

int Prepare(DatabaseState& state, std::unique_ptr<SQLite::Statement>& statement, std::string_view sql,
            StoreError& error) {
    try {
        statement = std::make_unique<SQLite::Statement>(*state.SnapshotDatabase, std::string(sql));
        return 0;
    } catch (const std::exception& e) {
        error = ToStoreError(e, std::string(sql));
        return SchemaMismatch(error);
    }
}

int Prepare(DatabaseState& state, PreparedInsert& statement, std::string_view sql, StoreError& error) {
    sqlite3* db = state.SnapshotDatabase->getHandle();
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw,
                                nullptr);
    statement.reset(raw);
    if (rc == SQLITE_OK) return 0;
    error = StoreError{rc, sqlite3_errmsg(db), std::string(sql)};
    return SchemaMismatch(error);
}

// Adds the double totals to an older Control table. A failure is not reported:
// the transaction leaves the table as it was and the open goes on.
void UpgradeControlTable(DatabaseState& state, Prompter& prompter) {
    SQLite::Database& db = *state.SnapshotDatabase;
    if (state.ReadOnly) {
        ShowMessage(prompter, "Table Control cannot be migrated");
        return;
    }
    try {
        SQLite::Transaction transaction(db);
        db.exec("ALTER TABLE Control ADD COLUMN TotbytesF REAL");
        db.exec("ALTER TABLE Control ADD COLUMN FilesizeF REAL");
        db.exec("UPDATE Control SET totbytesf = totbytes");
        db.exec("UPDATE Control SET filesizef = filesize");
        transaction.commit();
    } catch (const std::exception&) {
        return;
    }
    ShowMessage(prompter, "Note: Control table upgraded to new version");
}

int OpenControlTable(DatabaseState& state, Prompter& prompter, StoreError& error) {
    SQLite::Database& db = *state.SnapshotDatabase;
    bool exists = false;
    error = TableExists(db, "Control", exists);
    if (!error.Ok()) return error.Code;
    if (!exists) {
        error = StoreError{kErrTableNotFound, "The table 'Control' does not exist.", "Control"};
        return error.Code;
    }
    if (!HasColumn(db, "Control", "Filesizef")) UpgradeControlTable(state, prompter);
    state.ControlTable.reset();
    if (!HasColumn(db, "Control", "Filesizef") || !HasColumn(db, "Control", "Totbytesf")) return 0;
    return Prepare(state, state.ControlTable, schema::kInsertControl, error);
}

int OpenFilesTable(DatabaseState& state, StoreError& error) {
    SQLite::Database& db = *state.SnapshotDatabase;
    AddFilesIndex(db);
    bool exists = false;
    error = TableExists(db, "files", exists);
    if (!error.Ok()) return error.Code;
    if (!exists) {
        error = StoreError{kErrTableNotFound, "The table 'files' does not exist.", "files"};
        return error.Code;
    }
    return Prepare(state, state.FilesTable, schema::kInsertFiles, error);
}

int OpenDirTable(DatabaseState& state, Prompter& prompter, StoreError& error) {
    SQLite::Database& db = *state.SnapshotDatabase;
    bool exists = false;
    error = TableExists(db, "Dir", exists);
    if (!error.Ok()) return error.Code;
    if (!exists) {
        error = StoreError{kErrTableNotFound, "The table 'Dir' does not exist.", "Dir"};
        return error.Code;
    }
    state.DirTable.reset();
    if (!HasColumn(db, "Dir", "TotsizeF")) {
        if (state.ReadOnly) {
            ShowMessage(prompter, "Table dir cannot be migrated");
            return 0;
        }
        try {
            SQLite::Transaction transaction(db);
            db.exec("ALTER TABLE Dir ADD COLUMN TotsizeF REAL");
            db.exec("UPDATE Dir SET totsizef = totsize");
            transaction.commit();
        } catch (const std::exception& e) {
            error = ToStoreError(e, "Dir");
            ShowMessage(prompter, "Error: database cannot be upgraded to new format");
            return error.Code;
        }
        ShowMessage(prompter, "Note: Directory table upgraded to new version");
    }
    AddLookupIndexes(db);
    return Prepare(state, state.DirTable, schema::kInsertDir, error);
}

int OpenTable(DatabaseState& state, Table table, Prompter& prompter, StoreError& error) {
    switch (table) {
        case Table::Control: return OpenControlTable(state, prompter, error);
        case Table::Files: return OpenFilesTable(state, error);
        case Table::Dir: return OpenDirTable(state, prompter, error);
    }
    return 0;
}

void ShowInvalidFile(DatabaseState& state, Prompter& prompter) {
    Message message;
    message.Text = "Database " + state.DatabasePath + " does not seem to be a valid Corvina database";
    message.Title = "Corvina Database Error";
    message.MessageIcon = Icon::Exclamation;
    prompter.Ask(message);
    state.DatabasePath.clear();
}

OpenOutcome EndWith(DatabaseState& state, Prompter& prompter, ProgramEnder& ender, std::string_view phrase,
                    const StoreError& error) {
    ShowMessage(prompter, ProgramAbortedText(phrase, state.DatabasePath, error), Icon::Exclamation);
    ender.EndProgram(1);
    return OpenOutcome::Ended;
}

// Checks, creates when allowed, and opens one table. Returns nullopt when the
// sequence goes on.
std::optional<OpenOutcome> CheckTable(DatabaseState& state, Table table, const TableSteps& steps, bool createdNow,
                                      Prompter& prompter, ProgramEnder& ender) {
    StoreError error;
    int rc = OpenTable(state, table, prompter, error);
    if (rc == 0) return std::nullopt;
    if (rc == kErrTableNotFound && createdNow) {
        if (CreateTable(state, table, error) != 0) return EndWith(state, prompter, ender, steps.CantCreate, error);
        if (OpenTable(state, table, prompter, error) != 0) {
            return EndWith(state, prompter, ender, steps.UnableToOpen, error);
        }
        return std::nullopt;
    }
    if (rc == kErrTableNotFound) {
        ShowInvalidFile(state, prompter);
        return OpenOutcome::Invalid;
    }
    return EndWith(state, prompter, ender, steps.UnableToOpen, error);
}

// A file that SQLite cannot read as a database at all (text, random bytes, a
// damaged header) is a foreign file, not a reason to end the program.
bool IsForeignFile(SQLite::Database& db) {
    try {
        db.execAndGet("SELECT count(*) FROM sqlite_master");
        return false;
    } catch (const SQLite::Exception& e) {
        return e.getErrorCode() == SQLITE_NOTADB || e.getErrorCode() == SQLITE_CORRUPT;
    }
}

}  // namespace

void AddLookupIndexes(SQLite::Database& db) {
    Execute(db, schema::kCreateDirParentIndex);
    Execute(db, schema::kCreateDirNameIndex);
}

OpenOutcome OpenSnapshotDatabase(DatabaseState& state, Prompter& prompter, ProgramEnder& ender) {
    // Opening again while open replaces the old objects.
    state.ControlTable.reset();
    state.DirTable.reset();
    state.FilesTable.reset();
    state.SnapshotDatabase.reset();
    state.ReadOnly = false;

    bool createdNow = false;
    StoreError error;
    int rc = OpenWorkspaceDatabase(state, error);
    if (rc != 0) {
        if (!AskYesNo(prompter,
                      "System Database " + state.DatabasePath + " does not exist - would you like to create it?")) {
            state.DatabasePath.clear();
            return OpenOutcome::Declined;
        }
        createdNow = true;
        if (rc != kErrFileNotFound) return EndWith(state, prompter, ender, "Unable to open system database ", error);
        if (CreateSnapshotFile(state, prompter, error) != 0) {
            return EndWith(state, prompter, ender, "Can't create system database ", error);
        }
    }
    if (!createdNow && IsForeignFile(*state.SnapshotDatabase)) {
        ShowInvalidFile(state, prompter);
        return OpenOutcome::Invalid;
    }
    state.ReadOnly = IsReadOnly(*state.SnapshotDatabase, state.DatabasePath);

    if (auto end = CheckTable(state, Table::Control, kControlSteps, createdNow, prompter, ender)) return *end;
    if (auto end = CheckTable(state, Table::Files, kFilesSteps, createdNow, prompter, ender)) return *end;
    if (auto end = CheckTable(state, Table::Dir, kDirSteps, createdNow, prompter, ender)) return *end;
    return createdNow ? OpenOutcome::Created : OpenOutcome::Opened;
}

void CloseSnapshotDatabase(DatabaseState& state) {
    state.DatabaseOpen.clear();
    state.ControlTable.reset();
    state.DirTable.reset();
    state.FilesTable.reset();
    state.SnapshotDatabase.reset();
}

}  // namespace corvina
