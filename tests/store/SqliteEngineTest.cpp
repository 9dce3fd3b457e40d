// The file engine through the engine interface, on real files: values bound
// and read back, the rows of a run, what each kind of failure maps onto, the
// writers' lock held by another process, the dialect, and the outcomes of the
// store's open that the dialogue tests do not reach.

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>

#include "store/Schema.h"
#include "store/SnapshotDatabase.h"
#include "store/engine/Engine.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace corvina {
namespace {

namespace fs = std::filesystem;
using engine::Connection;
using engine::Query;
using std::chrono::milliseconds;

#define ASSERT_OK(call)                               \
    do {                                              \
        const StoreError error_ = (call);             \
        ASSERT_TRUE(error_.Ok()) << error_.Details(); \
    } while (false)

StoreError OpenFile(const std::string& path, bool create, engine::OpenedEngine& opened) {
    engine::OpenRequest request;
    request.Location = path;
    request.Create = create;
    request.ForWriting = true;
    return engine::OpenEngine(request, opened);
}

std::unique_ptr<Connection> MakeFile(const std::string& path) {
    engine::OpenedEngine opened;
    const StoreError error = OpenFile(path, true, opened);
    EXPECT_TRUE(error.Ok()) << error.Details();
    return std::move(opened.Database);
}

// The rows of sql as text: fields joined by "|", rows by ",".
std::string Rows(Connection& db, std::string_view sql) {
    std::unique_ptr<Query> query;
    StoreError error = db.Prepare(sql, StatementUse::Once, query);
    std::string rows;
    for (bool row = true, first = true; error.Ok() && (error = query->Step(row)).Ok() && row; first = false) {
        for (int c = 0; c < query->ColumnCount(); ++c) {
            rows += (c > 0 ? "|" : first ? "" : ",") + std::string(query->Text(c));
        }
    }
    return error.Ok() ? rows : error.Details();
}

TEST(SqliteEngine, BoundValuesComeBackWithTheirTypesAndEveryByte) {
    test::TempDir dir;
    auto db = MakeFile(dir.File("values.db"));
    ASSERT_TRUE(db);
    std::string everyByte, large(100'000, '\0');
    for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(1 + i * 7 % 255);
    const std::string notUtf8 = "\xff\xfe\xc3(\xed\xa0\x80\xc0\xaf";
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min(), kMax = std::numeric_limits<std::int64_t>::max();

    std::unique_ptr<Query> q;
    ASSERT_OK(db->Prepare("SELECT ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, :q, :q, ?12", StatementUse::Once, q));
    const int named = q->ParameterIndex(":q");
    EXPECT_EQ(q->ParameterIndex(":other"), 0);
    // A copied text may go as soon as it is bound.
    std::string scratch = everyByte;
    ASSERT_OK(q->BindText(6, scratch, true));
    scratch.assign(scratch.size(), '?');
    for (const StoreError& error : {q->BindInt64(1, kMin), q->BindInt64(2, kMax), q->BindDouble(3, -0.0),
                                    q->BindDouble(4, 1.7976931348623157e308), q->BindDouble(5, 2.5),
                                    q->BindText(7, notUtf8, false), q->BindText(8, large, false), q->BindNull(9),
                                    q->BindText(named, "q", true), q->BindText(12, std::string_view(), false)}) {
        ASSERT_OK(error);
    }
    for (int pass = 0; pass < 2; ++pass, q->Reset()) {
        SCOPED_TRACE(pass);  // the second pass after a Reset, which keeps the values
        bool row = false;
        ASSERT_OK(q->Step(row));
        ASSERT_TRUE(row);
        EXPECT_EQ(std::tuple(q->Type(0), q->Type(2), q->Type(5), q->Type(8)),
                  std::tuple(ColumnType::Integer, ColumnType::Real, ColumnType::Text, ColumnType::Null));
        EXPECT_EQ(std::tuple(q->Int64(0), q->Int64(1), q->Text(0), q->Text(1)),
                  std::tuple(kMin, kMax, "-9223372036854775808", "9223372036854775807"));
        EXPECT_TRUE(q->Double(2) == 0.0 && std::signbit(q->Double(2)));
        EXPECT_EQ(std::tuple(q->Double(3), q->Double(4), q->Text(4)), std::tuple(1.7976931348623157e308, 2.5, "2.5"));
        EXPECT_EQ(std::tuple(q->Text(5), q->Text(6), q->Text(8), q->Text(9), q->Text(10)),
                  std::tuple(everyByte, notUtf8, "", "q", "q"));
        EXPECT_TRUE(q->Text(7) == large);
        // An empty text is a text, also from a view that points nowhere.
        EXPECT_EQ(q->Type(11), ColumnType::Text);
        ASSERT_OK(q->Step(row));
        EXPECT_FALSE(row);
    }

    // Stored whole in the types our tables use; "?N" names its value wherever
    // it stands.
    ASSERT_OK(db->Execute("CREATE TABLE v (t TEXT, r REAL, k INTEGER)"));
    ASSERT_OK(db->Prepare("INSERT INTO v VALUES (?3, ?2, ?1)", StatementUse::Repeated, q));
    const std::tuple<std::int64_t, double, const std::string*> rows[] = {
        {kMin, 0.1, &everyByte}, {kMax, -1e300, &notUtf8}, {0, 3e9, &large}};
    for (const auto& [k, r, t] : rows) {
        ASSERT_OK(q->BindInt64(1, k));
        ASSERT_OK(q->BindDouble(2, r));
        ASSERT_OK(q->BindText(3, *t, false));
        ASSERT_OK(q->Run());
    }
    EXPECT_EQ(Rows(*db, "SELECT k, r, length(CAST(t AS BLOB)), typeof(t) FROM v ORDER BY k"),
              "-9223372036854775808|0.1|255|text,0|3000000000.0|100000|text,9223372036854775807|-1.0e+300|9|text");
}

TEST(SqliteEngine, BulkRowsFillTheirColumnsAndARefusedRowSaysWhichKey) {
    test::TempDir dir;
    auto db = MakeFile(dir.File("bulk.db"));
    ASSERT_TRUE(db);
    ASSERT_OK(db->Execute("CREATE TABLE t (k TEXT, n INTEGER, r REAL, UNIQUE (k, n));"
                          "CREATE TABLE other (k TEXT, n INTEGER)"));
    const std::string_view columns[] = {"r", "k", "n"};
    std::unique_ptr<engine::BulkRows> rows;
    ASSERT_OK(db->OpenBulkRows("t", columns, 2, rows));
    auto add = [&](double r, std::string_view k, std::int64_t n) {
        StoreError error = rows->BindDouble(1, r);
        if (error.Ok()) error = rows->BindText(2, k, false);
        if (error.Ok()) error = rows->BindInt64(3, n);
        return error.Ok() ? rows->Add() : error;
    };
    WaitUpTo noWait{milliseconds(0)};
    ASSERT_OK(db->BeginWrite(noWait));
    EXPECT_TRUE(add(1.5, "a", 1).Ok() && add(2.5, "b", 1).Ok());
    const StoreError refused = add(3.5, "a", 1);
    EXPECT_EQ(refused.Code, StoreCode::Constraint);
    EXPECT_NE(refused.Reason.find("UNIQUE constraint failed: t.k, t.n"), std::string::npos) << refused.Reason;
    // Only the refused row is dropped.
    EXPECT_TRUE(add(4.5, "a", 2).Ok());
    ASSERT_OK(rows->Flush());
    ASSERT_OK(db->Commit(noWait));
    EXPECT_EQ(Rows(*db, "SELECT k, n, r FROM t ORDER BY r"), "a|1|1.5,b|1|2.5,a|2|4.5");

    // Rolled back, the rows of a run leave nothing.
    ASSERT_OK(db->BeginWrite(noWait));
    EXPECT_TRUE(add(5.5, "c", 1).Ok());
    rows->Discard();
    db->Rollback();
    EXPECT_EQ(Rows(*db, "SELECT count(*) FROM t"), "3");

    // A table of ours without one of our columns is another program's.
    const StoreError foreign = db->OpenBulkRows("other", columns, 2, rows);
    EXPECT_EQ(foreign.Code, StoreCode::NotSnapshotDatabase);
    EXPECT_NE(foreign.Reason.find("has no column named r"), std::string::npos) << foreign.Reason;
}

TEST(SqliteEngine, EachKindOfBadFileHasItsOwnCode) {
    test::TempDir dir;
    engine::OpenedEngine opened;
    const std::string random = dir.File("random.db"), missing = dir.File("missing.db");
    std::independent_bits_engine<std::mt19937, 8, unsigned> bytes(7);
    std::string noise(8192, '\0');
    std::generate(noise.begin(), noise.end(), [&] { return static_cast<char>(bytes()); });
    test::WriteFile(random, noise);
    EXPECT_EQ(OpenFile(random, true, opened).Code, StoreCode::NotSnapshotDatabase);
    EXPECT_FALSE(opened.NoRegularFile);

    EXPECT_EQ(OpenFile(missing, false, opened).Code, StoreCode::Missing);
    EXPECT_FALSE(fs::exists(missing));
    ASSERT_OK(OpenFile(missing, true, opened));
    EXPECT_TRUE(opened.Created && opened.Empty);
    EXPECT_EQ(fs::status(missing).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_OK(OpenFile(missing, true, opened));
    EXPECT_FALSE(opened.Created);

    for (const std::string& place : {dir.Path().string(), std::string("/dev/null")}) {
        SCOPED_TRACE(place);
        EXPECT_EQ(OpenFile(place, true, opened).Code, StoreCode::NotSnapshotDatabase);
        EXPECT_TRUE(opened.NoRegularFile && !opened.Database);
    }

    // A page of a table overwritten: the open succeeds (the schema is
    // intact), the read and the check meet the damage.
    const std::string damaged = dir.File("damaged.db");
    std::int64_t root = 0, pageSize = 0;
    {
        auto db = MakeFile(damaged);
        ASSERT_TRUE(db);
        ASSERT_OK(db->Execute("CREATE TABLE t (k INTEGER, pad TEXT);"
                              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)"
                              " INSERT INTO t SELECT i, printf('%.500c', 'x') FROM n"));
        root = std::stoll(Rows(*db, "SELECT rootpage FROM sqlite_master WHERE name = 't'"));
        pageSize = std::stoll(Rows(*db, "PRAGMA page_size"));
    }
    const std::string garbage(static_cast<std::size_t>(pageSize), '\x5a');
    const int fd = ::open(damaged.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, garbage.data(), garbage.size(), (root - 1) * pageSize), pageSize);
    ::close(fd);
    ASSERT_OK(OpenFile(damaged, false, opened));
    EXPECT_EQ(Rows(*opened.Database, "SELECT sum(length(pad)) FROM t").rfind("Code=Damaged ", 0), 0u);
    EXPECT_TRUE(opened.Database->CheckIntegrity(false).IsDamaged());
}

// A file that may be read but not written: on a read-only mount (root
// writes anything else), or a file without write permission.
TEST(SqliteEngine, AFileThatCannotBeWrittenIsReadAndSaysWhy) {
    test::TempDir dir;
    const std::string folder = dir.File("ro"), path = folder + "/snap.db";
    fs::create_directory(folder);
    {
        auto db = MakeFile(path);
        ASSERT_TRUE(db);
        ASSERT_OK(db->Execute("CREATE TABLE t (k INTEGER); INSERT INTO t VALUES (1)"));
    }
    struct Mount {
        ~Mount() {
            if (!target.empty()) ::umount2(target.c_str(), MNT_DETACH);
        }
        std::string target;
    } mount;
    std::string why = "this user may not write the file";
    if (::geteuid() == 0) {
        // A mount namespace of this process alone, so that nobody else sees it.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            GTEST_SKIP() << "cannot mount a file system here";
        }
        mount.target = folder;
        ASSERT_EQ(::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        why = "it lies on a read-only file system";
    } else {
        fs::permissions(path, fs::perms::owner_read);
    }
    engine::OpenedEngine opened;
    ASSERT_OK(OpenFile(path, false, opened));
    std::string reason;
    ASSERT_OK(opened.Database->WhyNotWritable(reason));
    EXPECT_EQ(reason, why);
    EXPECT_EQ(Rows(*opened.Database, "SELECT k FROM t"), "1");
    EXPECT_EQ(opened.Database->Execute("INSERT INTO t VALUES (2)").Code, StoreCode::ReadOnly);
}

// The sqlite3 shell in a transaction that holds the writers' lock of a file
// until the shell's input is closed.
class LockHolder {
public:
    // Starts the shell and waits until it says it has the lock.
    explicit LockHolder(const std::string& path) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        // -bail: a BEGIN that fails ends the shell before it says "locked".
        const char* argv[] = {"sqlite3", "-bail", path.c_str(), nullptr};
        if (posix_spawnp(&pid_, "sqlite3", &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        const std::string script = "BEGIN IMMEDIATE;\nSELECT 'locked';\n";
        std::string said;
        char buffer[64];
        if (pid_ > 0 && ::write(input_, script.data(), script.size()) == static_cast<ssize_t>(script.size())) {
            for (ssize_t n; said.find('\n') == std::string::npos && (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
                said.append(buffer, static_cast<std::size_t>(n));
            }
        }
        ::close(out[0]);
        Locked = said == "locked\n";
    }
    ~LockHolder() { Release(); }
    // Closes the shell's input and waits for it to end: its transaction ends with it.
    bool Release() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
        int status = 0;
        const bool ended = pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    bool Locked = false;

private:
    pid_t pid_ = -1;
    int input_ = -1;
};

TEST(SqliteEngine, TheWritersLockOfAnotherProcessIsWaitedForOnlyAsLongAsAsked) {
    test::TempDir dir;
    const std::string path = dir.File("locked.db");
    auto db = MakeFile(path);
    ASSERT_TRUE(db);
    ASSERT_OK(db->Execute("CREATE TABLE t (k INTEGER); INSERT INTO t VALUES (1)"));
    LockHolder other(path);
    ASSERT_TRUE(other.Locked);
    WaitUpTo noWait{milliseconds(0)};
    const StoreError locked = db->BeginWrite(noWait);
    EXPECT_EQ(locked.Code, StoreCode::LockedPastWait) << locked.Details();
    EXPECT_TRUE(locked.IsBusy());
    // Readers go on meanwhile.
    EXPECT_EQ(Rows(*db, "SELECT k FROM t"), "1");
    ASSERT_TRUE(other.Release());
    ASSERT_OK(db->BeginWrite(noWait));
    ASSERT_OK(db->Execute("INSERT INTO t VALUES (2)"));
    ASSERT_OK(db->Commit(noWait));
    EXPECT_EQ(Rows(*db, "SELECT count(*) FROM t"), "2");
}

TEST(SqliteDialect, ComparesAsciiWithoutCaseAndRendersTheTablesAsFilesStoreThem) {
    test::TempDir dir;
    auto db = MakeFile(dir.File("dialect.db"));
    ASSERT_TRUE(db);
    const engine::Dialect& d = db->SqlDialect();
    ASSERT_OK(db->Execute("CREATE TABLE n (v TEXT);"
                          "INSERT INTO n VALUES ('b'), ('_x'), ('A'), ('\xc3\xa4'), ('\xc3\x84'), ('a'), ('[')"));
    EXPECT_EQ(Rows(*db, "SELECT " + d.CaseInsensitive("'ABC'") + " = " + d.CaseInsensitive("'abc'") + ", " +
                            d.CaseInsensitive("'\xc3\x84'") + " = " + d.CaseInsensitive("'\xc3\xa4'")),
              "1|0");
    // Letters fold to lower case: "_" and "[" sort before them, as they do
    // before lower-case letters in bytes.
    EXPECT_EQ(Rows(*db, "SELECT v FROM n ORDER BY " + d.CaseInsensitive("v") + ", v"),
              "[,_x,A,a,b,\xc3\x84,\xc3\xa4");

    // The texts the files of every earlier version hold: a table made now
    // must read the same to anyone who compares them.
    const std::string control =
        "CREATE TABLE Control (Snapshot TEXT, Basepath TEXT, Description TEXT, Collfiles TEXT, "
        "Filelimit INTEGER, Totdirs INTEGER, Totfiles INTEGER, Totbytes INTEGER, Totbytesf REAL, "
        "Filetot INTEGER, Filesize INTEGER, Filesizef REAL)";
    const std::string files =
        "CREATE TABLE files (Snapshot TEXT, Filename TEXT, Filesize INTEGER, Filetype TEXT, Filedir TEXT, "
        "Fileattr INTEGER, Filedate TEXT, CONSTRAINT File1 PRIMARY KEY (Snapshot, Filedir, Filename)) WITHOUT ROWID";
    const std::string dirTable =
        "CREATE TABLE Dir (Snapshot TEXT, Entrytype TEXT, Dirname TEXT, Shortname TEXT, Parentdir TEXT, "
        "Dirlevel INTEGER, Files INTEGER, Totsize INTEGER, TotsizeF REAL)";
    EXPECT_EQ(schema::CreateTableSql(d, schema::kControl), control);
    EXPECT_EQ(schema::CreateTableSql(d, schema::kFiles), files);
    EXPECT_EQ(schema::CreateTableSql(d, schema::kDir), dirTable);

    DatabaseState state;
    state.DatabasePath = dir.File("new.db");
    ASSERT_EQ(OpenDatabase(state, OpenMode::Create).Outcome, OpenOutcome::Created);
    EXPECT_EQ(Rows(*state.Engine, "SELECT sql FROM sqlite_master WHERE type = 'table' ORDER BY name COLLATE BINARY"),
              control + "," + dirTable + "," + files);
}

// The outcomes of the open itself, without the dialogue that words them.
TEST(SqliteOpenDatabase, MissingEmptyAndLockedFilesAreLeftAsTheyAre) {
    test::TempDir dir;
    DatabaseState state;
    const std::string missing = dir.File("missing.db"), empty = dir.File("empty.db");
    state.DatabasePath = missing;
    OpenResult result = OpenDatabase(state, OpenMode::CreateWhenMissing);
    EXPECT_EQ(result.Outcome, OpenOutcome::NeedsCreating);
    EXPECT_EQ(result.Error.Code, StoreCode::Missing);
    EXPECT_TRUE(state.DatabasePath == missing && !state.IsUsable() && fs::is_empty(dir.Path()));
    EXPECT_EQ(OpenDatabase(state, OpenMode::ExistingOnly).Outcome, OpenOutcome::Missing);
    EXPECT_TRUE(state.DatabasePath.empty() && fs::is_empty(dir.Path()));

    // Read as a database without snapshots that nothing may write.
    test::WriteFile(empty, "");
    state.DatabasePath = empty;
    result = OpenDatabase(state, OpenMode::ExistingOnly);
    EXPECT_EQ(result.Outcome, OpenOutcome::Opened);
    EXPECT_EQ(CheckSnapshotWritable(state).Code, StoreCode::ReadOnly);
    EXPECT_EQ(state.ReadOnlyReason, "it is open for reading only");
    CloseSnapshotDatabase(state);
    EXPECT_EQ(fs::file_size(empty), 0u);
    EXPECT_FALSE(fs::exists(empty + "-wal") || fs::exists(empty + "-shm") || fs::exists(empty + "-journal"));

    // Another process holds the new file's lock: it is the one setting it up.
    LockHolder other(empty);
    ASSERT_TRUE(other.Locked);
    state.DatabasePath = empty;
    state.BusyTimeoutMs = 0;
    result = OpenDatabase(state, OpenMode::CreateWhenMissing);
    EXPECT_EQ(result.Outcome, OpenOutcome::Busy) << result.Error.Details();
    ASSERT_TRUE(other.Release());
    EXPECT_TRUE(state.DatabasePath.empty());
    EXPECT_EQ(fs::file_size(empty), 0u);
}

}  // namespace
}  // namespace corvina
