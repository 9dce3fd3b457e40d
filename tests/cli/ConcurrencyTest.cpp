// Several corvina-cli processes on one database at once, as scheduled
// snapshots meet a person browsing: writers queue, each run lands with its
// own key, and readers answer from the last committed state while a run
// stands still in the middle of its work.

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

constexpr const char* kWaiting = "Waiting for another snapshot of this database to finish";

std::int64_t Count(const std::string& db, const std::string& table) {
    return SQLite::Database(db, SQLite::OPEN_READONLY).execAndGet("SELECT count(*) FROM " + table).getInt64();
}

std::string FirstField(const std::string& line) { return line.substr(0, line.find('\t')); }

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
    EXPECT_EQ(Count(db, "Control"), 10);
    EXPECT_EQ(Count(db, "files"), 10 * 201);
    EXPECT_EQ(Count(db, "Dir"), 10 * 22);  // 11 directories, 11 files entries
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
    EXPECT_EQ(Count(db, "Control"), 1);
    EXPECT_EQ(Count(db, "files"), 250 * 250 + 1);
}

}  // namespace
}  // namespace corvina
