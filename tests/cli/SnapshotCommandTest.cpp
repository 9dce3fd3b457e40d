// corvina-cli snapshot end to end: what it stores, unreadable directories,
// odd names, mounts, and a tree deeper than any stack; the timers of
// corvina-cli schedule that take them unattended. Then several processes on
// one database at once, a file or a server's, as scheduled snapshots meet a
// person browsing: writers queue, each run lands with its own key, readers
// answer from the last committed state while a run stands still mid-work,
// and Ctrl-C or SIGKILL leave nothing of a run.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <filesystem>
#include <list>
#include <memory>
#include <set>

#include <nlohmann/json.hpp>

#include "tests/cli/HeldDirectory.h"
#include "tests/cli/RunTool.h"
#include "tests/support/LayoutChoice.h"
#include "tests/support/ServerSchema.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

using testing::HasSubstr;

namespace fs = std::filesystem;
using test::FirstField;
using test::Query;

// The options' exclusions are kept in the order of the command line, a
// file's lines in its place (without its empty lines and CRs), the caches
// once; info says them in text and JSON. (Files that cannot be read: Usage.)
// --min-size reads as every size does (SizeOption). Without --host-label a
// snapshot is recorded as taken on this machine.
TEST(SnapshotCommand, ExclusionsAreKeptInTheOrderGivenAndInfoShowsThem) {
    test::TempDir dir;
    const std::string tree = dir.File("t"), db = dir.File("s.mdb"), patterns = dir.File("patterns");
    fs::create_directories(tree + "/logs");
    for (const char* file : {"/a b", "/x.tmp", "/logs/today", "/kept"}) test::WriteFile(tree + file, "1234");
    test::WriteFile(patterns, "*.tmp\r\n\nlogs\n");
    auto run = test::RunOkOn(db, {"snapshot", tree, "--exclude-caches", "--exclude", "a b", "--exclude-from", patterns,
                                  "--exclude-caches", "--exclude", "\x1b[2J", "--files", "--min-size", "0.5K"});
    EXPECT_THAT(run.Out, HasSubstr("\t1 directories\t1 files\t4\n"));
    EXPECT_EQ(Query(db, "SELECT Position, Kind, Pattern FROM Exclusion"),
              "0|caches|,1|pattern|a b,2|pattern|*.tmp,3|pattern|logs,4|pattern|\x1b[2J");
    char machine[256] = {};
    ASSERT_EQ(::gethostname(machine, sizeof machine - 1), 0);
    EXPECT_EQ(Query(db, "SELECT Filelimit, Hostname FROM Control JOIN Host USING (Snapshot)"), "512|" + std::string(machine));

    const std::string info = test::RunOkOn(db, {"info", "latest"}).Out;
    EXPECT_THAT(info, HasSubstr("\nLeft out:          cache directories\n                   a b\n                   *.tmp\n"
                                "                   logs\n                   \\x1B[2J\n"));
    const auto json = nlohmann::json::parse(test::RunOkOn(db, {"info", "latest", "--json"}).Out);
    EXPECT_EQ(json["exclusions"][0], (nlohmann::json{{"kind", "caches"}, {"pattern", ""}}));
    EXPECT_EQ(json["exclusions"][4], (nlohmann::json{{"kind", "pattern"}, {"pattern", "\x1b[2J"}}));

    test::RunOkOn(db, {"snapshot", tree});
    EXPECT_THAT(test::RunOkOn(db, {"info", "latest"}).Out, HasSubstr("\nLeft out:          nothing\n"));
    EXPECT_EQ(nlohmann::json::parse(test::RunOkOn(db, {"info", "latest", "--json"}).Out)["exclusions"],
              nlohmann::json::array());
}

// Root reads anything, so the tool runs as an unprivileged user. A locked
// directory is listed, its name escaped: it would otherwise split its line
// and erase the one above. The walk says it stops at the 101st; the run's own
// words for the same end, a second box in the window, stay off the one stream
// of the tool. (A database the user may not write: DatabasePlaces.)
TEST(SnapshotCommand, UnreadableDirectoriesAreListedEscapedAndTheHundredAndFirstEndsTheRunWithOneMessage) {
    if (!test::CanDropPrivileges()) GTEST_SKIP() << "needs root and setpriv to run as another user";
    test::TempDir dir;
    fs::permissions(dir.Path(), fs::perms::all);
    std::string root = dir.File("t"), locked = root + "/locked\n\x1b[1A", db = dir.File("s.mdb");
    fs::create_directories(locked);
    test::WriteFile(locked + "/secret", "12345");
    test::WriteFile(root + "/open.txt", "123");
    ::chmod(locked.c_str(), 0);
    ::chmod(root.c_str(), 0777);
    auto run = test::RunOkOn(db, {"snapshot", root, "--files"}, {.Unprivileged = true});
    EXPECT_THAT(run.Err, HasSubstr("Note: information on 1 files could not be collected"));
    EXPECT_THAT(run.Err, HasSubstr("\n  " + root + "/locked\\x0A\\x1B[1A/: Permission denied\n"));

    for (int i = 0; i < 100; ++i) ::mkdir((root + "/locked" + std::to_string(i)).c_str(), 0);
    run = test::RunOn(db, {"snapshot", root}, {.Unprivileged = true});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_THAT(run.Err, HasSubstr("corvina: Snapshot aborted due to excessive number of errors\n"));
    EXPECT_EQ(run.Err.find("excessive", run.Err.find("excessive") + 1), std::string::npos) << run.Err;
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

    auto run = test::RunOkOn(db, {"snapshot", root, "--files"});
    EXPECT_THAT(run.Err, HasSubstr("  Processing directory " + shownRoot + "\n"));
    EXPECT_THAT(run.Out, HasSubstr("\t" + shownRoot + "\t1 directories\t4 files\t10\n"));

    auto table = test::RunOkOn(db, {"analyse", "files-in-directory", "--unit", "B"});
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = table.Out.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(table.Out.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 8u) << table.Out;  // title, heading, rule, total and one line per file
    EXPECT_EQ(lines[0], "Files within directory " + shownRoot + " (all files)");
    EXPECT_EQ(lines[3].rfind("Total for " + shownRoot + " ", 0), 0u) << lines[3];
    const std::size_t dateColumn = lines[1].find("File Date");
    const std::string names[] = {"back\\\\slash", "bad\\xFF", "new\\x0Aline", shown};
    for (std::size_t i = 0; i < 4; ++i) {
        // Largest first; padding counts the escaped text, so the columns line up.
        EXPECT_EQ(lines[4 + i].rfind(names[i] + " ", 0), 0u) << lines[4 + i];
        EXPECT_EQ(lines[4 + i].substr(dateColumn - 3, 4), std::to_string(4 - i) + "  2") << lines[4 + i];
    }

    auto csv = test::RunOkOn(db, {"analyse", "files-in-directory", "--unit", "B", "--format", "csv"});
    for (const std::string& record : {std::string("\r\nback\\slash,4,"), std::string("\r\nbad\xff,3,"),
                                      std::string("\r\n\"new\nline\",2,"), "\r\n" + takeover + ",1,"}) {
        EXPECT_THAT(csv.Out, HasSubstr(record)) << record;
    }
}

TEST(SnapshotCommand, AFileSystemMountedBelowIsEmptyUnlessAskedToCross) {
    test::TempDir dir;
    std::string root = dir.File("t"), mount = root + "/mnt";
    fs::create_directories(mount);
    if (std::system(("mount -t tmpfs corvina-test '" + mount + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "cannot mount a file system here";
    }
    test::WriteFile(mount + "/inside", "123456");
    auto stay = test::RunTool({"snapshot", root, "--db", dir.File("stay.mdb")});
    auto cross = test::RunTool({"snapshot", root, "--db", dir.File("cross.mdb"), "--cross-file-systems"});
    EXPECT_EQ(std::system(("umount '" + mount + "'").c_str()), 0);
    ASSERT_EQ(stay.ExitCode + cross.ExitCode, 0) << stay.Err << cross.Err;
    EXPECT_EQ(Query(dir.File("stay.mdb"), "SELECT Totdirs, Totfiles FROM Control"), "2|0");
    EXPECT_EQ(Query(dir.File("cross.mdb"), "SELECT Totdirs, Totfiles FROM Control"), "2|1");
}

// A chain of 20,000 nested directories, as any user can make with mkdir in a
// loop, each made relative to the one before: far beyond PATH_MAX and any
// stack that followed it by recursion. It lives in the memory file system
// where there is one, because removing it from a disk mounted with discard
// takes over a minute; its database holds close to 2 GB of paths.
TEST(SnapshotCommand, TwentyThousandLevelsEndWithAnExitCodeUnderASmallStackOrFewDescriptors) {
    std::string chain = (::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
                        "/corvina-chain-XXXXXX";
    ASSERT_NE(::mkdtemp(chain.data()), nullptr);
    int fd = ::open(chain.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; fd >= 0 && level < 20000; ++level) {
        int next = ::mkdirat(fd, "d", 0755) == 0 ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        ::close(fd);
        fd = next;
    }
    EXPECT_GE(fd, 0);
    ::close(fd);
    // Too few descriptors for one per level: the directory where they run out
    // becomes an error entry, and the database may find none left to write with.
    for (const test::ToolOptions& limits : {test::ToolOptions{.StackBytes = 1 << 20}, test::ToolOptions{.OpenFiles = 64}}) {
        const std::string db = chain + "-" + std::to_string(limits.OpenFiles) + ".mdb";
        test::ToolRun run = test::RunTool({"snapshot", chain, "--db", db}, limits);
        // 1 is a run given up (too many errors, or a row the database could
        // not write); a signal shows as 128 and more.
        EXPECT_TRUE(run.ExitCode == 0 || run.ExitCode == 1)
            << limits.OpenFiles << ": exit " << run.ExitCode << "\n" << run.Err.substr(0, 300);
        for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((db + suffix).c_str());
    }
    // rm descends relative to each directory; removal by full paths fails beyond PATH_MAX.
    EXPECT_EQ(std::system(("rm -rf '" + chain + "'").c_str()), 0);
}

constexpr const char* kWaiting = "Waiting for another snapshot of this database to finish";
// Clients' transactions under way that have written. A reader's never gets a
// transaction id, so one still ending as its client goes is not counted.
constexpr const char* kWritingTransactions =
    "SELECT count(*) FROM pg_stat_activity WHERE backend_type = 'client backend' AND backend_xid IS NOT NULL";

// What a shell command prints, without its last line break; "" when it fails.
std::string CommandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        if (::pclose(pipe) != 0) return {};
    }
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// Each case writes its units in a settings folder of its own.
class ScheduleCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("XDG_RUNTIME_DIR");  // no user manager here: the timer is written, not enabled
        // The machine's units go here, where no system manager reads them.
        ::setenv("CORVINA_SYSTEM_UNIT_DIR", systemUnits.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("CORVINA_SYSTEM_UNIT_DIR"); }
    test::ToolRun Schedule(std::vector<std::string> args) {
        args.insert(args.begin(), "schedule");
        return test::RunTool(args, {.ConfigHome = dir.File("config")});
    }
    // The exit code of systemd's own check of every unit written.
    int Verify(const std::string& folder) {
        return std::system(("cd " + folder + " && systemd-analyze verify --man=no ./*.service ./*.timer").c_str());
    }
    int Verify() { return Verify(units); }

    test::TempDir dir;
    const std::string units = dir.File("config/systemd/user/"), systemUnits = dir.File("system/");
};

// A path with a blank and a "%" (a specifier to systemd) is named as
// systemd-escape names it and reaches the snapshot command unchanged.
TEST_F(ScheduleCommand, WritesAServiceAndTimerSystemdAcceptsListsReplacesAndRemovesThem) {
    const std::string odd = dir.File("my dir/100%");
    fs::create_directories(odd);
    test::WriteFile(dir.File("patterns"), "*.tmp\n");
    // The file of patterns, named from here, reaches the run as an absolute path.
    const fs::path here = fs::current_path();
    fs::current_path(dir.Path());
    auto run = Schedule({odd, "--on", "Mon *-*-* 02:00", "--files", "--min-size", "1M", "--host-label", "lab 1",
                         "--exclude", "*.o", "--exclude-caches", "--exclude-from", "patterns", "--db",
                         dir.File("s.mdb")});
    fs::current_path(here);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_THAT(run.Err, HasSubstr("systemctl --user enable --now 'corvina-snapshot-"));
    EXPECT_THAT(run.Err, HasSubstr("loginctl enable-linger"));
    const std::string escaped = CommandOutput("systemd-escape --path '" + odd + "'");
    const std::string name = "corvina-snapshot-" + (escaped.empty() ? "*" : escaped);
    const std::string service = CommandOutput("cat " + units + "corvina-snapshot-*.service");
    EXPECT_THAT(service, HasSubstr("\"snapshot\" \"--db\" \"" + dir.File("s.mdb") +
                                   "\" \"--files\" \"--min-size\" \"1M\" \"--host-label\" \"lab 1\" \"--exclude\" \"*.o\" "
                                   "\"--exclude-caches\" \"--exclude-from\" \"" + dir.File("patterns") + "\" \"--\" \"" +
                                   dir.File("my dir/100%%") + "\""));
    if (!escaped.empty()) {
        EXPECT_TRUE(fs::exists(units + name + ".service") && fs::exists(units + name + ".timer")) << name;
        EXPECT_EQ(Verify(), 0);
    }
    EXPECT_EQ(Schedule({"--list"}).Out.substr(name.size()),
              ".timer\tMon *-*-* 02:00\tCorvina snapshot of " + odd + "\n");

    EXPECT_EQ(Schedule({odd, "--on", "Mon *-*-* 25:00"}).ExitCode, 2);
    EXPECT_EQ(Schedule({odd, "--keep-daily", "0"}).ExitCode, 2);
    // A policy makes each run prune the path's history after its snapshot.
    EXPECT_EQ(service.find("\"prune\""), std::string::npos);
    ASSERT_EQ(Schedule({odd, "--weekly", "--db", dir.File("s.mdb"), "--keep-monthly", "12", "--keep-daily", "7"}).ExitCode, 0);
    const std::string pruning = CommandOutput("cat " + units + "corvina-snapshot-*.service");
    const std::size_t prune = pruning.find("/corvina-cli\" \"prune\" \"--keep-daily\" \"7\" "
                                           "\"--keep-monthly\" \"12\" \"--path\" \"" + dir.File("my dir/100%%") +
                                           "\" \"--db\" \"" + dir.File("s.mdb") + "\"\n");
    EXPECT_NE(prune, std::string::npos) << pruning;
    // A line of its own, after the snapshot's.
    EXPECT_LT(pruning.find("\"snapshot\""), pruning.rfind("\nExecStart=\"", prune)) << pruning;
    if (!escaped.empty()) {
        EXPECT_EQ(Verify(), 0);
    }
    EXPECT_THAT(Schedule({"--list"}).Out, HasSubstr("\tweekly\t"));
    EXPECT_EQ(Schedule({"--remove", odd}).ExitCode, 0);
    EXPECT_TRUE(fs::is_empty(units));
    EXPECT_EQ(Schedule({"--remove", odd}).ExitCode, 1);
    EXPECT_EQ(Schedule({}).ExitCode, 2);
}

// --system writes the machine's units, whose runs take their snapshots as
// root into the database --db names, with the options a user's units pass
// on. Without --db it is a usage error, without root it is refused, and
// neither writes anything.
TEST_F(ScheduleCommand, SystemUnitsNeedADatabaseAndRootPassTheOptionsOnAndAreRemoved) {
    const std::string tree = dir.File("tree"), db = dir.File("s.mdb");
    fs::create_directories(tree);
    const test::ToolRun bare = Schedule({tree, "--system"});
    EXPECT_EQ(bare.ExitCode, 2);
    EXPECT_THAT(bare.Err, HasSubstr("schedule --system needs --db"));
    if (test::CanDropPrivileges()) {
        const test::ToolRun refused = test::RunTool({"schedule", tree, "--system", "--db", db}, {.Unprivileged = true});
        EXPECT_EQ(refused.ExitCode, 1);
        EXPECT_THAT(refused.Err, HasSubstr("run it as root"));
    }
    EXPECT_FALSE(fs::exists(systemUnits));
    if (::geteuid() != 0) GTEST_SKIP() << "writes the machine's units as root";

    const test::ToolRun run =
        Schedule({tree, "--system", "--db", db, "--host-label", "lab", "--exclude", "*.o", "--keep-daily", "7"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_THAT(run.Err, HasSubstr("  systemctl daemon-reload && systemctl enable --now 'corvina-snapshot-"));
    EXPECT_EQ(run.Err.find("enable-linger"), std::string::npos) << run.Err;
    const std::string service = CommandOutput("cat " + systemUnits + "corvina-snapshot-*.service");
    EXPECT_THAT(service, HasSubstr("\"snapshot\" \"--db\" \"" + db +
                                   "\" \"--host-label\" \"lab\" \"--exclude\" \"*.o\" \"--\" \"" + tree + "\"\n"));
    EXPECT_THAT(service, HasSubstr("\"prune\" \"--keep-daily\" \"7\" \"--path\" \"" + tree + "\" \"--db\" \"" + db +
                                   "\" \"--host\" \"lab\"\n"));
    EXPECT_EQ(Verify(systemUnits), 0);
    EXPECT_FALSE(fs::exists(units));
    EXPECT_THAT(Schedule({"--list", "--system"}).Out, HasSubstr("\tdaily\tCorvina snapshot of " + tree + "\n"));
    EXPECT_EQ(Schedule({"--remove", tree}).ExitCode, 1);
    EXPECT_EQ(Schedule({"--remove", tree, "--system"}).ExitCode, 0);
    EXPECT_TRUE(fs::is_empty(systemUnits));
}

// Two directories whose 250-byte names differ in their last byte: each unit
// name is cut to fit a file name and ends in a hash of its whole path.
TEST_F(ScheduleCommand, LongPathsGetShortUnitNamesOfTheirOwnThatListAndRemoveFind) {
    const std::string first = dir.File(std::string(249, 'a') + "1"), second = dir.File(std::string(249, 'a') + "2");
    for (const std::string& path : {first, second}) {
        fs::create_directory(path);
        auto run = Schedule({path, "--db", dir.File("s.mdb")});
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
    }
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(units)) names.insert(entry.path().filename().string());
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(Verify(), 0);
    const std::string list = Schedule({"--list"}).Out;
    EXPECT_THAT(list, HasSubstr("\tdaily\tCorvina snapshot of " + first + "\n"));
    EXPECT_THAT(list, HasSubstr("\tdaily\tCorvina snapshot of " + second + "\n"));

    EXPECT_EQ(Schedule({"--remove", first}).ExitCode, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(units), fs::directory_iterator()), 2);
    EXPECT_EQ(Schedule({"--remove", second}).ExitCode, 0);
    EXPECT_TRUE(fs::is_empty(units));
}

// What a database has taken of a run whose transaction is still open: a
// file's write-ahead log, or the files table on a server.
std::uintmax_t Written(const std::string& location) {
    if (IsServerLocation(location)) return std::stoull(test::RunOnServer(location, "SELECT pg_relation_size('files')"));
    std::error_code missing;
    const std::uintmax_t size = fs::file_size(location + "-wal", missing);
    return missing ? 0 : size;
}

// Runs that meet a new database together, a file or an empty schema of a
// server, all land, as the scheduled runs of twenty machines do on their
// first night: one sets the database up, and the others go on as soon as
// they see its tables. On a server they walk and write at once, meeting the
// same new paths.
TEST(Concurrency, FirstRunsTogetherIntoANewDatabaseAllLandOnFileAndServer) {
    const test::ServerSchema schema;
    test::TempDir dir;
    const std::string small = dir.File("small");
    test::MakeLinkTree(small, 3, 5);
    std::vector<std::string> locations{dir.File("new.mdb")};
    if (!test::TestServer().empty()) locations.push_back(schema.Location());
    for (const std::string& location : locations) {
        SCOPED_TRACE(location);
        std::list<test::RunningTool> runs;
        for (int host = 0; host < 20; ++host) {
            const std::string label = "host-" + std::to_string(host);
            runs.emplace_back(std::vector<std::string>{"snapshot", small, "--host-label", label, "--db", location});
        }
        for (test::RunningTool& run : runs) {
            const test::ToolRun done = run.Finish();
            EXPECT_EQ(done.ExitCode, 0) << done.Err;
        }
        const std::string landed = "SELECT count(*), count(DISTINCT c.Hostname) FROM Snap s JOIN Chain c ON c.Id = s.Chain";
        EXPECT_EQ(test::RowsAt(location, landed), "20|20");
        // Every run has the tree's 4 directories, and all share one row of
        // each path (the tree's and the base's 4 ancestors').
        const std::string rows = "SELECT (SELECT count(*) FROM Dir), (SELECT count(*) FROM Dirpath WHERE Id <> 0)";
        EXPECT_EQ(test::RowsAt(location, rows), "160|8");
    }
}

// A database file and, beside a server, a server's: runs started together
// all land, each with its own key. A large run stands still in the middle of
// its transaction, where it opens the last directory of its walk once the
// database has taken far more of its rows than an engine keeps in memory (a
// rollback journal would lock readers out by now): readers answer from the
// last commit, another run of that tree waits its turn and says so until
// Ctrl-C ends its wait, and a delete waits for the run and goes through after it. Ctrl-C
// or a kill in the middle of a run leaves nothing of it, and the next writer
// is not kept waiting (a server ends a killed client's transaction when its
// connection goes).
TEST(Concurrency, RunsLandReadersNeverWaitWritersTakeTurnsAndStoppedRunsLeaveNothingOnFileAndServer) {
    // A run is caught mid-way by what it has written, which the tables layout writes row by row.
    const test::TablesLayout tablesLayout;
    const test::ServerSchema schema;
    test::TempDir dir;
    const std::string small = dir.File("small"), big = dir.File("big"), file = dir.File("shared.mdb");
    test::MakeLinkTree(small, 10, 20);
    test::MakeLinkTree(big, 250, 250);
    std::vector<std::string> locations{file};
    if (!test::TestServer().empty()) locations.push_back(schema.Location());
    // Each run of small 201 files, 11 directories and their 11 files entries.
    const std::string counts = "SELECT count(*), (SELECT count(*) FROM files), (SELECT count(*) FROM Dir) FROM Control";
    for (const std::string& location : locations) {
        SCOPED_TRACE(location);
        // Into a new file or an empty schema.
        const std::vector<std::string> run{"snapshot", small, "--files", "--description", "run"};
        const std::set<std::string> keys = test::KeysOfRunsAtOnce(test::WithDb(run, location), 8);
        EXPECT_EQ(keys.size(), 8u);
        EXPECT_EQ(test::RowsAt(location, counts), "8|1608|176");

        // Starts a run that last holds, once the database has taken megabytes of its rows.
        const auto hold = [&](test::HeldDirectory& last, std::vector<std::string> args) {
            if (location == file) test::EmptyLog(file);
            const std::uintmax_t before = Written(location);
            args.insert(args.end(), {"--db", location});
            auto started = std::make_unique<test::RunningTool>(args);
            EXPECT_TRUE(last.WaitUntilOpened());
            EXPECT_TRUE(test::WaitUntil([&] { return Written(location) > before + (4 << 20); }));
            return started;
        };
        {
            test::HeldDirectory last(big + "/zz-last");
            if (!last.Holding()) GTEST_SKIP() << test::HeldDirectory::kCannotHold;
            const auto held = hold(last, {"snapshot", big, "--files", "--description", "second"});
            const std::pair<std::vector<std::string>, std::string> readers[] = {
                {{"list", "--path", small}, "\trun\n"},
                {{"info", "latest"}, "Description:       run\n"},
                {{"analyse", "directory-details"}, "Total for " + small},
                {{"check"}, ": 8 snapshots of 1 base path"}};
            for (const auto& [args, said] : readers) {
                // A reader that waited for the held run would wait for ever;
                // it is killed as it goes out of scope.
                test::RunningTool reader(test::WithDb(args, location));
                if (!reader.WaitForEnd()) {
                    ADD_FAILURE() << args[0] << " waits for the run";
                    continue;
                }
                const test::ToolRun read = reader.Finish();
                EXPECT_EQ(read.ExitCode, 0) << args[0] << ": " << read.Err;
                EXPECT_THAT(read.Out, HasSubstr(said));
                EXPECT_EQ(read.Out.find("second"), std::string::npos) << args[0];
            }
            EXPECT_TRUE(location == file ? test::WriteLockHeld(file)
                                         : test::RunOnServer(location, kWritingTransactions) == "1\n");

            test::RunningTool waiting({"snapshot", big, "--db", location});
            ASSERT_TRUE(waiting.WaitForErr(kWaiting));
            waiting.Signal(SIGINT);
            const test::ToolRun given = waiting.Finish();
            EXPECT_EQ(given.ExitCode, 1);
            EXPECT_THAT(given.Err, HasSubstr("Snapshot aborted"));
            test::RunningTool remove({"delete", *keys.begin(), "--db", location});
            ASSERT_TRUE(remove.WaitForErr(kWaiting));
            last.Release();
            const test::ToolRun landed = held->Finish(), removed = remove.Finish();
            EXPECT_EQ(landed.ExitCode, 0) << landed.Err;
            EXPECT_EQ(std::tuple(removed.ExitCode, removed.Out), std::tuple(0, "Snapshot " + *keys.begin() + " deleted\n"));
        }
        // Seven runs of small, and big: 250 directories of 250 names, and the file they name.
        EXPECT_EQ(test::RowsAt(location, counts), "8|63908|657");

        for (int signal : {SIGINT, SIGKILL}) {
            test::HeldDirectory last(big + "/zz-last");
            const auto stopping = hold(last, {"snapshot", big, "--files"});
            stopping->Signal(signal);
            last.Release();
            const test::ToolRun stopped = stopping->Finish();
            EXPECT_EQ(stopped.ExitCode, signal == SIGINT ? 1 : 128 + SIGKILL) << stopped.Err;
            if (signal == SIGINT) {
                EXPECT_THAT(stopped.Err, HasSubstr("corvina: Snapshot aborted"));
            }
        }
        test::RunOkOn(location, {"snapshot", small});
        EXPECT_EQ(test::RunOkOn(location, {"list"}).Err, "");
        EXPECT_EQ(test::RowsAt(location, counts), "9|63908|679");
    }
    EXPECT_EQ(test::Query(file, "SELECT * FROM pragma_integrity_check"), "ok");
}

// On a server, runs of different hosts write beside one another: a run
// stopped (SIGSTOP) in the middle of its walk, its transaction open and its
// paths stored, holds up no other host's run, of another tree or of its own,
// and none says it waits; the stopped run lands once continued. A run of its
// own host and path waits its turn, since it compares with what that one
// stores, and says so.
TEST(Concurrency, AStoppedRunHoldsUpNoOtherHostOnServer) {
    if (test::TestServer().empty()) GTEST_SKIP() << "runs beside a database server (tests/server/with_server.sh)";
    const test::ServerSchema schema;
    test::TempDir dir;
    const std::string small = dir.File("small"), big = dir.File("big"), location = schema.Location();
    test::MakeLinkTree(small, 10, 20);
    test::MakeLinkTree(big, 100, 100);
    test::RunOkOn(location, {"snapshot", small, "--host-label", "first"});
    test::HeldDirectory last(big + "/zz-last");
    if (!last.Holding()) GTEST_SKIP() << test::HeldDirectory::kCannotHold;
    using Clock = std::chrono::steady_clock;
    const auto millisecondsSince = [](Clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    };
    const Clock::time_point started = Clock::now();
    test::RunningTool stopped({"snapshot", big, "--files", "--host-label", "stopped", "--db", location});
    ASSERT_TRUE(last.WaitUntilOpened());
    stopped.Signal(SIGSTOP);
    last.Release();
    for (const std::string& tree : {small, big}) {
        const Clock::time_point began = Clock::now();
        test::RunningTool other({"snapshot", tree, "--files", "--host-label", "other", "--db", location});
        ASSERT_TRUE(other.WaitForEnd()) << "another host's run waits for the stopped one";
        const test::ToolRun done = other.Finish();
        EXPECT_EQ(done.ExitCode, 0) << done.Err;
        EXPECT_EQ(done.Err.find(kWaiting), std::string::npos) << done.Err;
        std::cout << "another host's run of " << fs::path(tree).filename().string()
                  << " beside the stopped run: " << millisecondsSince(began) << " ms\n";
    }
    test::RunningTool same({"snapshot", big, "--host-label", "stopped", "--db", location});
    ASSERT_TRUE(same.WaitForErr(kWaiting));
    stopped.Signal(SIGCONT);
    const test::ToolRun landed = stopped.Finish(), after = same.Finish();
    EXPECT_EQ(landed.ExitCode, 0) << landed.Err;
    EXPECT_EQ(after.ExitCode, 0) << after.Err;
    std::cout << "the stopped run, from its start to its end: " << millisecondsSince(started) << " ms\n";
    const std::string landedRows = "SELECT count(*), count(DISTINCT Snapshot), "
                                   "(SELECT count(*) FROM files WHERE Filename = 'origin') FROM Snap";
    EXPECT_EQ(test::RowsAt(location, landedRows), "5|5|3");
}

}  // namespace
}  // namespace corvina
