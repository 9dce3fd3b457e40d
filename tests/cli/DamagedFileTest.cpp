// Real database files with a page overwritten by garbage, as a failing disk
// or a stray write leaves them: every command that meets the damage says the
// file is damaged and exits 1, and nothing is appended to such a file.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <filesystem>

#include "tests/cli/RunTool.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

class DamagedFile : public ::testing::Test {
protected:
    void SetUp() override {
        root = dir.File("tree");
        db = dir.File("damaged.mdb");
        for (int d = 0; d < 20; ++d) {
            std::filesystem::create_directories(root + "/d" + std::to_string(d));
            for (int f = 0; f < 50; ++f) test::WriteFile(root + "/d" + std::to_string(d) + "/f" + std::to_string(f), "x");
        }
        for (const char* description : {"first", "second"}) {
            auto run = test::RunTool({"snapshot", root, "--db", db, "--files", "--description", description});
            ASSERT_EQ(run.ExitCode, 0) << run.Err;
        }
    }
    // The page number of a b-tree page of table or index name: its root, or a
    // leaf from the middle of it.
    std::int64_t PageOf(const std::string& name, bool root) {
        SQLite::Database file(db, SQLite::OPEN_READONLY);
        if (root) {
            SQLite::Statement q(file, "SELECT rootpage FROM sqlite_master WHERE name = ?");
            q.bind(1, name);
            return q.executeStep() ? q.getColumn(0).getInt64() : 0;
        }
        SQLite::Statement q(file, "SELECT pageno FROM dbstat WHERE name = ? AND pagetype = 'leaf' ORDER BY pageno");
        q.bind(1, name);
        std::vector<std::int64_t> pages;
        while (q.executeStep()) pages.push_back(q.getColumn(0).getInt64());
        return pages.empty() ? 0 : pages[pages.size() / 2];
    }
    void Garble(std::int64_t page) {
        ASSERT_GT(page, 1);
        const std::int64_t size = SQLite::Database(db).execAndGet("PRAGMA page_size").getInt64();
        std::string garbage(static_cast<std::size_t>(size), '\0');
        for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 7919 + 13) % 251);
        int fd = ::open(db.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, garbage.data(), garbage.size(), (page - 1) * size), static_cast<ssize_t>(size));
        ::close(fd);
    }
    std::int64_t Count(const std::string& table) {
        SQLite::Database file(db, SQLite::OPEN_READONLY);
        return file.execAndGet("SELECT count(*) FROM " + table).getInt64();
    }
    void ExpectDamaged(const test::ToolRun& run, const std::string& what) {
        EXPECT_EQ(run.ExitCode, 1) << what;
        EXPECT_NE(run.Err.find("Snapshot database " + db + " is damaged: "), std::string::npos)
            << what << ": " << run.Err.substr(0, 300);
    }

    test::TempDir dir;
    std::string root, db;
};

TEST_F(DamagedFile, ChecksAndAnalysesSayDamagedAndPrintNoPartialGrid) {
    Garble(PageOf("files", /*root=*/false));
    ExpectDamaged(test::RunTool({"check", "--db", db}), "check");
    ExpectDamaged(test::RunTool({"check", "--full", "--db", db}), "check --full");
    for (const char* kind : {"files-in-tree", "file-type-summary", "changed-files"}) {
        auto run = test::RunTool({"analyse", kind, "--compare", "previous", "--db", db});
        ExpectDamaged(run, kind);
        EXPECT_TRUE(run.Out.empty()) << kind << ": " << run.Out.substr(0, 200);
    }
    // What does not touch the damaged page still works.
    EXPECT_EQ(test::RunTool({"list", "--db", db}).Out, root + "\n");
}

// These analyses read the directory totals through lookups that fall back
// to nothing: the damage must still end them.
TEST_F(DamagedFile, AnAnalysisThatPassedOverADamagedDirectoryPagePrintsNothing) {
    Garble(PageOf("Dir", /*root=*/true));
    for (const char* kind : {"duplicate-files", "recently-changed-files"}) {
        auto run = test::RunTool({"analyse", kind, "--db", db});
        ExpectDamaged(run, kind);
        EXPECT_TRUE(run.Out.empty()) << kind << ": " << run.Out.substr(0, 200);
    }
}

TEST_F(DamagedFile, ASnapshotThatMeetsTheDamageRollsBack) {
    const std::int64_t dirRows = Count("Dir");
    Garble(PageOf("Index1", /*root=*/true));
    auto run = test::RunTool({"snapshot", root, "--db", db, "--files"});
    ExpectDamaged(run, "snapshot");
    EXPECT_NE(run.Err.find("Snapshot aborted"), std::string::npos) << run.Err;
    EXPECT_EQ(Count("Dir"), dirRows);
}

}  // namespace
}  // namespace corvina
