// Opening, creating and upgrading snapshot databases, and what the catalogue
// and the row writers do with one.

#include <sqlite3.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <utility>

#include "app/OpenDialogue.h"
#include "store/Catalogue.h"
#include "store/Statement.h"
#include "store/RowWriter.h"
#include "store/SnapshotDatabase.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

using test::RecordingEnder;
using test::RecordingPrompter;
using test::TempDir;

using test::Query;

void ExecuteOrFail(DatabaseState& state, const std::string& sql) {
    StoreError error = Execute(state, sql);
    ASSERT_TRUE(error.Ok()) << error.Details();
}

std::string Objects(SQLite::Database& db, const std::string& type) {
    return Query(db, "SELECT name FROM sqlite_master WHERE type = '" + type +
                         "' AND name NOT LIKE 'sqlite_%' ORDER BY name");
}

class OpenDatabase : public ::testing::Test {
protected:
    OpenOutcome Open(const std::string& path) {
        state.DatabasePath = path;
        return OpenSnapshotDatabase(state, prompter, ender);
    }
    // A file as another program would leave it: some of our tables, or older ones.
    void MakeFile(const std::string& path, const std::string& sql) {
        SQLite::Database(path, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE).exec(sql);
    }

    TempDir dir;
    DatabaseState state;
    RecordingPrompter prompter;
    RecordingEnder ender;
};

// The new file and its journals are the owner's only.
TEST_F(OpenDatabase, MissingFileAskedYesIsCreatedWithExactlyTheSchemaForItsOwnerOnly) {
    std::string path = dir.File("new.mdb");
    EXPECT_EQ(Open(path), OpenOutcome::Created);
    ASSERT_EQ(prompter.Texts(),
              std::vector<std::string>{"System Database " + path + " does not exist - would you like to create it?"});
    EXPECT_EQ(prompter.Messages()[0].MessageButtons, Buttons::YesNo);
    EXPECT_TRUE(state.DatabasePath == path && !ender.Ended);
    ExecuteOrFail(state, "INSERT INTO Control (Snapshot) VALUES ('2020-01-01 00:00:00')");
    for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }

    // The tables' texts are checked where the engine renders them (FileEngine).
    SQLite::Database db(path);
    EXPECT_EQ(Objects(db, "table"), "Control,Dir,files");
    // The files table is keyed by File1 itself: no index repeats its keys.
    EXPECT_EQ(Objects(db, "index"), "DirName,DirParent,Index1");

    // The next open of the same file is silent.
    prompter.Clear();
    EXPECT_EQ(Open(path), OpenOutcome::Opened);
    EXPECT_TRUE(prompter.Texts().empty() && state.DatabaseOpen);
}

TEST_F(OpenDatabase, MissingFolderCannotBeCreatedAndEndsTheProgram) {
    std::string path = dir.File("no/such/folder/new.mdb");
    EXPECT_EQ(Open(path), OpenOutcome::Ended);
    auto texts = prompter.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_TRUE(texts[1].starts_with("Database created failed err=")) << texts[1];
    EXPECT_TRUE(texts[2].starts_with("Can't create system database " + path + "\nCode=") &&
                texts[2].ends_with(". Program aborted") && ender.Ended)
        << texts[2];
}

// Another program's database, or no database at all: invalid, said so once,
// and left as it is. (What is no file, a folder or a device: DatabasePlaces.)
TEST_F(OpenDatabase, AFileLackingOneOfOurTablesOrNotADatabaseOrNoFileIsInvalid) {
    const struct {
        const char* Name;
        const char* Sql;
        std::string Bytes;
    } cases[] = {
        {"no-control.mdb", "CREATE TABLE files (x); CREATE TABLE Dir (x);", ""},
        // Our other two tables beside someone else's Control table.
        {"foreign-control.mdb",
         "CREATE TABLE Control (Id INTEGER, Name TEXT);"
         "CREATE TABLE Dir (Snapshot, Entrytype, Dirname, Shortname, Parentdir, Dirlevel, Files, Totsize, TotsizeF);"
         "CREATE TABLE files (Snapshot, Filename, Filesize, Filetype, Filedir, Fileattr, Filedate);",
         ""},
        {"text.mdb", nullptr, "This is a shopping list, not a database.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        prompter.Clear();
        std::string path = dir.File(c.Name);
        c.Sql != nullptr ? MakeFile(path, c.Sql) : test::WriteFile(path, c.Bytes);
        const auto size = std::filesystem::file_size(path);
        EXPECT_EQ(Open(path), OpenOutcome::Invalid);
        EXPECT_EQ(prompter.Texts(), std::vector{"Database " + path + " does not seem to be a valid Corvina database"});
        EXPECT_EQ(prompter.Messages().at(0).Title, "Corvina Database Error");
        EXPECT_TRUE(state.DatabasePath.empty() && !ender.Ended);
        CloseSnapshotDatabase(state);
        EXPECT_EQ(std::filesystem::file_size(path), size);
    }
}

// What a kill while a file was being created leaves: nothing, or a header
// without tables. Writers set it up as new without asking, unless another
// program holds its lock (that one is setting it up); readers find no
// snapshots in it, may not write to it, and leave it as it is.
TEST_F(OpenDatabase, EmptyFileIsSetUpByWritersAndReadAsEmptyByReaders) {
    std::string zero = dir.File("zero.mdb"), header = dir.File("header.mdb");
    test::WriteFile(zero, "");
    MakeFile(header, "PRAGMA user_version = 7");
    for (const std::string& path : {zero, header}) {
        SCOPED_TRACE(path);
        const auto size = std::filesystem::file_size(path);
        prompter.Clear();
        state.DatabasePath = path;
        EXPECT_EQ(OpenSnapshotDatabase(state, prompter, ender, OpenMode::ExistingOnly), OpenOutcome::Opened);
        std::vector<std::string> paths;
        std::optional<DateTime> latest;
        EXPECT_TRUE(ListBasePaths(state, paths).Ok() && paths.empty());
        EXPECT_TRUE(LatestSnapshot(state, latest).Ok() && !latest);
        EXPECT_EQ(CheckSnapshotWritable(state).Code, StoreCode::ReadOnly);
        EXPECT_EQ(state.ReadOnlyReason, "it is open for reading only");
        CloseSnapshotDatabase(state);
        {
            SQLite::Database other(path, SQLite::OPEN_READWRITE);
            other.exec("BEGIN IMMEDIATE");
            const int wait = std::exchange(state.BusyTimeoutMs, 0);
            EXPECT_EQ(Open(path), OpenOutcome::Busy);
            state.BusyTimeoutMs = wait;
            EXPECT_EQ(prompter.Texts().back(), "Snapshot database " + path +
                                                   " is busy: another program has held it locked for too long. "
                                                   "Try again later");
            EXPECT_TRUE(state.DatabasePath.empty());
        }
        EXPECT_EQ(std::filesystem::file_size(path), size);
        for (const char* beside : {"-wal", "-shm", "-journal"}) EXPECT_FALSE(std::filesystem::exists(path + beside));

        prompter.Clear();
        EXPECT_EQ(Open(path), OpenOutcome::Created);
        EXPECT_TRUE(prompter.Texts().empty());
        CloseSnapshotDatabase(state);
        SQLite::Database db(path);
        EXPECT_EQ(Objects(db, "table"), "Control,Dir,files");
    }
}

TEST_F(OpenDatabase, OlderFileIsUpgradedOnceWithItsTotalsCopied) {
    std::string path = dir.File("old.mdb");
    MakeFile(path,
             test::kOlderTables + std::string(
             "CREATE UNIQUE INDEX Index1 ON Control (Snapshot);"
             "INSERT INTO Control VALUES ('2001-05-06 07:08:09', 'C:', 'old', 'Y', 0, 2, 3, 2000000000, 1, 1234);"
             "INSERT INTO Dir VALUES ('2001-05-06 07:08:09', '2', 'C:', '.', '', 1, 3, 2000000000);"
             "INSERT INTO Dir VALUES ('2001-05-06 07:08:09', '1', 'C:\\(files)', '(files)', 'C:', 2, 3, 77);"));
    EXPECT_EQ(Open(path), OpenOutcome::Opened);
    EXPECT_EQ(prompter.Texts(), (std::vector<std::string>{"Note: Control table upgraded to new version",
                                                          "Note: Directory table upgraded to new version"}));
    {
        SQLite::Database db(path);
        EXPECT_EQ(db.execAndGet("SELECT Totbytesf || ' ' || Filesizef || ' ' || (SELECT group_concat(TotsizeF) FROM Dir) "
                                "FROM Control").getString(),
                  "2000000000.0 1234.0 2000000000.0,77.0");
        EXPECT_EQ(Objects(db, "index"), "DirName,DirParent,File1,Index1");
    }
    SnapshotInfo info;
    LoadSnapshotInfo(state, DateTime{2001, 5, 6, 7, 8, 9}, info);
    EXPECT_EQ(std::tie(info.InfoBasePath, info.InfoTotalBytes), std::tuple("C:", 2000000000.0));

    prompter.Clear();
    CloseSnapshotDatabase(state);
    EXPECT_EQ(Open(path), OpenOutcome::Opened);
    EXPECT_TRUE(prompter.Texts().empty());
}

// The catalogue and the row writers on a new database.
class Catalogue : public OpenDatabase {
protected:
    void SetUp() override {
        ASSERT_EQ(Open(dir.File("cat.mdb")), OpenOutcome::Created);
        prompter.Clear();
    }
    void AddSnapshot(const DateTime& key, const std::string& base, double bytes = 2048) {
        RowWriter writer(state, RowContext{key, base, BaseLevelOf(base, PathStyle::Posix), PathStyle::Posix, ""});
        ASSERT_TRUE(writer.WriteFileRow({"f", 5, base, 0, DateTime{}}).Ok());
        ASSERT_TRUE(writer.WriteDirRow("2", base, 1, bytes).Ok());
        ControlRow row{key, base, "desc of " + base, "Y", 0, 1, 1, bytes, 1, 5, std::nullopt, std::nullopt};
        ASSERT_TRUE(WriteControlRow(state, row).Ok());
    }
    RowWriter Writer(const std::string& base, PathStyle style) {
        return RowWriter(state, RowContext{rowKey, base, BaseLevelOf(base, style), style, ""});
    }
    std::string Row(const std::string& sql) { return Query(state, sql); }
    std::int64_t Count(const std::string& table) {
        return std::stoll(Query(state, "SELECT count(*) FROM " + table));
    }

    WaitUpTo noWait{std::chrono::milliseconds(0)};
    DateTime rowKey{2026, 12, 6, 7, 30, 0};
};

TEST_F(Catalogue, LoadFillsInfoAndAMissingKeyEmptiesOnlyTheBasePath) {
    DateTime key{2024, 3, 7, 14, 5, 9};
    AddSnapshot(key, "/home/ann", 3.5e9);
    SnapshotInfo info;
    EXPECT_TRUE(LoadSnapshotInfo(state, key, info).Ok());
    EXPECT_EQ(std::tie(info.InfoBasePath, info.InfoDescription, info.InfoCollectFiles, info.InfoTotalBytes,
                       info.InfoCollectedBytes),
              std::tuple("/home/ann", "desc of /home/ann", FilesRecorded::Yes, 3.5e9, 5.0));

    const StoreError missing = LoadSnapshotInfo(state, DateTime{2024, 3, 7, 14, 5, 10}, info);
    EXPECT_EQ(std::tie(missing.Code, missing.Reason),
              std::tuple(StoreCode::Missing, "Snapshot 2024-03-07 14:05:10 not found"));
    EXPECT_EQ(info.InfoBasePath, "");
    EXPECT_EQ(info.InfoDescription, "desc of /home/ann");

    // A query that fails is told as such, not as a missing snapshot.
    ExecuteOrFail(state, "ALTER TABLE Control RENAME TO Control_gone");
    info.InfoBasePath = "/home/ann";
    const StoreError failed = LoadSnapshotInfo(state, key, info);
    EXPECT_EQ(StoreErrorText(state.DatabasePath, failed), "Error: Other no such table: Control");
    EXPECT_EQ(info.InfoBasePath, "");
}

TEST_F(Catalogue, ListsAreCompleteOrderedAndTakeAnyCharacterInAPath) {
    const std::string odd = "/srv/it's 100%_*";
    for (int i = 0; i < 150; ++i) AddSnapshot(DateTime{2025, 1, 1 + i / 24, i % 24, 0, 0}, odd);
    AddSnapshot(DateTime{2025, 6, 1, 0, 0, 0}, "/srv/it's 100%x*");  // differs where "_" would match
    AddSnapshot(DateTime{2025, 6, 1, 0, 0, 1}, "/a");

    std::vector<std::string> paths;
    EXPECT_TRUE(ListBasePaths(state, paths).Ok());
    EXPECT_EQ(paths, (std::vector<std::string>{"/a", odd, "/srv/it's 100%x*"}));
    std::vector<SnapshotListRow> rows;
    EXPECT_TRUE(ListSnapshots(state, odd, rows).Ok());
    ASSERT_EQ(rows.size(), 150u);
    EXPECT_EQ(std::tie(rows.front().KeyText, rows.back().KeyText, rows.front().SizeText, rows.front().Description),
              std::tuple("2025-01-07 05:00:00", "2025-01-01 00:00:00", "2 KB", "desc of " + odd));
    EXPECT_TRUE(ListSnapshots(state, "/nothing", rows).Ok() && rows.empty());
}

TEST_F(Catalogue, LatestAndPreviousStayWithinTheBasePath) {
    AddSnapshot(DateTime{2025, 1, 1, 0, 0, 0}, "/a");
    AddSnapshot(DateTime{2025, 1, 2, 0, 0, 0}, "/b");
    AddSnapshot(DateTime{2025, 1, 3, 0, 0, 0}, "/a");
    std::optional<DateTime> key, b, previous, none;
    EXPECT_TRUE(LatestSnapshot(state, key).Ok() && LatestSnapshot(state, b, "/b").Ok());
    EXPECT_TRUE(PreviousSnapshot(state, DateTime{2025, 1, 3, 0, 0, 0}, previous).Ok() &&
                PreviousSnapshot(state, DateTime{2025, 1, 1, 0, 0, 0}, none).Ok());
    EXPECT_EQ(std::tie(key, b, previous, none), std::tuple(DateTime{2025, 1, 3, 0, 0, 0}, DateTime{2025, 1, 2, 0, 0, 0},
                                                          DateTime{2025, 1, 1, 0, 0, 0}, std::nullopt));
    // A lookup that fails says so rather than finding nothing.
    ExecuteOrFail(state, "ALTER TABLE Control RENAME TO Control_gone");
    EXPECT_EQ(LatestSnapshot(state, key).Reason, "no such table: Control");
}

TEST_F(Catalogue, DeleteRemovesAllThreeTablesIncludingAnAbortedRunsRowsOrNothing) {
    AddSnapshot(DateTime{2025, 1, 1, 0, 0, 0}, "/a");
    AddSnapshot(DateTime{2025, 1, 2, 0, 0, 0}, "/a");
    // An aborted run: rows without a Control row.
    DateTime aborted{2025, 1, 3, 0, 0, 0};
    RowWriter writer(state, RowContext{aborted, "/a", 0, PathStyle::Posix, ""});
    ASSERT_TRUE(writer.WriteDirRow("2", "/a", 0, 0).Ok());

    EXPECT_TRUE(DeleteSnapshot(state, DateTime{2025, 1, 1, 0, 0, 0}, noWait).Ok());
    EXPECT_TRUE(DeleteSnapshot(state, aborted, noWait).Ok());
    EXPECT_TRUE(prompter.Texts().empty());
    // When one table refuses, the other two keep their rows as well.
    ExecuteOrFail(state,
                  "CREATE TRIGGER refuse BEFORE DELETE ON files BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_FALSE(DeleteSnapshot(state, DateTime{2025, 1, 2, 0, 0, 0}, noWait).Ok());
    EXPECT_EQ(std::tuple(Count("Control"), Count("Dir"), Count("files")), std::tuple(1, 1, 1));
}

// The older layout's own rows, as a file keeps them: a Dir row carries its
// key, names and level and leaves the old integer total empty; a files row
// keeps a 64-bit size, a long path and any bytes in a name as text.
TEST_F(Catalogue, RowWriterRowsCarryKeyNamesLevelTotalsAndSizes) {
    RowWriter dirs = Writer("/", PathStyle::Posix);
    ASSERT_TRUE(dirs.WriteDirRow("1", "/(files)", 3, 300).Ok());
    ASSERT_TRUE(dirs.WriteDirRow("2", "/data", 2, 5e9).Ok());
    ASSERT_TRUE(dirs.WriteDirRow("2", "/", 5, 5e9 + 300).Ok());
    EXPECT_EQ(Row("SELECT * FROM Dir ORDER BY Dirname"), "2026-12-06 07:30:00|2|/|.||1|5|NULL|5000000300.0,"
                                                         "2026-12-06 07:30:00|1|/(files)|(files)|/|2|3|NULL|300.0,"
                                                         "2026-12-06 07:30:00|2|/data|data|/|2|2|NULL|5000000000.0");
    RowWriter files = Writer("C:\\Data", PathStyle::Windows);
    const std::string longDir = "C:\\Data\\" + std::string(300, 'd'), oddName = "it's 100% _a*b_\n\xff\xfe.TxT";
    ASSERT_TRUE(files.WriteFileRow({"big.iso", 3'000'000'000LL, "C:\\Data", 33, DateTime{2025, 1, 2, 3, 4, 5}}).Ok());
    ASSERT_TRUE(files.WriteFileRow({oddName, 7, longDir, 1, DateTime{}}).Ok());
    EXPECT_EQ(Row("SELECT * FROM files WHERE Filename = 'big.iso'"),
              "2026-12-06 07:30:00|big.iso|3000000000|ISO|C:\\Data|33|2025-01-02 03:04:05");
    EXPECT_EQ(Row("SELECT Filename, Filedir, Filetype, typeof(Filename) FROM files WHERE Filesize = 7"),
              oddName + "|" + longDir + "|TXT|text");
    EXPECT_TRUE(prompter.Texts().empty());
}

TEST_F(Catalogue, RowWriterRefusedRowsAreReportedWithTheirTablesMessage) {
    RowWriter writer = Writer("/data", PathStyle::Posix);
    FileRowInput row{"a.txt", 10, "/data", 0, DateTime{}};
    ASSERT_TRUE(writer.WriteFileRow(row).Ok());
    const StoreError twin = writer.WriteFileRow(row);
    const std::string text = FileRowFailureText("/data/a.txt", 10, twin);
    EXPECT_EQ(text.rfind("Error processing file /data/a.txt size=10\nCode=Constraint Reason=", 0), 0u) << text;
    EXPECT_TRUE(text.ends_with("\n. Snapshot aborted"));
    // The statement is reset: the next distinct row goes in.
    EXPECT_TRUE(writer.WriteFileRow({"b.txt", 1, "/data", 0, DateTime{}}).Ok());

    CloseSnapshotDatabase(state);
    EXPECT_EQ(DirRowFailureText(writer.WriteDirRow("2", "/data", 0, 0)).rfind("Error writing to Dir table. \nCode=", 0), 0u);
}

}  // namespace
}  // namespace corvina
