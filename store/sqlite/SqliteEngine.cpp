// The file engine on SQLite's own calls: the row writers and the long scans
// bind and read through here a million times a run, and a wrapper's copies
// and column objects would cost as much again as the engine's work.

#include "store/sqlite/SqliteEngine.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "base/PathStyle.h"

namespace corvina::engine {
namespace {

StoreCode CodeOf(int rc) {
    switch (rc & 0xff) {
        case SQLITE_OK: return StoreCode::Ok;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return StoreCode::Busy;
        case SQLITE_CORRUPT: return StoreCode::Damaged;
        case SQLITE_NOTADB: return StoreCode::NotSnapshotDatabase;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH: return StoreCode::ReadOnly;
        case SQLITE_CANTOPEN: return StoreCode::Unreachable;
        case SQLITE_CONSTRAINT: return StoreCode::Constraint;
        case SQLITE_IOERR:
        case SQLITE_FULL:
        case SQLITE_NOLFS: return StoreCode::Io;
        default: return StoreCode::Other;
    }
}

// The engine's message for rc: its last message when that is about rc (a
// failed step or prepare), else the generic text of the code.
std::string EngineReason(sqlite3* db, int rc) {
    if (db != nullptr && (sqlite3_extended_errcode(db) & 0xff) == (rc & 0xff)) return sqlite3_errmsg(db);
    return sqlite3_errstr(rc);
}

StoreError Failure(sqlite3* db, int rc, std::string datum) {
    const int extended = db != nullptr && (sqlite3_extended_errcode(db) & 0xff) == (rc & 0xff)
                             ? sqlite3_extended_errcode(db)
                             : rc;
    return StoreError{CodeOf(rc), EngineReason(db, rc), std::move(datum), extended};
}

class SqliteDialect final : public Dialect {
public:
    std::string CaseInsensitive(std::string_view expr) const override {
        return std::string(expr) + " COLLATE NOCASE";
    }
    std::string_view TypeName(ValueKind kind) const override {
        switch (kind) {
            case ValueKind::Integer: return "INTEGER";
            case ValueKind::Real: return "REAL";
            default: return "TEXT";
        }
    }
    std::string_view NotIndexed() const override { return " NOT INDEXED"; }
    std::string_view KeyedTableSuffix() const override { return " WITHOUT ROWID"; }
    // A sample of a few hundred rows an index is enough to tell a lookup
    // from a scan, and keeps the cost a few milliseconds whatever the size.
    std::string RefreshStatistics(std::string_view tables) const override {
        std::string sql = "PRAGMA analysis_limit = 400";
        std::string_view rest = tables;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            std::string_view table = rest.substr(0, comma);
            while (!table.empty() && table.front() == ' ') table.remove_prefix(1);
            sql += "; ANALYZE " + std::string(table);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
        return sql;
    }
};

// Binds on one prepared statement, shared by queries and the row inserts.
class SqliteStatement {
public:
    SqliteStatement(sqlite3_stmt* statement) : statement_(statement) {}
    ~SqliteStatement() { sqlite3_finalize(statement_); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    sqlite3_stmt* Raw() const { return statement_; }
    StoreError Check(int rc) const {
        if (rc == SQLITE_OK) return {};
        const char* sql = sqlite3_sql(statement_);
        return Failure(sqlite3_db_handle(statement_), rc, sql != nullptr ? sql : "");
    }
    int ParameterIndex(std::string_view name) const {
        // The engine wants the name ending in a zero byte.
        return sqlite3_bind_parameter_index(statement_, std::string(name).c_str());
    }
    StoreError BindText(int position, std::string_view text, bool copy) {
        // The engine binds a null pointer as NULL, which no "=" matches: an
        // empty view that points nowhere (a default one, or the Text of a
        // null column passed on) is still the empty text.
        const char* data = text.data() != nullptr ? text.data() : "";
        return Check(sqlite3_bind_text(statement_, position, data, static_cast<int>(text.size()),
                                       copy ? SQLITE_TRANSIENT : SQLITE_STATIC));
    }
    StoreError BindInt64(int position, std::int64_t value) {
        return Check(sqlite3_bind_int64(statement_, position, value));
    }
    StoreError BindDouble(int position, double value) { return Check(sqlite3_bind_double(statement_, position, value)); }
    StoreError BindNull(int position) { return Check(sqlite3_bind_null(statement_, position)); }
    // Steps a statement that returns no rows and resets it.
    StoreError Run() {
        int rc = sqlite3_step(statement_);
        // The message is taken before the reset, which may replace it.
        StoreError error = rc == SQLITE_DONE || rc == SQLITE_ROW ? StoreError{} : Check(rc);
        sqlite3_reset(statement_);
        return error;
    }

private:
    sqlite3_stmt* statement_;
};

// The binds of a query and of the row inserts, on one statement.
template <typename Interface>
class SqliteBinds : public Interface {
public:
    explicit SqliteBinds(sqlite3_stmt* statement) : statement_(statement) {}

    int ParameterIndex(std::string_view name) const override { return statement_.ParameterIndex(name); }
    StoreError BindText(int position, std::string_view text, bool copy) override {
        return statement_.BindText(position, text, copy);
    }
    StoreError BindInt64(int position, std::int64_t value) override { return statement_.BindInt64(position, value); }
    StoreError BindDouble(int position, double value) override { return statement_.BindDouble(position, value); }
    StoreError BindNull(int position) override { return statement_.BindNull(position); }

protected:
    SqliteStatement statement_;
};

class SqliteQuery final : public SqliteBinds<Query> {
public:
    using SqliteBinds::SqliteBinds;

    StoreError Step(bool& row) override {
        row = false;
        int rc = sqlite3_step(Raw());
        if (rc == SQLITE_ROW) {
            row = true;
            return {};
        }
        return rc == SQLITE_DONE ? StoreError{} : statement_.Check(rc);
    }
    StoreError Run() override { return statement_.Run(); }
    void Reset() override { sqlite3_reset(Raw()); }

    int ColumnCount() const override { return sqlite3_column_count(Raw()); }
    std::string_view ColumnName(int column) const override {
        const char* name = sqlite3_column_name(Raw(), column);
        return name != nullptr ? std::string_view(name) : std::string_view();
    }
    ColumnType Type(int column) const override {
        switch (sqlite3_column_type(Raw(), column)) {
            case SQLITE_INTEGER: return ColumnType::Integer;
            case SQLITE_FLOAT: return ColumnType::Real;
            case SQLITE_TEXT: return ColumnType::Text;
            case SQLITE_BLOB: return ColumnType::Blob;
            default: return ColumnType::Null;
        }
    }
    std::int64_t Int64(int column) const override { return sqlite3_column_int64(Raw(), column); }
    double Double(int column) const override { return sqlite3_column_double(Raw(), column); }
    std::string_view Text(int column) const override {
        // The text first, then its length: the order the engine asks for.
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(Raw(), column));
        if (text == nullptr) return {};
        return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(Raw(), column)));
    }

private:
    sqlite3_stmt* Raw() const { return statement_.Raw(); }
};

// A file takes each row as it comes: the insert runs at once, inside the
// run's transaction, so a failure names the row being added.
class SqliteBulkRows final : public SqliteBinds<BulkRows> {
public:
    using SqliteBinds::SqliteBinds;
    StoreError Add() override { return statement_.Run(); }
    StoreError Flush() override { return {}; }
    void Discard() override {}
};

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// File systems on which the write-ahead log is not safe: its index lives in
// shared memory that only processes on one machine can share.
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

// Each attempt lets the engine's own busy handler wait this long before we
// look at the caller's wait again.
constexpr int kAttemptMs = 100;
// The engine's default: the log is folded in once it holds this many pages.
constexpr int kAutoCheckpointPages = 1000;

class SqliteConnection final : public Connection {
public:
    SqliteConnection(sqlite3* db, std::string path, int busyTimeoutMs)
        : db_(db), path_(std::move(path)), busyTimeoutMs_(busyTimeoutMs) {}
    ~SqliteConnection() override { sqlite3_close_v2(db_); }

    sqlite3* Handle() const { return db_; }
    void MadeByThisOpen() { created_ = true; }

    const Dialect& SqlDialect() const override {
        static const SqliteDialect dialect;
        return dialect;
    }

    StoreError Prepare(std::string_view sql, StatementUse use, std::unique_ptr<Query>& query) override {
        sqlite3_stmt* prepared = nullptr;
        if (StoreError error = PrepareRaw(sql, use, prepared); !error.Ok()) return error;
        query = std::make_unique<SqliteQuery>(prepared);
        return {};
    }

    StoreError Execute(std::string_view sql) override {
        const std::string text(sql);
        int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr);
        return rc == SQLITE_OK ? StoreError{} : Failure(db_, rc, text);
    }

    StoreError OpenBulkRows(std::string_view table, std::span<const std::string_view> columns, int,
                            std::unique_ptr<BulkRows>& rows) override {
        std::string sql = "INSERT INTO " + std::string(table) + " (";
        std::string values;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            sql += (i == 0 ? "" : ", ") + std::string(columns[i]);
            values += i == 0 ? "?" : ",?";
        }
        sql += ") VALUES (" + values + ")";
        sqlite3_stmt* prepared = nullptr;
        StoreError error = PrepareRaw(sql, StatementUse::Repeated, prepared);
        // A table of ours without a column of ours is someone else's.
        if (error.Code == StoreCode::Other) error.Code = StoreCode::NotSnapshotDatabase;
        if (!error.Ok()) return error;
        rows = std::make_unique<SqliteBulkRows>(prepared);
        return {};
    }

    StoreError BeginWrite(LockWait& wait) override {
        // BEGIN IMMEDIATE: the write lock from the start, so that a run never
        // finds out at its end that another process got there first.
        StoreError error = RunWaiting("BEGIN IMMEDIATE", wait);
        if (error.IsBusy()) error.Code = StoreCode::LockedPastWait;
        return error;
    }

    StoreError Commit(LockWait& wait) override {
        StoreError error = RunWaiting("COMMIT", wait);
        if (error.Ok() && deferred_) DeferCheckpoint(false);
        return error;
    }

    void Rollback() override {
        if (deferred_) DeferCheckpoint(false);
        // Rolls back even when the engine has already ended the transaction
        // itself (it does after some errors); that second case is skipped.
        if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    void DeferCheckpoint(bool deferred) override {
        deferred_ = deferred;
        sqlite3_wal_autocheckpoint(db_, deferred ? 0 : kAutoCheckpointPages);
    }

    StoreError Checkpoint() override {
        int rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return rc == SQLITE_OK ? StoreError{} : Failure(db_, rc, "checkpoint");
    }

    StoreError TableExists(std::string_view name, bool& exists) override {
        return Exists("table', 'view", name, exists);
    }
    StoreError IndexExists(std::string_view name, bool& exists) override { return Exists("index", name, exists); }

    StoreError Fields(std::string_view table, std::vector<std::string>& fields) override {
        fields.clear();
        return ReadLowerNames("SELECT name FROM pragma_table_info(?) ORDER BY cid", table, fields);
    }

    StoreError PrimaryKey(std::string_view table, std::vector<std::string>& fields) override {
        fields.clear();
        return ReadLowerNames("SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk", table, fields);
    }

    // No schema at all: zero bytes, or a header without tables (a creation
    // that was killed before its transaction committed).
    StoreError IsEmpty(bool& empty) override {
        std::unique_ptr<Query> query;
        bool row = false;
        StoreError error = Prepare("SELECT count(*) FROM sqlite_master", StatementUse::Once, query);
        if (error.Ok()) error = query->Step(row);
        empty = error.Ok() && row && query->Int64(0) == 0;
        return error;
    }

    // On a read-only mount, a file the user may not write, or one in a
    // folder the user may not write (the engine makes its journal beside the
    // file). Known at the open, so that a command that would write says why
    // before it starts.
    StoreError WhyNotWritable(std::string& reason) override {
        reason = WhyNotWritableNow();
        return {};
    }

    StoreError Compact() override { return Execute("VACUUM"); }

    StoreError CheckIntegrity(bool full) override {
        // Ten problems say enough; the check stops there instead of reading on.
        const std::string sql = full ? "PRAGMA integrity_check(10)" : "PRAGMA quick_check(10)";
        std::unique_ptr<Query> query;
        StoreError error = Prepare(sql, StatementUse::Once, query);
        std::string problems;
        for (bool row = true; error.Ok() && (error = query->Step(row)).Ok() && row;) {
            const std::string_view line = query->Text(0);
            if (line == "ok") continue;
            problems += (problems.empty() ? "" : "; ") + std::string(line);
        }
        // A check that cannot even read the file has found damage too.
        if (!error.Ok()) {
            if (error.Code == StoreCode::NotSnapshotDatabase) error.Code = StoreCode::Damaged;
            return error;
        }
        if (problems.empty()) return {};
        return StoreError{StoreCode::Damaged, problems, sql, SQLITE_CORRUPT};
    }

    StoreError MapForLongReads() override { return Execute("PRAGMA mmap_size = 1073741824"); }

    void RemoveCreatedFile() override {
        if (!created_) return;
        sqlite3_close_v2(db_);
        db_ = nullptr;
        // The log and journal go first: a log left without its file would
        // be replayed onto the next file of that name.
        for (const char* suffix : {"-wal", "-shm", "-journal", ""}) ::unlink((path_ + suffix).c_str());
        created_ = false;
    }

    // Journal settings of every connection. The journal mode is kept in the
    // file, so it is changed only when it differs, and only in a file we
    // may write; a failure leaves the mode as it was. The log and its index
    // stay beside the file after the last connection closes (emptied):
    // without them a user who may read the file but not write its folder
    // could not open it.
    void ConfigureJournal(bool mayWrite) {
        std::string mode = JournalMode("PRAGMA journal_mode");
        const std::string wanted = OnNetworkFileSystem(path_) ? "delete" : "wal";
        if (!mode.empty() && mode != wanted && mayWrite) {
            const std::string changed = JournalMode("PRAGMA journal_mode = " + wanted);
            // Another process holds the file; it may have switched it meanwhile.
            mode = changed.empty() ? JournalMode("PRAGMA journal_mode") : changed;
        }
        if (mode != "wal") return;
        int persist = 1;
        sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
        // A log grown by a large snapshot shrinks back once it has been folded in.
        Execute("PRAGMA journal_size_limit = 67108864");
    }

    bool WriteAheadLog() {
        return JournalMode("PRAGMA journal_mode") == "wal";
    }

    std::string WhyNotWritableNow() const {
        struct statvfs fs {};
        if (::statvfs(path_.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0) return "it lies on a read-only file system";
        if (::access(path_.c_str(), W_OK) != 0) return "this user may not write the file";
        const std::string folder = FolderOf(path_);
        if (::access(folder.c_str(), W_OK) != 0) {
            return "this user may not write its folder " + folder + ", where its journal is kept";
        }
        if (sqlite3_db_readonly(db_, "main") == 1) return "it is open for reading only";
        return {};
    }

private:
    StoreError PrepareRaw(std::string_view sql, StatementUse use, sqlite3_stmt*& prepared) {
        prepared = nullptr;
        const unsigned flags = use == StatementUse::Repeated ? SQLITE_PREPARE_PERSISTENT : 0;
        int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), flags, &prepared, nullptr);
        if (rc == SQLITE_OK) return {};
        sqlite3_finalize(prepared);
        prepared = nullptr;
        return Failure(db_, rc, std::string(sql));
    }

    // Runs sql until it gets past a lock or wait gives up.
    StoreError RunWaiting(const char* sql, LockWait& wait) {
        const auto start = std::chrono::steady_clock::now();
        sqlite3_busy_timeout(db_, kAttemptMs);
        StoreError error;
        for (;;) {
            int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
            if (rc == SQLITE_OK) break;
            error = Failure(db_, sqlite3_extended_errcode(db_), sql);
            if (!error.IsBusy()) break;
            auto waited =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            if (!wait.KeepWaiting(waited)) break;
            error = {};
        }
        sqlite3_busy_timeout(db_, busyTimeoutMs_);
        return error;
    }

    // Names are matched without regard to case, as field names are.
    StoreError Exists(const char* type, std::string_view name, bool& exists) {
        exists = false;
        std::unique_ptr<Query> query;
        StoreError error = Prepare(std::string("SELECT 1 FROM sqlite_master WHERE type IN ('") + type +
                                       "') AND name = ? COLLATE NOCASE",
                                   StatementUse::Once, query);
        if (error.Ok()) error = query->BindText(1, name, true);
        if (error.Ok()) error = query->Step(exists);
        return error;
    }

    StoreError ReadLowerNames(std::string_view sql, std::string_view table, std::vector<std::string>& names) {
        std::unique_ptr<Query> query;
        StoreError error = Prepare(sql, StatementUse::Once, query);
        if (error.Ok()) error = query->BindText(1, table, true);
        for (bool row = true; error.Ok() && (error = query->Step(row)).Ok() && row;) {
            names.push_back(AsciiLower(query->Text(0)));
        }
        return error;
    }

    std::string JournalMode(const std::string& sql) {
        std::unique_ptr<Query> query;
        bool row = false;
        StoreError error = Prepare(sql, StatementUse::Once, query);
        if (error.Ok()) error = query->Step(row);
        return error.Ok() && row ? AsciiLower(query->Text(0)) : std::string();
    }

    sqlite3* db_;
    std::string path_;
    int busyTimeoutMs_;
    bool created_ = false;
    bool deferred_ = false;
};

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
// device or a pipe as an empty database and then try to set one up in it.
// A symbolic link counts as what it names.
bool ExistsButIsNoDatabaseFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return !S_ISREG(st.st_mode) || OnKernelFileSystem(path);
}

bool HoldsBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

StoreCode CodeOfErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS: return StoreCode::ReadOnly;
        case ENOSPC:
        case EDQUOT:
        case EIO: return StoreCode::Io;
        case ENOENT:
        case ENOTDIR: return StoreCode::Missing;
        default: return StoreCode::Unreachable;
    }
}

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

StoreError OpenHandle(const std::string& name, int flags, int busyTimeoutMs, sqlite3*& db) {
    db = nullptr;
    int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        StoreError error = Failure(db, rc, name);
        sqlite3_close_v2(db);
        db = nullptr;
        return error;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, busyTimeoutMs);
    return {};
}

// What a first read of the schema says of the file: Ok, or that it is no
// database at all (text, random bytes, a cut header), or damaged, or locked.
StoreError ProbeFile(sqlite3* db) {
    int rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? StoreError{} : Failure(db, sqlite3_extended_errcode(db), "sqlite_master");
}

// Whether a first read failed only because the engine could not make or
// write something beside the file: the log's index, a journal, a lock
// (SQLITE_CANTOPEN, or the SQLITE_READONLY family, such as
// SQLITE_READONLY_DIRECTORY for a file the user may write in a folder the
// user may not). Not a journal to roll back or a log to recover: those hold
// what the file alone lacks.
bool FailedOnlyToWriteBeside(int extendedCode) {
    if ((extendedCode & 0xff) == SQLITE_CANTOPEN) return true;
    return (extendedCode & 0xff) == SQLITE_READONLY && extendedCode != SQLITE_READONLY_ROLLBACK &&
           extendedCode != SQLITE_READONLY_RECOVERY;
}

std::atomic<bool> gDamageMet{false};

// Called by the engine on any of its threads, so it only sets a flag.
void OnEngineLog(void*, int code, const char*) {
    if ((code & 0xff) == SQLITE_CORRUPT) gDamageMet.store(true);
}

}  // namespace

StoreError OpenSqliteEngine(const OpenRequest& request, OpenedEngine& opened) {
    const std::string& path = request.Location;
    opened = OpenedEngine{};
    opened.Location = path;
    if (ExistsButIsNoDatabaseFile(path)) {
        opened.NoRegularFile = true;
        return StoreError{StoreCode::NotSnapshotDatabase, path + " is not a regular file", path};
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (!request.Create) {
            return StoreError{StoreCode::Missing, "Could not find file '" + path + "'.", path};
        }
        // The file is made by us, readable by its owner only, before the
        // engine opens it: a snapshot lists every file name of a tree, which
        // is nobody else's business. The engine gives its journal files the
        // same mode.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0 && errno != EEXIST) return StoreError{CodeOfErrno(errno), std::strerror(errno), path, errno};
        if (fd >= 0) {
            ::close(fd);
            opened.Created = true;
        }
    }
    sqlite3* db = nullptr;
    StoreError error = OpenHandle(path, SQLITE_OPEN_READWRITE, request.BusyTimeoutMs, db);
    auto connection = std::make_unique<SqliteConnection>(db, path, request.BusyTimeoutMs);
    if (opened.Created) connection->MadeByThisOpen();
    if (!error.Ok()) {
        connection->RemoveCreatedFile();
        return error;
    }
    if (StoreError probe = ProbeFile(db); !probe.Ok()) {
        // A file in write-ahead log mode needs the log's index beside it, and
        // a user who may read the file but not write its folder (or the
        // index), or a file on a read-only mount, cannot make or use one.
        // When no log or journal holds anything the file lacks, the file
        // alone is the whole database, and it is read as it stands. Another
        // user's snapshot that commits meanwhile is not seen until the next
        // open.
        sqlite3* standing = nullptr;
        const bool reopened =
            FailedOnlyToWriteBeside(probe.EngineCode) && !HoldsBytes(path + "-wal") &&
            !HoldsBytes(path + "-journal") &&
            OpenHandle(FileUri(path) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, request.BusyTimeoutMs,
                       standing)
                .Ok() &&
            ProbeFile(standing).Ok();
        if (!reopened) {
            sqlite3_close_v2(standing);
            connection->RemoveCreatedFile();
            return probe;
        }
        connection = std::make_unique<SqliteConnection>(standing, path, request.BusyTimeoutMs);
    }
    bool empty = false;
    if (error = connection->IsEmpty(empty); !error.Ok()) {
        connection->RemoveCreatedFile();
        return error;
    }
    // An empty file opened only to be read is left exactly as it is.
    if (!empty || request.ForWriting) connection->ConfigureJournal(connection->WhyNotWritableNow().empty());
    opened.WriteAheadLog = connection->WriteAheadLog();
    opened.Empty = empty;
    opened.Database = std::move(connection);
    return {};
}

void ConfigureSqliteForRuns() {
    // SQLITE_MISUSE after the engine started: the defaults stay, which is fine.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

void WatchSqliteForDamage() { sqlite3_config(SQLITE_CONFIG_LOG, OnEngineLog, nullptr); }

bool SqliteMetDamage() { return gDamageMet.load(); }

}  // namespace corvina::engine
