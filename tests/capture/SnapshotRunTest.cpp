// The snapshot run against a real database file: what is stored, what is
// said, and that nothing of a failed or stopped run stays. The last cases walk
// the real file system: links are not followed, special files are counted,
// deep paths are walked. (Odd names are checked through the command-line tool.)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "WalkTestSupport.h"
#include "capture/SnapshotRun.h"
#include "store/Catalogue.h"
#include "store/DatabaseConnection.h"
#include "store/DisplayText.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;
using test::FakeFileSystem;
using test::RecordingEnder;
using test::RecordingObserver;
using test::RecordingPrompter;
using Texts = std::vector<std::string>;

class SnapshotRun : public ::testing::Test {
public:  // the cases below build on the fixture directly
    void SetUp() override {
        state.DatabasePath = dir_.File("test.mdb");
        RecordingPrompter opener;
        RecordingEnder ender;
        ASSERT_EQ(OpenSnapshotDatabase(state, opener, ender), OpenOutcome::Created);
        request.BasePath = "/base";
        request.Description = "first";
    }
    void TearDown() override {
        CloseSnapshotDatabase(state);
        // rm descends relative to each directory, so it removes paths beyond PATH_MAX.
        EXPECT_EQ(std::system(("rm -rf '" + dir_.File("tree") + "'").c_str()), 0);
    }

    RunResult Take() { return TakeSnapshot(state, request, control, observer, prompter, real ? nullptr : &fake); }
    // Points the run at an empty folder of the real file system.
    std::string RealTree() {
        real = true;
        request.BasePath = dir_.File("tree");
        request.CollectFiles = true;
        fs::create_directory(request.BasePath);
        return request.BasePath;
    }
    std::string RowsOfAllTables() {
        return Rows("SELECT (SELECT count(*) FROM Control) + (SELECT count(*) FROM Dir) + count(*) FROM files");
    }
    // Every row of a query, fields joined by "|", rows by ",".
    std::string Rows(const std::string& sql) {
        SQLite::Statement q(*state.SnapshotDatabase, sql);
        std::string text;
        for (int row = 0; q.executeStep(); ++row) {
            for (int i = 0; i < q.getColumnCount(); ++i) {
                text += (i ? "|" : row ? "," : "") + (q.getColumn(i).isNull() ? "NULL" : q.getColumn(i).getString());
            }
        }
        return text;
    }

    test::TempDir dir_;
    DatabaseState state;
    SnapshotRequest request;
    RunControl control;
    RecordingObserver observer;
    RecordingPrompter prompter;
    FakeFileSystem fake;
    bool real = false;
};

// Blanks and a trailing separator are not part of the walked paths: Basepath
// names the root entry, as every reader of the catalogue expects.
TEST_F(SnapshotRun, CompletedRunStoresItsControlRowLast) {
    request.BasePath = " /base/ ";
    request.CollectFiles = true;
    request.SizeThreshold = 2;
    fake.AddFile("", "small", 1);
    fake.AddFile(fake.AddDir("", "sub"), "big.DOC", 3000000000LL);
    RunResult r = Take();
    ASSERT_EQ(r.Outcome, RunOutcome::Completed);
    EXPECT_EQ(r.StatusText, "Snapshot completed.");
    EXPECT_TRUE(prompter.Texts().empty());
    EXPECT_EQ(Rows("SELECT Snapshot, Basepath, Description, Collfiles, Filelimit, Totdirs, Totfiles, Totbytesf, "
                   "Filetot, Filesizef, Totbytes, Filesize FROM Control"),
              FormatKey(r.Key) + "|/base|first|Y|2|2|2|3000000001.0|1|3000000000.0|NULL|NULL");
    EXPECT_EQ(Rows("SELECT Filesize FROM files"), "3000000000");
    // Rows in the walk's order: files entry first, the base directory entry last.
    EXPECT_EQ(Rows("SELECT Dirname FROM Dir ORDER BY rowid"), "/base/(files),/base/sub/(files),/base/sub,/base");
}

TEST_F(SnapshotRun, InputIsCheckedBeforeAnythingIsWritten) {
    const struct {
        std::string Description, BasePath;
        const char* Said;
    } refusals[] = {
        {"", "", "Enter a Snapshot description"},
        {"d", "", "Select a directory or path"},
        {std::string(256, 'x'), "/base", "longer than 255"},
        {"d", "/nowhere", "/nowhere"},
    };
    for (const auto& c : refusals) {
        prompter.Clear();
        request.Description = c.Description;
        request.BasePath = c.BasePath;
        EXPECT_EQ(Take().Outcome, RunOutcome::Refused) << c.Said;
        ASSERT_EQ(prompter.Texts().size(), 1u);
        EXPECT_NE(prompter.Texts()[0].find(c.Said), std::string::npos) << prompter.Texts()[0];
    }
    EXPECT_EQ(RowsOfAllTables(), "0");
    // 255 characters, some of them two bytes long, are accepted.
    request.BasePath = "/base";
    request.Description = std::string(250, 'x') + "ééééé";
    EXPECT_EQ(Take().Outcome, RunOutcome::Completed);

    // A Control table that lacks a total takes no new row: refused before the
    // walk, not after it.
    CloseSnapshotDatabase(state);
    SQLite::Database(state.DatabasePath, SQLite::OPEN_READWRITE).exec("ALTER TABLE Control DROP COLUMN Totbytesf");
    RecordingPrompter opener;
    RecordingEnder ender;
    ASSERT_EQ(OpenSnapshotDatabase(state, opener, ender), OpenOutcome::Opened);
    prompter.Clear();
    observer.Statuses.clear();
    const std::string rows = RowsOfAllTables();
    EXPECT_EQ(Take().Outcome, RunOutcome::Refused);
    ASSERT_EQ(prompter.Texts().size(), 1u);
    EXPECT_NE(prompter.Texts()[0].find("cannot take a new snapshot"), std::string::npos) << prompter.Texts()[0];
    EXPECT_TRUE(observer.Statuses.empty() && RowsOfAllTables() == rows);
}

TEST(DefaultDescription, ALongPathGivesWayInItsMiddleAtCharacterBoundaries) {
    const DateTime date{2026, 12, 5, 10, 0, 0};
    EXPECT_EQ(DefaultDescription("/home/ann", date), "Analysis of /home/ann taken on 05-Dec-26");

    std::string path = "/start";
    while (path.size() < 600) path += "/é-dir";
    path += "/the-end";
    const std::string text = DefaultDescription(path, date);
    std::size_t characters = 0;
    for (unsigned char c : text) characters += (c & 0xC0) != 0x80;
    EXPECT_EQ(characters, 255u);
    EXPECT_TRUE(text.starts_with("Analysis of /start/é-dir") && text.ends_with("/é-dir/the-end taken on 05-Dec-26") &&
                text.find("\u2026") != std::string::npos)
        << text;
    EXPECT_EQ(EscapeForDisplay(text), text);  // whole characters only: no byte of an "é" cut off
}

// However a run ends early, nothing of it stays, and it says what happened.
TEST_F(SnapshotRun, RunsEndedEarlyLeaveNothingAndSayWhy) {
    const struct {
        const char* Name;
        std::function<void(SnapshotRun&)> Build;
        RunOutcome Outcome;
        const char* Status;
        Texts Said;  // a part of each message
    } cases[] = {
        {"too many errors",
         [](SnapshotRun& t) {
             for (int i = 0; i < 101; ++i) t.fake.AttributeFailures[t.fake.AddFile("", "b" + std::to_string(i), 1)] = EIO;
         },
         RunOutcome::TooManyErrors, "Processing directory /base",
         {"Snapshot aborted due to excessive number of errors",
          "Snapshot aborted due to excessive numbers of file errors"}},
        // The walk has nothing left to skip, yet the run must not complete.
        {"abort during the last directory",
         [](SnapshotRun& t) {
             t.fake.AddDir("", "a");
             t.observer.AfterCounters = [&t, directories = 0](const RunCounters&) mutable {
                 if (++directories == 2) t.control.AbortFlag = true;
             };
         },
         RunOutcome::Aborted, "Snapshot aborted", {}},
        {"a refused row",
         [](SnapshotRun& t) {
             t.request.CollectFiles = true;
             for (int i = 0; i < 5000; ++i) t.fake.AddFile("", "f" + std::to_string(i), 1);
             t.fake.AddFile("", "twin", 1);
             t.fake.AddFile("", "twin", 1);  // a second row with the same key violates File1
             t.fake.AddDir("", "later");
         },
         RunOutcome::Aborted, "Snapshot aborted", {"Error processing file /base/twin size=1"}},
        {"a refused Control row",
         [](SnapshotRun& t) {
             t.fake.AddFile("", "f", 1);
             t.state.SnapshotDatabase->exec(
                 "CREATE TEMP TRIGGER refuse BEFORE INSERT ON Control BEGIN SELECT RAISE(ABORT, 'refused'); END");
         },
         RunOutcome::Failed, nullptr, {"refused"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fake = FakeFileSystem();
        observer = RecordingObserver();
        prompter.Clear();
        c.Build(*this);
        RunResult r = Take();
        EXPECT_EQ(r.Outcome, c.Outcome);
        if (c.Status != nullptr) {
            EXPECT_EQ(r.StatusText, c.Status);
        }
        EXPECT_NE(r.StatusText, "Snapshot completed.");
        ASSERT_EQ(prompter.Texts().size(), c.Said.size());
        for (std::size_t i = 0; i < c.Said.size(); ++i) EXPECT_NE(prompter.Texts()[i].find(c.Said[i]), std::string::npos);
        state.SnapshotDatabase->exec("DROP TRIGGER IF EXISTS temp.refuse");
        EXPECT_EQ(RowsOfAllTables(), "0");
    }
}

TEST_F(SnapshotRun, LinksAreEntriesOfTheirOwnAndSpecialFilesAreSystemFiles) {
    const std::string tree = RealTree();
    fs::create_directory(tree + "/real");
    test::WriteFile(tree + "/real/inside", std::string(1000, 'x'));
    fs::create_directory_symlink("real", tree + "/link-to-dir");
    fs::create_symlink("loop_b", tree + "/loop_a");
    fs::create_symlink("loop_a", tree + "/loop_b");
    ASSERT_EQ(::mkfifo((tree + "/fifo").c_str(), 0644), 0);
    bool device = ::mknod((tree + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // needs root
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(tree.size() + 5, sizeof address.sun_path);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/sock", tree.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);

    RunResult r = Take();
    ASSERT_EQ(r.Outcome, RunOutcome::Completed);
    EXPECT_TRUE(r.ErrorList.empty());
    EXPECT_EQ(r.Counters.TotalDirs, 2);  // the link to a directory is not entered
    // A link counts with its own length: the length of its target text.
    EXPECT_EQ(r.Counters.TotalBytes, 1000 + 4 + 6 + 6);
    EXPECT_EQ(Rows("SELECT Filename, Fileattr FROM files ORDER BY Filename"),
              std::string("fifo|4,inside|0,link-to-dir|0,loop_a|0,loop_b|0,") + (device ? "null|4," : "") + "sock|4");
}

TEST_F(SnapshotRun, PathsBeyondTheSystemLimitAndDeeperThanTheDescriptorLimitAreWalked) {
    // 20 levels of 250-byte names (about 5000 bytes, over PATH_MAX), then 150
    // levels of one byte under a soft limit of 100 open descriptors.
    struct rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < 400) GTEST_SKIP() << "hard descriptor limit too low";
    limit.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::string name(250, 'd');
    int fd = ::open(RealTree().c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; fd >= 0 && level < 170; ++level) {
        if (level == 20) name = "d";
        int next = ::mkdirat(fd, name.c_str(), 0755) == 0 ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY) : -1;
        ::close(fd);
        fd = next;
    }
    int file = ::openat(fd, "deep.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "12345", 5), 5);
    ::close(file);
    ::close(fd);

    RunResult r = Take();
    ASSERT_EQ(r.Outcome, RunOutcome::Completed);
    EXPECT_TRUE(r.ErrorList.empty());
    EXPECT_EQ(r.Counters.TotalDirs, 171);
    EXPECT_GT(state.SnapshotDatabase->execAndGet("SELECT length(Filedir) FROM files WHERE Filename = 'deep.txt'").getInt(),
              4096);
}

}  // namespace
}  // namespace corvina
