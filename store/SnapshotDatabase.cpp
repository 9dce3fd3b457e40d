// Opening the snapshot database. The sequence: refuse what is no regular
// file, open the file (or, after asking, create it, and remove it again when
// that fails), set up an empty file as a new database in one transaction, then
// check, upgrade and prepare the three tables in the order Control, files,
// Dir. Every step returns its error, Ok for success; the codes
// kErrFileNotFound and kErrTableNotFound steer the sequence, any other code is
// the engine's.
// A damaged file and a lock held past the wait are reported as such rather
// than ending the program: neither is the program's fault.

#include "store/SnapshotDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include "store/DatabaseConnection.h"
#include "store/FilesLayout.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "store/WriteTransaction.h"

namespace corvina {

DatabaseState::DatabaseState() = default;

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

// Why a database cannot be written, "" when it can: on a read-only mount, a
// file the user may not write, or one in a folder the user may not write (the
// engine makes its journal beside the file). Known at the open, so that a
// command that would write says why before it starts.
std::string WhyNotWritable(SQLite::Database& db, const std::string& path) {
    struct statvfs fs {};
    if (::statvfs(path.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0) return "it lies on a read-only file system";
    if (::access(path.c_str(), W_OK) != 0) return "this user may not write the file";
    const std::string folder = FolderOf(path);
    if (::access(folder.c_str(), W_OK) != 0) {
        return "this user may not write its folder " + folder + ", where its journal is kept";
    }
    if (sqlite3_db_readonly(db.getHandle(), "main") == 1) return "it is open for reading only";
    return {};
}

// File systems whose files the kernel makes up as they are read: a /proc
// file reports no size and would pass for an empty database.
bool OnKernelFileSystem(const std::string& path) {
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x9FA0UL:      // proc
        case 0x62656572UL:  // sysfs
        case 0x64626720UL:  // debugfs
        case 0x74726163UL:  // tracefs
        case 0x73636673UL:  // securityfs
        case 0x27E0EBUL:    // cgroup
        case 0x63677270UL:  // cgroup2
        case 0x62656570UL:  // configfs
        case 0xCAFE4A11UL:  // bpf
        case 0x6165676CUL:  // pstore
        case 0xDE5E81E4UL:  // efivarfs
            return true;
        default:
            return false;
    }
}

// Only a regular file holds a snapshot database: the engine would read a
// device or a pipe as an empty database and then try to set one up in it,
// and the question whether to create one cannot create anything over a
// directory. A symbolic link counts as what it names.
bool ExistsButIsNoDatabaseFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return !S_ISREG(st.st_mode) || OnKernelFileSystem(path);
}

// File systems on which SQLite's write-ahead log is not safe: its index lives
// in shared memory that only processes on one machine can share.
bool OnNetworkFileSystem(const std::string& path) {
    struct statfs fs {};
    if (::statfs(FolderOf(path).c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x01021997UL:  // 9P
        case 0x65735546UL:  // FUSE (sshfs and the like)
        case 0x00C36400UL:  // Ceph
        case 0x5346414FUL:  // AFS
        case 0x0BD00BD0UL:  // Lustre
            return true;
        default:
            return false;
    }
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

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower;
}

// The fields of a table, lower-cased: fields are matched without regard to case.
using FieldSet = std::set<std::string>;
StoreError ReadFields(SQLite::Database& db, std::string_view table, FieldSet& fields) {
    fields.clear();
    try {
        SQLite::Statement query(db, "SELECT name FROM pragma_table_info(?)");
        query.bind(1, std::string(table));
        while (query.executeStep()) fields.insert(Lower(query.getColumn(0).getString()));
        return {};
    } catch (const std::exception& e) {
        return ToStoreError(e, std::string(table));
    }
}

bool Has(const FieldSet& fields, std::string_view field) { return fields.count(Lower(field)) > 0; }

// A table of ours lacks a field that even the older format has: the file
// belongs to another program, like one that lacks the table.
template <std::size_t N>
StoreError CheckOwnFields(const FieldSet& fields, std::string_view table,
                          const std::array<std::string_view, N>& needed) {
    for (std::string_view field : needed) {
        if (!Has(fields, field)) {
            return StoreError{kErrTableNotFound,
                              "The table '" + std::string(table) + "' has no field '" + std::string(field) + "'.",
                              std::string(table)};
        }
    }
    return {};
}

StoreError IndexExists(SQLite::Database& db, std::string_view name, bool& exists) {
    try {
        SQLite::Statement query(db, "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ? COLLATE NOCASE");
        query.bind(1, std::string(name));
        exists = query.executeStep();
        return {};
    } catch (const std::exception& e) {
        return ToStoreError(e, std::string(name));
    }
}

// Adds an index that an open wants, unless it is there already. Looking first
// matters: even an IF NOT EXISTS statement would wait for the write lock while
// a snapshot is being written, and a reader must never wait for one.
StoreError AddIndexWhenMissing(SQLite::Database& db, std::string_view name, std::string_view sql) {
    bool exists = false;
    if (StoreError error = IndexExists(db, name, exists); !error.Ok() || exists) return error;
    return Execute(db, sql);
}

// The indexes every open adds when missing, each on its own: the first
// failure is returned.
StoreError AddLookupIndexes(SQLite::Database& db) {
    StoreError parent = Execute(db, schema::kCreateDirParentIndex);
    StoreError name = Execute(db, schema::kCreateDirNameIndex);
    return parent.Ok() ? name : parent;
}

StoreError OpenWorkspaceDatabase(DatabaseState& state) {
    if (!FileExists(state.DatabasePath)) {
        return StoreError{kErrFileNotFound, "Could not find file '" + state.DatabasePath + "'.", state.DatabasePath};
    }
    try {
        state.SnapshotDatabase =
            std::make_unique<DatabaseConnection>(state.DatabasePath, SQLite::OPEN_READWRITE, state.BusyTimeoutMs);
    } catch (const std::exception& e) {
        return ToStoreError(e, state.DatabasePath);
    }
    // assign(1, 'Y') rather than = "Y": GCC 12 at -O3 warns falsely (-Wrestrict) on
    // assigning a literal here (GCC bug 105329).
    state.DatabaseOpen.assign(1, 'Y');
    return {};
}

// A file that this open made is removed again when the open fails, before
// the program ends: left behind, its zero bytes (or a header a full disk cut
// short) would read as an empty database next time. The log and journal go
// first: a log left without its file would be replayed onto the next file
// of that name. Kept when the lock wait was given up: another process holds
// the file then, setting it up.
class RemoveFileMadeOnFailure final : public ProgramEnder {
public:
    RemoveFileMadeOnFailure(DatabaseState& state, ProgramEnder& ender) : state_(state), ender_(ender) {}
    void Made(std::string path) { path_ = std::move(path); }
    void Keep() { path_.clear(); }
    void Remove() {
        if (path_.empty()) return;
        CloseSnapshotDatabase(state_);
        for (const char* suffix : {"-wal", "-shm", "-journal", ""}) ::unlink((path_ + suffix).c_str());
        path_.clear();
    }
    void EndProgram(int exitCode) override {
        Remove();
        ender_.EndProgram(exitCode);
    }

private:
    DatabaseState& state_;
    ProgramEnder& ender_;
    std::string path_;
};

// The file is made by us, readable by its owner only, before the engine
// opens it: a snapshot lists every file name of a tree, which is nobody
// else's business. The engine gives its journal files the same mode. The
// tables follow in SetUpEmptyDatabase; a file left empty by a kill in between
// is set up by the next open.
StoreError CreateSnapshotFile(DatabaseState& state, Prompter& prompter, RemoveFileMadeOnFailure& made) {
    int fd = ::open(state.DatabasePath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0 && errno != EEXIST) {
        StoreError error{SQLITE_CANTOPEN, std::strerror(errno), state.DatabasePath};
        ShowMessage(prompter, "Database created failed err=" + std::to_string(error.Code));
        return error;
    }
    if (fd >= 0) {
        ::close(fd);
        made.Made(state.DatabasePath);
    }
    try {
        state.SnapshotDatabase =
            std::make_unique<DatabaseConnection>(state.DatabasePath, SQLite::OPEN_READWRITE, state.BusyTimeoutMs);
        return {};
    } catch (const std::exception& e) {
        StoreError error = ToStoreError(e, state.DatabasePath);
        state.SnapshotDatabase.reset();
        ShowMessage(prompter, "Database created failed err=" + std::to_string(error.Code));
        return error;
    }
}

// True when the file holds no schema at all: zero bytes, or a header without
// tables (a creation that was killed before its transaction committed).
StoreError IsEmptyDatabase(SQLite::Database& db, bool& empty) {
    try {
        empty = db.execAndGet("SELECT count(*) FROM sqlite_master").getInt64() == 0;
        return {};
    } catch (const std::exception& e) {
        return ToStoreError(e, "sqlite_master");
    }
}

struct CreateStep {
    std::string_view Sql;
    std::string_view Phrase;  // what a failure of this statement is reported as
};

// Waits for the write lock while the file stays empty: when several
// processes meet a new file at once, one sets it up and the others go on as
// soon as they see its tables, however long that one then keeps the lock for
// its snapshot.
class WhileEmpty final : public LockWait {
public:
    explicit WhileEmpty(DatabaseState& state) : state_(state) {}
    bool KeepWaiting(std::chrono::milliseconds waited) override {
        bool empty = true;
        if (IsEmptyDatabase(*state_.SnapshotDatabase, empty).Ok() && !empty) {
            SetUpElsewhere = true;
            return false;
        }
        return waited < std::chrono::milliseconds(state_.BusyTimeoutMs);
    }
    bool SetUpElsewhere = false;

private:
    DatabaseState& state_;
};

// Every table and index of a new file, in one transaction: a kill leaves
// either all of them or none, and none reads as an empty file next time.
// Another process may be setting up the same file at the same moment: the
// write lock is taken first and the file looked at again inside it.
std::optional<CreateStep> SetUpEmptyDatabase(DatabaseState& state, StoreError& error) {
    static constexpr CreateStep kSteps[] = {
        {schema::kCreateControl, kControlSteps.CantCreate},    {schema::kCreateIndex1, kControlSteps.CantCreate},
        {schema::kCreateFiles, kFilesSteps.CantCreate},        {schema::kCreateDir, kDirSteps.CantCreate},
        {schema::kCreateDirParentIndex, kDirSteps.CantCreate},
        {schema::kCreateDirNameIndex, kDirSteps.CantCreate},
    };
    SQLite::Database& db = *state.SnapshotDatabase;
    WriteTransaction transaction(state);
    WhileEmpty wait(state);
    error = transaction.Begin(wait);
    if (wait.SetUpElsewhere) {
        error = {};
        return std::nullopt;
    }
    if (!error.Ok()) return kSteps[0];
    bool empty = false;
    error = IsEmptyDatabase(db, empty);
    if (error.Ok() && !empty) return std::nullopt;
    for (const CreateStep& step : kSteps) {
        if (error.Ok()) error = Execute(db, step.Sql);
        if (!error.Ok()) return step;
    }
    WaitUpTo commitWait{std::chrono::milliseconds(state.BusyTimeoutMs)};
    error = transaction.Commit(commitWait);
    if (!error.Ok()) return kSteps[0];
    return std::nullopt;
}

// Read commands on an empty file: the tables exist for this connection only,
// empty, so that every query finds no snapshots and nothing is written.
StoreError UseEmptyTemporaryTables(DatabaseState& state) {
    SQLite::Database& db = *state.SnapshotDatabase;
    for (std::string_view create : {schema::kCreateControl, schema::kCreateFiles, schema::kCreateDir}) {
        std::string sql(create);
        sql.replace(0, std::string_view("CREATE TABLE").size(), "CREATE TEMP TABLE");
        if (StoreError error = Execute(db, sql); !error.Ok()) return error;
    }
    return {};
}

// Prepares the row insert of a table; a table of the older format that could
// not be upgraded gets none, and its writes fail with a clear error.
// A table of ours that lacks a column of ours is someone else's: the file is
// rejected like one that lacks the table.
StoreError PrepareInsert(DatabaseState& state, Statement& insert, std::string_view sql) {
    StoreError error = insert.Prepare(state, sql, StatementUse::Repeated);
    if (error.Code == SQLITE_ERROR) error.Code = kErrTableNotFound;
    return error;
}

// Adds the double totals to an older Control table, in one transaction that
// leaves the table as it was when it fails.
StoreError UpgradeControlTable(DatabaseState& state, const FieldSet& fields, Prompter& prompter) {
    SQLite::Database& db = *state.SnapshotDatabase;
    if (state.ReadOnly) {
        ShowMessage(prompter, "Table Control cannot be migrated");
        state.OlderLayout = true;
        return {};
    }
    try {
        SQLite::Transaction transaction(db);
        if (!Has(fields, "Totbytesf")) db.exec("ALTER TABLE Control ADD COLUMN TotbytesF REAL");
        db.exec("ALTER TABLE Control ADD COLUMN FilesizeF REAL");
        if (!Has(fields, "Totbytesf")) db.exec("UPDATE Control SET totbytesf = totbytes");
        db.exec("UPDATE Control SET filesizef = filesize");
        transaction.commit();
    } catch (const std::exception& e) {
        return ToStoreError(e, "Control");
    }
    ShowMessage(prompter, "Note: Control table upgraded to new version");
    return {};
}

// Looks the table up and reads its fields; kErrTableNotFound when it is
// missing or lacks a field of ours.
template <std::size_t N>
StoreError FindTable(SQLite::Database& db, std::string_view table, const std::array<std::string_view, N>& needed,
                     FieldSet& fields) {
    bool exists = false;
    if (StoreError error = TableExists(db, table, exists); !error.Ok()) return error;
    if (!exists) {
        return StoreError{kErrTableNotFound, "The table '" + std::string(table) + "' does not exist.",
                          std::string(table)};
    }
    if (StoreError error = ReadFields(db, table, fields); !error.Ok()) return error;
    return CheckOwnFields(fields, table, needed);
}

StoreError OpenControlTable(DatabaseState& state, Prompter& prompter) {
    SQLite::Database& db = *state.SnapshotDatabase;
    FieldSet fields;
    if (StoreError error = FindTable(db, "Control", schema::kControlFields, fields); !error.Ok()) return error;
    if (!Has(fields, "Filesizef")) {
        // A failed upgrade leaves an older table that still reads; the open
        // goes on, and the missing totals keep new snapshots out (below).
        UpgradeControlTable(state, fields, prompter);
        if (StoreError error = ReadFields(db, "Control", fields); !error.Ok()) return error;
    }
    state.ControlTable.Finalize();
    // A table that still lacks a total takes no new row: CheckSnapshotWritable
    // says so before a run starts.
    if (!Has(fields, "Filesizef") || !Has(fields, "Totbytesf")) return {};
    return PrepareInsert(state, state.ControlTable, schema::kInsertControl);
}

StoreError OpenFilesTable(DatabaseState& state) {
    SQLite::Database& db = *state.SnapshotDatabase;
    FieldSet fields;
    if (StoreError error = FindTable(db, "files", schema::kFilesFields, fields); !error.Ok()) return error;
    // A table keyed by (Snapshot, Filedir, Filename) is its own File1. On
    // another, an index that cannot be added now (another program holds the
    // write lock) only makes the queries slower; the next open tries again.
    bool keyed = false;
    if (StoreError error = FilesTableIsKeyed(state, keyed); !error.Ok()) return error;
    if (!keyed && !state.ReadOnly) AddIndexWhenMissing(db, "File1", schema::kCreateFile1);
    return PrepareInsert(state, state.FilesTable, schema::kInsertFiles);
}

StoreError OpenDirTable(DatabaseState& state, Prompter& prompter) {
    SQLite::Database& db = *state.SnapshotDatabase;
    FieldSet fields;
    if (StoreError error = FindTable(db, "Dir", schema::kDirFields, fields); !error.Ok()) return error;
    state.DirTable.Finalize();
    if (!Has(fields, "TotsizeF")) {
        if (state.ReadOnly) {
            ShowMessage(prompter, "Table dir cannot be migrated");
            state.OlderLayout = true;
            return {};
        }
        try {
            SQLite::Transaction transaction(db);
            db.exec("ALTER TABLE Dir ADD COLUMN TotsizeF REAL");
            db.exec("UPDATE Dir SET totsizef = totsize");
            transaction.commit();
        } catch (const std::exception& e) {
            ShowMessage(prompter, "Error: database cannot be upgraded to new format");
            return ToStoreError(e, "Dir");
        }
        ShowMessage(prompter, "Note: Directory table upgraded to new version");
    }
    // As File1 above: the lookup indexes only make the tree and the
    // directory analyses faster.
    if (!state.ReadOnly) AddLookupIndexes(db);
    return PrepareInsert(state, state.DirTable, schema::kInsertDir);
}

StoreError OpenTable(DatabaseState& state, Table table, Prompter& prompter) {
    switch (table) {
        case Table::Control: return OpenControlTable(state, prompter);
        case Table::Files: return OpenFilesTable(state);
        case Table::Dir: return OpenDirTable(state, prompter);
    }
    return {};
}

OpenOutcome ShowNotADatabaseFile(DatabaseState& state, Prompter& prompter) {
    Message message;
    message.Text = state.DatabasePath + " is not a snapshot database file";
    message.Title = "Corvina Database Error";
    message.MessageIcon = Icon::Exclamation;
    prompter.Ask(message);
    state.DatabasePath.clear();
    return OpenOutcome::Invalid;
}

void ShowInvalidFile(DatabaseState& state, Prompter& prompter) {
    Message message;
    message.Text = "Database " + state.DatabasePath + " does not seem to be a valid Corvina database";
    message.Title = "Corvina Database Error";
    message.MessageIcon = Icon::Exclamation;
    prompter.Ask(message);
    state.DatabasePath.clear();
}

OpenOutcome ShowDamaged(DatabaseState& state, Prompter& prompter, const StoreError& error) {
    Message message;
    message.Text = DamagedDatabaseText(state.DatabasePath, error.Reason);
    message.Title = "Corvina Database Error";
    message.MessageIcon = Icon::Exclamation;
    prompter.Ask(message);
    CloseSnapshotDatabase(state);
    state.DatabasePath.clear();
    return OpenOutcome::Damaged;
}

OpenOutcome ShowBusy(DatabaseState& state, Prompter& prompter) {
    ShowMessage(prompter, BusyDatabaseText(state.DatabasePath), Icon::Exclamation);
    CloseSnapshotDatabase(state);
    state.DatabasePath.clear();
    return OpenOutcome::Busy;
}

// The end of the program, except for what is not the program's fault: a
// damaged file and another program's lock are said and the program goes on
// without a database.
OpenOutcome EndWith(DatabaseState& state, Prompter& prompter, ProgramEnder& ender, std::string_view phrase,
                    const StoreError& error) {
    if (error.IsDamaged()) return ShowDamaged(state, prompter, error);
    if (error.IsBusy()) return ShowBusy(state, prompter);
    ShowMessage(prompter, ProgramAbortedText(phrase, state.DatabasePath, error), Icon::Exclamation);
    ender.EndProgram(1);
    return OpenOutcome::Ended;
}

// Checks and opens one table. Returns nullopt when the sequence goes on.
std::optional<OpenOutcome> CheckTable(DatabaseState& state, Table table, const TableSteps& steps,
                                      Prompter& prompter, ProgramEnder& ender) {
    StoreError error = OpenTable(state, table, prompter);
    if (error.Ok()) return std::nullopt;
    if (error.Code == kErrTableNotFound) {
        ShowInvalidFile(state, prompter);
        return OpenOutcome::Invalid;
    }
    return EndWith(state, prompter, ender, steps.UnableToOpen, error);
}

// What a first read of the schema says of the file: Ok, or that it is no
// database at all (text, random bytes, a cut header), or damaged, or locked.
StoreError ProbeFile(SQLite::Database& db) {
    try {
        db.execAndGet("SELECT count(*) FROM sqlite_master");
        return {};
    } catch (const std::exception& e) {
        return ToStoreError(e, "sqlite_master");
    }
}

bool IsForeignFile(const StoreError& probe) { return (probe.Code & 0xff) == SQLITE_NOTADB; }

std::string FileUri(const std::string& path) {
    std::string uri = "file:";
    for (unsigned char c : path) {
        if (c == '%' || c == '?' || c == '#' || c < 0x21 || c > 0x7E) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        } else {
            uri += static_cast<char>(c);
        }
    }
    return uri;
}

// Whether a first read failed only because the engine could not make or
// write something beside the file: the log's index, a journal, a lock
// (SQLITE_CANTOPEN, or the SQLITE_READONLY family, such as
// SQLITE_READONLY_DIRECTORY for a file the user may write in a folder the
// user may not). Not a journal to roll back or a log to recover: those hold what the
// file alone lacks.
bool FailedOnlyToWriteBeside(int extendedCode) {
    if ((extendedCode & 0xff) == SQLITE_CANTOPEN) return true;
    return (extendedCode & 0xff) == SQLITE_READONLY && extendedCode != SQLITE_READONLY_ROLLBACK &&
           extendedCode != SQLITE_READONLY_RECOVERY;
}

bool HoldsBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// A file in write-ahead log mode needs the log's index beside it, and a user
// who may read the file but not write its folder (or the index), or a file on
// a read-only mount, cannot make or use one. When no log or journal holds
// anything the file lacks, the file alone is the whole database, and it is
// read as it stands. Another user's snapshot that commits meanwhile is not
// seen until the next open.
bool ReopenStandingFile(DatabaseState& state) {
    if (!FailedOnlyToWriteBeside(sqlite3_extended_errcode(state.SnapshotDatabase->getHandle()))) return false;
    if (HoldsBytes(state.DatabasePath + "-wal") || HoldsBytes(state.DatabasePath + "-journal")) return false;
    try {
        state.SnapshotDatabase = std::make_unique<DatabaseConnection>(
            FileUri(state.DatabasePath) + "?immutable=1", SQLite::OPEN_READONLY | SQLite::OPEN_URI,
            state.BusyTimeoutMs);
    } catch (const std::exception&) {
        return false;
    }
    return ProbeFile(*state.SnapshotDatabase).Ok();
}

// Journal settings of every connection. The journal mode is kept in the
// file, so it is changed only when it differs, and only in a file we may
// write; a failure leaves the mode as it was. The log and its index stay
// beside the file after the last connection closes (emptied): without them a
// user who may read the file but not write its folder could not open it.
void ConfigureJournal(DatabaseState& state) {
    SQLite::Database& db = *state.SnapshotDatabase;
    std::string mode;
    try {
        mode = Lower(db.execAndGet("PRAGMA journal_mode").getString());
    } catch (const std::exception&) {
        return;
    }
    const std::string wanted = OnNetworkFileSystem(state.DatabasePath) ? "delete" : "wal";
    if (mode != wanted && !state.ReadOnly) {
        try {
            mode = Lower(db.execAndGet("PRAGMA journal_mode = " + wanted).getString());
        } catch (const std::exception&) {
            // Another process holds the file; it may have switched it meanwhile.
            try {
                mode = Lower(db.execAndGet("PRAGMA journal_mode").getString());
            } catch (const std::exception&) {
            }
        }
    }
    state.WriteAheadLog = mode == "wal";
    if (!state.WriteAheadLog) return;
    int persist = 1;
    sqlite3_file_control(db.getHandle(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    // A log grown by a large snapshot shrinks back once it has been folded in.
    Execute(db, "PRAGMA journal_size_limit = 67108864");
}

}  // namespace

void ConfigureDatabaseEngineForRuns() {
    // SQLITE_MISUSE after the engine started: the defaults stay, which is fine.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

namespace {

OpenOutcome OpenDatabaseFile(DatabaseState& state, Prompter& prompter, RemoveFileMadeOnFailure& ender,
                             OpenMode mode) {
    if (ExistsButIsNoDatabaseFile(state.DatabasePath)) return ShowNotADatabaseFile(state, prompter);
    bool createdNow = false;
    StoreError error = OpenWorkspaceDatabase(state);
    if (error.Code == kErrFileNotFound && mode == OpenMode::ExistingOnly) {
        state.DatabasePath.clear();
        return OpenOutcome::Missing;
    }
    if (!error.Ok()) {
        if (!AskYesNo(prompter,
                      "System Database " + state.DatabasePath + " does not exist - would you like to create it?")) {
            state.DatabasePath.clear();
            return OpenOutcome::Declined;
        }
        createdNow = true;
        if (error.Code != kErrFileNotFound) {
            return EndWith(state, prompter, ender, "Unable to open system database ", error);
        }
        if (error = CreateSnapshotFile(state, prompter, ender); !error.Ok()) {
            return EndWith(state, prompter, ender, "Can't create system database ", error);
        }
    }
    if (StoreError probe = ProbeFile(*state.SnapshotDatabase); !probe.Ok() && !ReopenStandingFile(state)) {
        if (IsForeignFile(probe)) {
            ShowInvalidFile(state, prompter);
            return OpenOutcome::Invalid;
        }
        return EndWith(state, prompter, ender, "Unable to open system database ", probe);
    }
    state.ReadOnlyReason = WhyNotWritable(*state.SnapshotDatabase, state.DatabasePath);
    state.ReadOnly = !state.ReadOnlyReason.empty();

    bool empty = false;
    if (error = IsEmptyDatabase(*state.SnapshotDatabase, empty); !error.Ok()) {
        return EndWith(state, prompter, ender, "Unable to open system database ", error);
    }
    if (empty && (mode == OpenMode::ExistingOnly || state.ReadOnly)) {
        if (error = UseEmptyTemporaryTables(state); !error.Ok()) {
            return EndWith(state, prompter, ender, "Unable to open system database ", error);
        }
        state.ReadOnly = true;
        return OpenOutcome::Opened;
    }
    ConfigureJournal(state);
    if (empty) {
        if (auto failed = SetUpEmptyDatabase(state, error)) return EndWith(state, prompter, ender, failed->Phrase, error);
        createdNow = true;
    }

    if (auto end = CheckTable(state, Table::Control, kControlSteps, prompter, ender)) return *end;
    if (auto end = CheckTable(state, Table::Files, kFilesSteps, prompter, ender)) return *end;
    if (auto end = CheckTable(state, Table::Dir, kDirSteps, prompter, ender)) return *end;
    return createdNow ? OpenOutcome::Created : OpenOutcome::Opened;
}

}  // namespace

OpenOutcome OpenSnapshotDatabase(DatabaseState& state, Prompter& prompter, ProgramEnder& ender, OpenMode mode) {
    // Opening again while open replaces the old objects.
    state.ControlTable.Finalize();
    state.DirTable.Finalize();
    state.FilesTable.Finalize();
    state.SnapshotDatabase.reset();
    state.Server.reset();
    state.ReadOnly = false;
    state.ReadOnlyReason.clear();
    state.OlderLayout = false;
    state.WriteAheadLog = false;
    if (IsServerLocation(state.DatabasePath)) return OpenServerDatabase(state, prompter, mode);

    RemoveFileMadeOnFailure made(state, ender);
    const OpenOutcome outcome = OpenDatabaseFile(state, prompter, made, mode);
    if (outcome == OpenOutcome::Busy) made.Keep();
    if (outcome != OpenOutcome::Opened && outcome != OpenOutcome::Created) made.Remove();
    return outcome;
}

std::string CannotWriteText(const DatabaseState& state) {
    return "The snapshot database " + state.DatabasePath + " cannot be written: " +
           (state.ReadOnlyReason.empty() ? std::string("it is open for reading only") : state.ReadOnlyReason);
}

StoreError CheckSnapshotWritable(const DatabaseState& state) {
    const std::string& path = state.DatabasePath;
    if (!state.IsUsable()) return NotOpenError(path);
    if (state.ReadOnly) return StoreError{SQLITE_READONLY, CannotWriteText(state), path};
    for (const auto& [open, table] : {std::pair{state.ControlTable.IsPrepared(), "Control"},
                                      std::pair{state.DirTable.IsPrepared(), "Dir"},
                                      std::pair{state.FilesTable.IsPrepared(), "files"}}) {
        if (!open) {
            return StoreError{SQLITE_READONLY,
                              "The snapshot database " + path + " cannot take a new snapshot: its " + table +
                                  " table is of a layout that new rows do not fit",
                              path};
        }
    }
    return {};
}

StoreError CheckDatabaseIntegrity(DatabaseState& state, bool full) {
    // A server answers for its own pages.
    if (state.Server) return {};
    if (!state.SnapshotDatabase) return NotOpenError("");
    // Ten problems say enough; the check stops there instead of reading on.
    const std::string sql = full ? "PRAGMA integrity_check(10)" : "PRAGMA quick_check(10)";
    std::string problems;
    try {
        SQLite::Statement query(*state.SnapshotDatabase, sql);
        while (query.executeStep()) {
            std::string line = query.getColumn(0).getString();
            if (line == "ok") continue;
            problems += (problems.empty() ? "" : "; ") + line;
        }
    } catch (const std::exception& e) {
        StoreError error = ToStoreError(e, sql);
        // A check that cannot even read the file has found damage too.
        if ((error.Code & 0xff) == SQLITE_NOTADB) error.Code = SQLITE_CORRUPT;
        return error;
    }
    if (problems.empty()) return {};
    return StoreError{SQLITE_CORRUPT, problems, sql};
}

void SwapDatabaseStates(DatabaseState& a, DatabaseState& b) noexcept {
    using std::swap;
    swap(a.DatabasePath, b.DatabasePath);
    swap(a.DatabaseOpen, b.DatabaseOpen);
    swap(a.ReadOnly, b.ReadOnly);
    swap(a.ReadOnlyReason, b.ReadOnlyReason);
    swap(a.OlderLayout, b.OlderLayout);
    swap(a.WriteAheadLog, b.WriteAheadLog);
    swap(a.BusyTimeoutMs, b.BusyTimeoutMs);
    swap(a.SnapshotDatabase, b.SnapshotDatabase);
    swap(a.Server, b.Server);
    swap(a.ServerNotices, b.ServerNotices);
    swap(a.ControlTable, b.ControlTable);
    swap(a.DirTable, b.DirTable);
    swap(a.FilesTable, b.FilesTable);
}

void CloseSnapshotDatabase(DatabaseState& state) {
    state.DatabaseOpen.clear();
    state.ControlTable.Finalize();
    state.DirTable.Finalize();
    state.FilesTable.Finalize();
    state.SnapshotDatabase.reset();
    state.Server.reset();
}

}  // namespace corvina
