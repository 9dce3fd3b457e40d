// Real database files with a page overwritten by garbage, as a failing disk
// or a stray write leaves them: every command that meets the damage says the
// file is damaged and exits 1, prints no partial grid, and appends nothing.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <filesystem>

#include "tests/cli/RunTool.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;

// The page number of a b-tree page of table or index name: its root, or a
// leaf from the middle of it.
std::int64_t PageOf(const std::string& db, const std::string& name, bool root) {
    SQLite::Database file(db, SQLite::OPEN_READONLY);
    SQLite::Statement q(file, root ? "SELECT rootpage FROM sqlite_master WHERE name = ?"
                                   : "SELECT pageno FROM dbstat WHERE name = ? AND pagetype = 'leaf' ORDER BY pageno");
    q.bind(1, name);
    std::vector<std::int64_t> pages;
    while (q.executeStep()) pages.push_back(q.getColumn(0).getInt64());
    return pages.empty() ? 0 : pages[pages.size() / 2];
}

void Garble(const std::string& db, std::int64_t page) {
    ASSERT_GT(page, 1);
    const std::int64_t size = SQLite::Database(db).execAndGet("PRAGMA page_size").getInt64();
    std::string garbage(static_cast<std::size_t>(size), '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 7919 + 13) % 251);
    int fd = ::open(db.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, garbage.data(), garbage.size(), (page - 1) * size), static_cast<ssize_t>(size));
    ::close(fd);
}

TEST(DamagedFile, EveryCommandThatMeetsTheDamageSaysSoAndChangesNothing) {
    test::TempDir dir;
    const std::string root = dir.File("tree"), pristine = dir.File("pristine.mdb"), db = dir.File("damaged.mdb");
    for (int d = 0; d < 20; ++d) {
        fs::create_directories(root + "/d" + std::to_string(d));
        for (int f = 0; f < 50; ++f) test::WriteFile(root + "/d" + std::to_string(d) + "/f" + std::to_string(f), "x");
    }
    for (const char* description : {"first", "second"}) {
        auto run = test::RunTool({"snapshot", root, "--db", pristine, "--files", "--description", description});
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
    }
    using Args = std::vector<std::string>;
    const struct {
        const char* Page;
        bool Root;
        std::vector<Args> Commands;
    } cases[] = {
        {"files", false,
         {{"check"}, {"check", "--full"}, {"analyse", "files-in-tree"}, {"analyse", "file-type-summary"},
          {"analyse", "changed-files", "--compare", "previous"}}},
        // These read the directory totals through lookups that fall back to
        // nothing: the damage must still end them.
        {"Dir", true, {{"analyse", "duplicate-files"}, {"analyse", "recently-changed-files"}}},
        {"Index1", true, {{"snapshot", root, "--files"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Page);
        for (const char* suffix : {"-wal", "-shm"}) fs::remove(db + suffix);
        fs::copy_file(pristine, db, fs::copy_options::overwrite_existing);
        const std::int64_t dirRows = SQLite::Database(db).execAndGet("SELECT count(*) FROM Dir").getInt64();
        Garble(db, PageOf(db, c.Page, c.Root));
        for (Args args : c.Commands) {
            args.insert(args.end(), {"--db", db});
            auto run = test::RunTool(args);
            EXPECT_EQ(run.ExitCode, 1) << args[1];
            EXPECT_NE(run.Err.find("Snapshot database " + db + " is damaged: "), std::string::npos)
                << args[1] << ": " << run.Err.substr(0, 300);
            if (args[0] == "snapshot") {
                EXPECT_NE(run.Err.find("Snapshot aborted"), std::string::npos) << run.Err;
                EXPECT_EQ(SQLite::Database(db).execAndGet("SELECT count(*) FROM Dir").getInt64(), dirRows);
            } else if (args[0] == "analyse") {
                EXPECT_TRUE(run.Out.empty()) << args[1] << ": " << run.Out.substr(0, 200);
            }
        }
        if (std::string(c.Page) == "files") {
            // What does not touch the damaged page still works.
            EXPECT_EQ(test::RunTool({"list", "--db", db}).Out, root + "\n");
        }
    }
}

}  // namespace
}  // namespace corvina
