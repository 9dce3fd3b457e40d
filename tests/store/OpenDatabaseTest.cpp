#include <sqlite3.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include "store/Catalogue.h"
#include "store/DatabaseConnection.h"
#include "store/SnapshotDatabase.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

using test::RecordingEnder;
using test::RecordingPrompter;
using test::TempDir;

// The names a query gives, joined by commas.
std::string Names(SQLite::Database& db, const std::string& sql, const std::string& argument) {
    SQLite::Statement q(db, sql);
    q.bind(1, argument);
    std::string names;
    while (q.executeStep()) names += (names.empty() ? "" : ",") + q.getColumn(0).getString();
    return names;
}
std::string Columns(SQLite::Database& db, const std::string& table) {
    return Names(db, "SELECT name FROM pragma_table_info(?)", table);
}
std::string Objects(SQLite::Database& db, const std::string& type) {
    return Names(db, "SELECT name FROM sqlite_master WHERE type = ? AND name NOT LIKE 'sqlite_%' ORDER BY name", type);
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

TEST_F(OpenDatabase, MissingFileAskedYesIsCreatedWithExactlyTheSchema) {
    std::string path = dir.File("new.mdb");
    EXPECT_EQ(Open(path), OpenOutcome::Created);
    ASSERT_EQ(prompter.Texts(),
              std::vector<std::string>{"System Database " + path + " does not exist - would you like to create it?"});
    EXPECT_EQ(prompter.Messages()[0].MessageButtons, Buttons::YesNo);
    EXPECT_TRUE(state.DatabasePath == path && !ender.Ended);

    SQLite::Database db(path);
    EXPECT_EQ(Objects(db, "table"), "Control,Dir,files");
    EXPECT_EQ(Objects(db, "index"), "DirName,DirParent,File1,Index1");
    EXPECT_EQ(Columns(db, "Control"),
              "Snapshot,Basepath,Description,Collfiles,Filelimit,Totdirs,Totfiles,Totbytes,Totbytesf,Filetot,Filesize,"
              "Filesizef");
    EXPECT_EQ(Columns(db, "Dir"), "Snapshot,Entrytype,Dirname,Shortname,Parentdir,Dirlevel,Files,Totsize,TotsizeF");
    EXPECT_EQ(Columns(db, "files"), "Snapshot,Filename,Filesize,Filetype,Filedir,Fileattr,Filedate");

    // The next open of the same file is silent.
    prompter.Clear();
    EXPECT_EQ(Open(path), OpenOutcome::Opened);
    EXPECT_TRUE(prompter.Texts().empty() && state.DatabaseOpen == "Y");
}

TEST_F(OpenDatabase, MissingFileDeclinedOrOnlyReadIsNotCreated) {
    std::string path = dir.File("new.mdb");
    prompter.Script({Answer::No});
    EXPECT_EQ(Open(path), OpenOutcome::Declined);
    EXPECT_EQ(state.DatabasePath, "");
    prompter.Clear();
    state.DatabasePath = path;
    EXPECT_EQ(OpenSnapshotDatabase(state, prompter, ender, OpenMode::ExistingOnly), OpenOutcome::Missing);
    EXPECT_TRUE(prompter.Texts().empty() && !std::filesystem::exists(path) && !ender.Ended);
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

// Another program's database, or no database at all: invalid, and left as it is.
TEST_F(OpenDatabase, AFileLackingOneOfOurTablesOrNotADatabaseIsInvalid) {
    std::string random;
    for (int i = 0; i < 8192; ++i) random += static_cast<char>((i * 7919 + 13) % 251);
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
        {"random.mdb", nullptr, random},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        prompter.Clear();
        std::string path = dir.File(c.Name);
        if (c.Sql != nullptr) {
            MakeFile(path, c.Sql);
        } else {
            test::WriteFile(path, c.Bytes);
        }
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
// without tables. Writers set it up as new without asking; readers find no
// snapshots in it and leave it as it is.
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
        EXPECT_TRUE(ListBasePaths(state, prompter, paths).Ok() && paths.empty());
        EXPECT_TRUE(LatestSnapshot(state, latest).Ok() && !latest);
        CloseSnapshotDatabase(state);
        EXPECT_EQ(std::filesystem::file_size(path), size);
        EXPECT_FALSE(std::filesystem::exists(path + "-wal"));

        EXPECT_EQ(Open(path), OpenOutcome::Created);
        EXPECT_TRUE(prompter.Texts().empty());
        CloseSnapshotDatabase(state);
        SQLite::Database db(path);
        EXPECT_EQ(Objects(db, "table"), "Control,Dir,files");
    }
}

TEST_F(OpenDatabase, NewFilesAndTheirJournalsAreTheOwnersOnly) {
    std::string path = dir.File("private.mdb");
    ASSERT_EQ(Open(path), OpenOutcome::Created);
    state.SnapshotDatabase->exec("INSERT INTO Control (Snapshot) VALUES ('2020-01-01 00:00:00')");
    for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
        SCOPED_TRACE(file);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
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
    LoadSnapshotInfo(state, prompter, DateTime{2001, 5, 6, 7, 8, 9}, info);
    EXPECT_EQ(std::tie(info.InfoBasePath, info.InfoTotalBytes), std::tuple("C:", 2000000000.0));

    prompter.Clear();
    CloseSnapshotDatabase(state);
    EXPECT_EQ(Open(path), OpenOutcome::Opened);
    EXPECT_TRUE(prompter.Texts().empty());
}

}  // namespace
}  // namespace corvina
