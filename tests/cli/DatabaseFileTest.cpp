// The database file in harder hands. Several corvina-cli processes on it at
// once, as scheduled snapshots meet a person browsing: writers queue, each
// run lands with its own key, and readers answer from the last committed
// state while a run stands still in the middle of its work. And a file with a
// damaged page.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>

#include "tests/cli/RunTool.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;
using std::chrono::steady_clock;
using test::FirstField;
using test::Query;

constexpr const char* kWaiting = "Waiting for another snapshot of this database to finish";

TEST(Concurrency, TenSnapshotsStartedTogetherIntoANewDatabaseAllLandWithTheirOwnKeys) {
    test::TempDir dir;
    std::string root = dir.File("tree"), db = dir.File("new.mdb");
    test::MakeLinkTree(root, 10, 20);
    std::vector<std::unique_ptr<test::RunningTool>> runs;
    for (int i = 0; i < 10; ++i) {
        runs.push_back(std::make_unique<test::RunningTool>(
            std::vector<std::string>{"snapshot", root, "--db", db, "--files", "--description", "run"}));
    }
    std::set<std::string> keys;
    for (auto& run : runs) {
        test::ToolRun done = run->Finish();
        EXPECT_EQ(done.ExitCode, 0) << done.Err;
        keys.insert(FirstField(done.Out));
    }
    EXPECT_EQ(keys.size(), 10u);
    // Each run 201 files, 11 directories and their 11 files entries.
    EXPECT_EQ(Query(db, "SELECT count(*), (SELECT count(*) FROM files), (SELECT count(*) FROM Dir) FROM Control"),
              "10|2010|220");
}

TEST(Concurrency, ReadersAnswerFromTheLastCommitWhileARunStandsStillAndWritersWaitTheirTurn) {
    test::TempDir dir;
    std::string root = dir.File("tree"), db = dir.File("shared.mdb");
    test::MakeLinkTree(root, 250, 250);
    auto first = test::RunTool({"snapshot", root, "--db", db, "--description", "first"});
    ASSERT_EQ(first.ExitCode, 0) << first.Err;
    const std::string firstKey = FirstField(first.Out);

    // Stopped once it has written far more than the engine's page cache to the
    // log: a rollback journal would lock readers out by now.
    test::RunningTool run({"snapshot", root, "--db", db, "--files", "--description", "second"});
    struct stat st {};
    for (const auto end = steady_clock::now() + std::chrono::seconds(60);
         steady_clock::now() < end && (::stat((db + "-wal").c_str(), &st) != 0 || st.st_size <= (6 << 20));) {
        ::usleep(2000);
    }
    ASSERT_GT(st.st_size, 6 << 20);
    run.Signal(SIGSTOP);

    // Each reader is answered at once; a wait for the lock would take the
    // busy timeout of five seconds and then fail.
    const std::vector<std::vector<std::string>> readers = {
        {"list", "--path", root}, {"info", "latest"}, {"analyse", "directory-details"}, {"check"}};
    for (std::vector<std::string> args : readers) {
        args.insert(args.end(), {"--db", db});
        const auto start = steady_clock::now();
        test::ToolRun read = test::RunTool(args);
        EXPECT_LT(steady_clock::now() - start, std::chrono::milliseconds(2500)) << args[0];
        EXPECT_EQ(read.ExitCode, 0) << args[0] << ": " << read.Err;
        EXPECT_EQ(read.Out.find("second"), std::string::npos) << args[0];
        if (args[0] == "check") {
            EXPECT_NE(read.Out.find(": 1 snapshot of 1 base path"), std::string::npos);
        } else if (args[0] == "list") {
            EXPECT_NE(read.Out.find("first"), std::string::npos);
        }
    }

    // Another run waits its turn, says so, and Ctrl-C ends the wait.
    test::RunningTool second({"snapshot", root, "--db", db});
    ASSERT_TRUE(second.WaitForErr(kWaiting));
    second.Signal(SIGINT);
    test::ToolRun given = second.Finish();
    EXPECT_EQ(given.ExitCode, 1);
    EXPECT_NE(given.Err.find("Snapshot aborted"), std::string::npos) << given.Err;

    // A delete waits for the run, which then completes, and goes through after it.
    test::RunningTool remove({"delete", firstKey, "--db", db});
    ASSERT_TRUE(remove.WaitForErr(kWaiting));
    run.Signal(SIGCONT);
    test::ToolRun landed = run.Finish();
    EXPECT_EQ(landed.ExitCode, 0) << landed.Err;
    test::ToolRun removed = remove.Finish();
    EXPECT_EQ(removed.ExitCode, 0) << removed.Err;
    EXPECT_EQ(removed.Out, "Snapshot " + firstKey + " deleted\n");

    auto list = test::RunTool({"list", "--path", root, "--db", db});
    EXPECT_EQ(FirstField(list.Out), FirstField(landed.Out));
    EXPECT_NE(list.Out.find("second"), std::string::npos);
    EXPECT_EQ(Query(db, "SELECT count(*), (SELECT count(*) FROM files) FROM Control"), "1|62501");
}


// Real database files with a page overwritten by garbage, as a failing disk
// or a stray write leaves them: every command that meets the damage says the
// file is damaged and exits 1, prints no partial grid, and appends nothing.

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
        const std::string dirRows = Query(db, "SELECT count(*) FROM Dir");
        Garble(db, PageOf(db, c.Page, c.Root));
        for (Args args : c.Commands) {
            args.insert(args.end(), {"--db", db});
            auto run = test::RunTool(args);
            EXPECT_EQ(run.ExitCode, 1) << args[1];
            EXPECT_NE(run.Err.find("Snapshot database " + db + " is damaged: "), std::string::npos)
                << args[1] << ": " << run.Err.substr(0, 300);
            if (args[0] == "snapshot") {
                EXPECT_NE(run.Err.find("Snapshot aborted"), std::string::npos) << run.Err;
                EXPECT_EQ(Query(db, "SELECT count(*) FROM Dir"), dirRows);
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
