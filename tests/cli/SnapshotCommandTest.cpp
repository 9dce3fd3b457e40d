// corvina-cli snapshot end to end: totals against an independent count,
// option parsing, refusals, unreadable directories, Ctrl-C and SIGKILL.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/cli/RunTool.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;
// The tree generator lives beside the source tree (CORVINA_MAKE_TREE overrides).
std::string MakeTreeScript() {
    if (const char* path = std::getenv("CORVINA_MAKE_TREE")) return path;
    return (fs::path(__FILE__).parent_path() / "../../../shared/bench/make_tree.py").lexically_normal().string();
}

std::string Capture(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    ::pclose(pipe);
    return text;
}

bool MakeTree(const std::string& root, const std::string& arguments) {
    if (!fs::exists(MakeTreeScript())) return false;
    std::string out = Capture("python3 '" + MakeTreeScript() + "' --root '" + root + "' " + arguments +
                              " --force 2>&1");
    return out.find("dirs=") != std::string::npos;
}

std::int64_t Count(const std::string& db, const std::string& table) {
    SQLite::Database file(db, SQLite::OPEN_READONLY);
    return file.execAndGet("SELECT count(*) FROM " + table).getInt64();
}

TEST(SnapshotCommand, NastyTreeTotalsEqualAnIndependentCount) {
    test::TempDir dir;
    std::string root = dir.File("tree"), db = dir.File("s.mdb");
    if (!MakeTree(root, "--dirs 150 --files 2000 --nasty")) GTEST_SKIP() << "make_tree.py not available";

    auto run = test::RunTool({"snapshot", root, "--db", db, "--files"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Err.find("corvina: Snapshot completed."), std::string::npos) << run.Err;

    std::string dirs = Capture("find '" + root + "' -xdev -type d | wc -l");
    std::string sums = Capture("find '" + root + "' -xdev ! -type d -printf '%s\\n' | awk '{n++; s+=$1} END "
                               "{printf \"%d %.0f\", n, s}'");
    long long files = 0;
    double bytes = 0;
    ASSERT_EQ(std::sscanf(sums.c_str(), "%lld %lf", &files, &bytes), 2);

    auto info = test::RunTool({"info", "latest", "--db", db, "--json"});
    ASSERT_EQ(info.ExitCode, 0) << info.Err;
    auto json = nlohmann::json::parse(info.Out);
    EXPECT_EQ(json["basepath"], root);
    EXPECT_EQ(json["directories"].get<long long>(), std::stoll(dirs));
    EXPECT_EQ(json["files"].get<long long>(), files);
    EXPECT_EQ(json["bytes"].get<double>(), bytes);
    EXPECT_EQ(json["filescollected"].get<long long>(), files);
    EXPECT_EQ(json["description"].get<std::string>().rfind("Analysis of " + root + " taken on ", 0), 0u);

    SQLite::Database file(db, SQLite::OPEN_READONLY);
    SQLite::Statement base(file, "SELECT Files, TotsizeF FROM Dir WHERE Dirname = ? AND Entrytype = '2'");
    base.bind(1, root);
    ASSERT_TRUE(base.executeStep());
    EXPECT_EQ(base.getColumn(0).getInt64(), files);
    EXPECT_EQ(base.getColumn(1).getDouble(), bytes);
}

TEST(SnapshotCommand, MinSizeReadsUnitsAndRoundsHalvesToEvenAndBadUsageExitsTwo) {
    test::TempDir dir;
    fs::create_directory(dir.File("t"));
    std::string db = dir.File("s.mdb");
    const std::vector<std::pair<std::string, long long>> sizes = {
        {"0", 0}, {"4096", 4096}, {"10K", 10240}, {"1.5M", 1572864}, {"0.5K", 512}, {"2.5", 2}, {"3.5", 4}, {"1k", 1024}};
    // One database per size: keys of one database are unique to the second,
    // and a run in the same second would wait for the next.
    int n = 0;
    for (const auto& [text, bytes] : sizes) {
        std::string one = dir.File("s" + std::to_string(n++) + ".mdb");
        auto run = test::RunTool({"snapshot", dir.File("t"), "--db", one, "--files", "--min-size", text});
        ASSERT_EQ(run.ExitCode, 0) << text << ": " << run.Err;
        SQLite::Database file(one, SQLite::OPEN_READONLY);
        EXPECT_EQ(file.execAndGet("SELECT Filelimit FROM Control").getInt64(), bytes) << text;
    }
    for (const char* bad : {"10X", "-1", "1..5", "M", "", "1e3"}) {
        EXPECT_EQ(test::RunTool({"snapshot", dir.File("t"), "--db", db, "--min-size", bad}).ExitCode, 2) << bad;
    }
    // Refusals are bad usage too; none of them creates the database.
    EXPECT_EQ(test::RunTool({"snapshot", dir.File("nowhere"), "--db", db}).ExitCode, 2);
    EXPECT_EQ(test::RunTool({"snapshot", dir.File("t"), "--db", db, "--description", std::string(256, 'd')}).ExitCode, 2);
    EXPECT_FALSE(fs::exists(db));
}

// The name of the locked directory also shows that the error list escapes
// names: it would otherwise split its line and erase the one above.
TEST(SnapshotCommand, UnreadableDirectoryIsListedAndTheSnapshotCompletes) {
    if (!test::CanDropPrivileges()) GTEST_SKIP() << "needs root and setpriv to run as another user";
    test::TempDir dir;
    fs::permissions(dir.Path(), fs::perms::all);
    std::string root = dir.File("t"), locked = root + "/locked\n\x1b[1A";
    fs::create_directories(locked);
    test::WriteFile(locked + "/secret", "12345");
    test::WriteFile(root + "/open.txt", "123");
    ::chmod(locked.c_str(), 0);
    ::chmod(root.c_str(), 0777);
    std::string dbDir = dir.File("db");
    fs::create_directory(dbDir);
    ::chown(dbDir.c_str(), 65534, 65534);

    auto run = test::RunTool({"snapshot", root, "--db", dbDir + "/s.mdb", "--files"}, /*unprivileged=*/true);
    ::chmod(locked.c_str(), 0755);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Err.find("Note: information on 1 files could not be collected"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("\n  " + root + "/locked\\x0A\\x1B[1A/: Permission denied\n"), std::string::npos) << run.Err;
    SQLite::Database file(dbDir + "/s.mdb", SQLite::OPEN_READONLY);
    SQLite::Statement row(file, "SELECT Files, TotsizeF FROM Dir WHERE Dirname = ?");
    row.bind(1, locked);
    ASSERT_TRUE(row.executeStep());
    EXPECT_EQ(row.getColumn(0).getInt(), 0);
    EXPECT_EQ(file.execAndGet("SELECT Totfiles FROM Control").getInt(), 1);
}

TEST(SnapshotCommand, OddNamesShowEscapedInProgressAndTablesAndExactInCsv) {
    test::TempDir dir;
    const std::string takeover = "\x1b]0;owned\x07\x1b[2K";  // retitles the terminal, erases the line
    const std::string shown = "\\x1B]0;owned\\x07\\x1B[2K";
    const std::string root = dir.File("t" + takeover), shownRoot = dir.File("t" + shown), db = dir.File("s.mdb");
    fs::create_directory(root);
    test::WriteFile(root + "/" + takeover, "1");
    test::WriteFile(root + "/new\nline", "22");
    test::WriteFile(root + "/bad\xff", "333");
    test::WriteFile(root + "/back\\slash", "4444");

    auto run = test::RunTool({"snapshot", root, "--db", db, "--files"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Err.find("  Processing directory " + shownRoot + "\n"), std::string::npos) << run.Err;
    EXPECT_NE(run.Out.find("\t" + shownRoot + "\t1 directories\t4 files\t10\n"), std::string::npos) << run.Out;

    auto table = test::RunTool({"analyse", "files-in-directory", "--db", db, "--unit", "B"});
    ASSERT_EQ(table.ExitCode, 0) << table.Err;
    EXPECT_EQ(table.Out.find_first_of("\x1b\x07\xff"), std::string::npos) << table.Out;
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = table.Out.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(table.Out.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 8u) << table.Out;  // title, heading, rule, total and one line per file
    EXPECT_EQ(lines[0], "Files within directory " + shownRoot + " (all files)");
    EXPECT_EQ(lines[3].rfind("Total for " + shownRoot + " ", 0), 0u) << lines[3];
    const std::size_t dateColumn = lines[1].find("File Date");
    const std::vector<std::string> names = {"back\\\\slash", "bad\\xFF", "new\\x0Aline", shown};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& line = lines[4 + i];
        EXPECT_EQ(line.rfind(names[i] + " ", 0), 0u) << line;
        // Largest first; padding counts the escaped text, so the columns line up.
        EXPECT_EQ(line.substr(dateColumn - 3, 4), std::to_string(4 - i) + "  2") << line;
    }

    auto csv = test::RunTool({"analyse", "files-in-directory", "--db", db, "--unit", "B", "--format", "csv"});
    ASSERT_EQ(csv.ExitCode, 0) << csv.Err;
    const std::vector<std::string> records = {"\r\nback\\slash,4,", "\r\nbad\xff,3,", "\r\n\"new\nline\",2,",
                                              "\r\n" + takeover + ",1,"};
    for (const std::string& record : records) {
        EXPECT_NE(csv.Out.find(record), std::string::npos) << record;
    }
}

TEST(SnapshotCommand, AFileSystemMountedBelowIsEmptyUnlessAskedToCross) {
    test::TempDir dir;
    std::string root = dir.File("t"), mount = root + "/mnt";
    fs::create_directories(mount);
    test::WriteFile(root + "/own", "12");
    if (std::system(("mount -t tmpfs corvina-test '" + mount + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "cannot mount a file system here";
    }
    test::WriteFile(mount + "/inside", "123456");
    auto stay = test::RunTool({"snapshot", root, "--db", dir.File("stay.mdb")});
    auto cross = test::RunTool({"snapshot", root, "--db", dir.File("cross.mdb"), "--cross-file-systems"});
    EXPECT_EQ(std::system(("umount '" + mount + "'").c_str()), 0);
    ASSERT_EQ(stay.ExitCode, 0) << stay.Err;
    ASSERT_EQ(cross.ExitCode, 0) << cross.Err;
    for (const auto& [db, files] : {std::pair{dir.File("stay.mdb"), 0}, std::pair{dir.File("cross.mdb"), 1}}) {
        SQLite::Database file(db, SQLite::OPEN_READONLY);
        SQLite::Statement q(file, "SELECT Files FROM Dir WHERE Dirname = ?");
        q.bind(1, mount);
        ASSERT_TRUE(q.executeStep()) << db;
        EXPECT_EQ(q.getColumn(0).getInt(), files) << db;
        EXPECT_EQ(file.execAndGet("SELECT Totdirs FROM Control").getInt(), 2) << db;
    }
}

TEST(SnapshotCommand, ReadOnlyDatabaseFailsBeforeTheWalk) {
    if (!test::CanDropPrivileges()) GTEST_SKIP() << "needs root and setpriv to run as another user";
    test::TempDir dir;
    fs::permissions(dir.Path(), fs::perms::all);
    std::string db = dir.File("s.mdb");
    ASSERT_EQ(test::RunTool({"check", "--db", db}).ExitCode, 0);
    ::chown(db.c_str(), 65534, 65534);
    ::chmod(db.c_str(), 0444);
    auto run = test::RunTool({"snapshot", dir.Path().string(), "--db", db}, /*unprivileged=*/true);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find("cannot be written"), std::string::npos) << run.Err;
    EXPECT_EQ(Count(db, "Dir"), 0);
}

// Starts the tool, waits for its first progress line, sends a signal and
// returns what it printed (exit code 128 + signal when it was killed).
test::ToolRun InterruptMidRun(const std::vector<std::string>& args, int signal) {
    test::RunningTool run(args);
    if (run.WaitForErr("\n")) {
        ::usleep(50000);  // let rows reach the file
        run.Signal(signal);
    }
    return run.Finish();
}

TEST(SnapshotCommand, InterruptAndKillMidRunLeaveNothingOfTheRun) {
    test::TempDir dir;
    std::string root = dir.File("tree"), db = dir.File("s.mdb");
    test::MakeLinkTree(root, 400, 250);
    ASSERT_EQ(test::RunTool({"snapshot", root, "--db", db, "--description", "kept"}).ExitCode, 0);

    test::ToolRun interrupted = InterruptMidRun({"snapshot", root, "--db", db, "--files"}, SIGINT);
    EXPECT_EQ(interrupted.ExitCode, 1) << interrupted.Err;
    EXPECT_NE(interrupted.Err.find("corvina: Snapshot aborted"), std::string::npos) << interrupted.Err;
    test::ToolRun killed = InterruptMidRun({"snapshot", root, "--db", db, "--files"}, SIGKILL);
    EXPECT_EQ(killed.ExitCode, 128 + SIGKILL) << killed.Err;

    // The database opens cleanly and holds the first snapshot only.
    auto list = test::RunTool({"list", "--db", db, "--path", root});
    EXPECT_EQ(list.ExitCode, 0) << list.Err;
    EXPECT_EQ(list.Err, "");
    EXPECT_NE(list.Out.find("kept"), std::string::npos);
    EXPECT_EQ(Count(db, "Control"), 1);
    EXPECT_EQ(Count(db, "files"), 0);
    SQLite::Database file(db, SQLite::OPEN_READONLY);
    EXPECT_EQ(file.execAndGet("SELECT count(DISTINCT Snapshot) FROM Dir").getInt(), 1);
    EXPECT_EQ(file.execAndGet("PRAGMA integrity_check").getString(), "ok");
}

}  // namespace
}  // namespace corvina
