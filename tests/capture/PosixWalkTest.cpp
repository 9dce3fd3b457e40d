// The walk over the real file system: links are not followed, special files
// are counted, deep paths are walked. (Odd names are checked through the
// command-line tool.)

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
#include <filesystem>
#include <fstream>

#include "WalkTestSupport.h"
#include "capture/SnapshotRun.h"
#include "store/DatabaseConnection.h"
#include "tests/support/RecordingPrompter.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;
using test::RecordingEnder;
using test::RecordingObserver;
using test::RecordingPrompter;

class PosixWalk : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("corvina-posix-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "tree");
        state.DatabasePath = (dir_ / "test.mdb").string();
        RecordingPrompter opener;
        RecordingEnder ender;
        ASSERT_EQ(OpenSnapshotDatabase(state, opener, ender), OpenOutcome::Created);
        request.BasePath = (dir_ / "tree").string();
        request.Description = "real";
        request.CollectFiles = true;
    }
    void TearDown() override {
        CloseSnapshotDatabase(state);
        // rm descends relative to each directory, so it removes paths beyond PATH_MAX.
        std::string command = "rm -rf '" + dir_.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    RunResult Take() { return TakeSnapshot(state, request, control, observer, prompter); }
    std::string Tree() const { return (dir_ / "tree").string(); }

    fs::path dir_;
    DatabaseState state;
    SnapshotRequest request;
    RunControl control;
    RecordingObserver observer;
    RecordingPrompter prompter;
};

void WriteFile(const std::string& path, std::size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(bytes, 'x');
}

TEST_F(PosixWalk, LinksAreEntriesOfTheirOwnAndSpecialFilesAreSystemFiles) {
    fs::create_directory(Tree() + "/real");
    WriteFile(Tree() + "/real/inside", 1000);
    fs::create_directory_symlink("real", Tree() + "/link-to-dir");
    fs::create_symlink("loop_b", Tree() + "/loop_a");
    fs::create_symlink("loop_a", Tree() + "/loop_b");
    ASSERT_EQ(::mkfifo((Tree() + "/fifo").c_str(), 0644), 0);
    bool device = ::mknod((Tree() + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // needs root
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string sockPath = Tree() + "/sock";
    ASSERT_LT(sockPath.size(), sizeof address.sun_path);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", sockPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);

    RunResult r = Take();
    ASSERT_EQ(r.Outcome, RunOutcome::Completed);
    EXPECT_TRUE(r.ErrorList.empty());
    EXPECT_EQ(r.Counters.TotalDirs, 2);  // the link to a directory is not entered
    EXPECT_EQ(r.Counters.TotalFiles, device ? 7 : 6);
    // A link counts with its own length: the length of its target text.
    EXPECT_EQ(r.Counters.TotalBytes, 1000 + 4 + 6 + 6);
    SQLite::Statement q(*state.SnapshotDatabase, "SELECT Filename, Fileattr FROM files ORDER BY Filename");
    std::map<std::string, int> attributes;
    while (q.executeStep()) attributes[q.getColumn(0).getString()] = q.getColumn(1).getInt();
    EXPECT_EQ(attributes["fifo"], kAttrSystem);
    EXPECT_EQ(attributes["sock"], kAttrSystem);
    if (device) {
        EXPECT_EQ(attributes["null"], kAttrSystem);
    }
    EXPECT_EQ(attributes["link-to-dir"], 0);
    EXPECT_EQ(attributes["inside"], 0);
}

TEST_F(PosixWalk, PathsBeyondTheSystemLimitAndDeeperThanTheDescriptorLimitAreWalked) {
    // 20 levels of 250-byte names (about 5000 bytes, over PATH_MAX), then 150
    // levels of one byte under a soft limit of 100 open descriptors.
    struct rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < 400) GTEST_SKIP() << "hard descriptor limit too low";
    limit.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::string name(250, 'd');
    int fd = ::open(Tree().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int level = 0; level < 170; ++level) {
        if (level == 20) name = "d";
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
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
    EXPECT_EQ(r.Counters.TotalFiles, 1);
    auto dirLength = state.SnapshotDatabase->execAndGet("SELECT length(Filedir) FROM files").getInt();
    EXPECT_GT(dirLength, 4096);
}

}  // namespace
}  // namespace corvina
