#include <sys/wait.h>

#include <gtest/gtest.h>

#include <SQLiteCpp/Database.h>

#include "tests/cli/RunTool.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

TEST(CheckCommand, CreatesAMissingDatabaseAndSaysSo) {
    test::TempDir dir;
    std::string db = dir.File("new.mdb");
    auto run = test::RunTool({"check", "--db", db});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Err.find("created snapshot database " + db), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "Snapshot database " + db + ": 0 snapshots of 0 base paths\n");
    // The second check finds it silently.
    run = test::RunTool({"check", "--db", db});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Err, "");
}

TEST(CheckCommand, ForeignFileFailsWithTheInvalidFileMessage) {
    test::TempDir dir;
    std::string db = dir.File("notes.txt");
    test::WriteFile(db, "not a database\n");
    auto run = test::RunTool({"check", "--db", db});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find("does not seem to be a valid Corvina database"), std::string::npos) << run.Err;
}

TEST(CheckCommand, BadUsageExitsTwo) {
    EXPECT_EQ(test::RunTool({"check", "--no-such-option"}).ExitCode, 2);
    EXPECT_EQ(test::RunTool({}).ExitCode, 2);
}

// Root writes anything, so the read-only cases run the tool as an unprivileged user.
TEST(CheckCommand, ReadOnlyOlderFileListsAndLoadsEverySnapshotUnchanged) {
    if (!test::CanDropPrivileges()) GTEST_SKIP() << "needs root and setpriv to run as another user";
    test::TempDir dir;
    std::string db = dir.File("old.mdb");
    {
        SQLite::Database file(db, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        file.exec("CREATE TABLE Control (Snapshot TEXT, Basepath TEXT, Description TEXT, Collfiles TEXT,"
                  " Filelimit INTEGER, Totdirs INTEGER, Totfiles INTEGER, Totbytes INTEGER, Filetot INTEGER,"
                  " Filesize INTEGER);"
                  "CREATE TABLE Dir (Snapshot TEXT, Entrytype TEXT, Dirname TEXT, Shortname TEXT, Parentdir TEXT,"
                  " Dirlevel INTEGER, Files INTEGER, Totsize INTEGER);"
                  "CREATE TABLE files (Snapshot TEXT, Filename TEXT, Filesize INTEGER, Filetype TEXT, Filedir TEXT,"
                  " Fileattr INTEGER, Filedate TEXT);"
                  "INSERT INTO Control VALUES ('2001-05-06 07:08:09', '/old', 'first', 'N', 0, 4, 9, 900, 0, 0);"
                  "INSERT INTO Control VALUES ('2001-06-06 07:08:09', '/old', 'second', 'N', 0, 5, 10, 1000, 0, 0);");
    }
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);
    std::filesystem::permissions(db, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
    auto run = test::RunTool({"check", "--db", db}, /*unprivileged=*/true);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Err.find("Table Control cannot be migrated"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("Table dir cannot be migrated"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "Snapshot database " + db + ": 2 snapshots of 1 base path (read-only)\n");

    // Every snapshot lists and loads; only the total the file lacks is left out.
    auto list = test::RunTool({"list", "--path", "/old", "--db", db}, /*unprivileged=*/true);
    EXPECT_EQ(list.ExitCode, 0) << list.Err;
    EXPECT_EQ(list.Out, "2001-06-06 07:08:09\t5 directories\t10 files\t\tsecond\n"
                        "2001-05-06 07:08:09\t4 directories\t9 files\t\tfirst\n");
    auto info = test::RunTool({"info", "2001-05-06 07:08:09", "--db", db}, /*unprivileged=*/true);
    EXPECT_EQ(info.ExitCode, 0) << info.Err;
    EXPECT_NE(info.Out.find("Description:       first"), std::string::npos) << info.Out;
    SQLite::Database file(db);
    EXPECT_EQ(file.execAndGet("SELECT count(*) FROM pragma_table_info('Control')").getInt(), 10);
}

}  // namespace
}  // namespace corvina

namespace corvina {
namespace {

TEST(CheckCommand, DatabaseInAFolderThatCannotBeWrittenOpensReadOnly) {
    if (!test::CanDropPrivileges()) GTEST_SKIP() << "needs root and setpriv to run as another user";
    test::TempDir dir;
    std::string db = dir.File("current.mdb");
    ASSERT_EQ(test::RunTool({"check", "--db", db}).ExitCode, 0);
    std::filesystem::permissions(db, std::filesystem::perms::all);
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                                 std::filesystem::perms::group_exec |
                                                 std::filesystem::perms::others_read |
                                                 std::filesystem::perms::others_exec);
    auto run = test::RunTool({"check", "--db", db}, /*unprivileged=*/true);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "Snapshot database " + db + ": 0 snapshots of 0 base paths (read-only)\n");
}

}  // namespace
}  // namespace corvina
