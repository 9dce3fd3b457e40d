// Where a database lies and what --db names: a copy in a folder another user
// may not write, a read-only mount, things that are no files at all, and a
// creation that runs out of room. Root reads and writes anything, so the
// cases about permissions run the tool as an unprivileged user; the mounts
// are made in a mount namespace of this test process alone.

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/cli/RunTool.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

// A mount that only this process and the tools it starts see, undone when
// the test ends (lazily: a tool may still be leaving). Not Mounted where the
// kernel refuses.
struct PrivateMount {
    PrivateMount(const std::string& source, const std::string& target, const char* type, unsigned long flags,
                 const std::string& options)
        : Target(target) {
        static const bool apart =
            ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        Mounted = apart && ::mount(source.c_str(), target.c_str(), type, flags, options.c_str()) == 0;
    }
    ~PrivateMount() {
        if (Mounted) ::umount2(Target.c_str(), MNT_DETACH);
    }
    std::string Target;
    bool Mounted = false;
};

class DatabasePlaces : public ::testing::Test {
protected:
    void SetUp() override {
        fs::permissions(dir.Path(), fs::perms::all);
        fs::create_directories(tree + "/sub");
        test::WriteFile(tree + "/sub/f", std::string(3000, 'x'));
    }
    // A database with one snapshot of the tree, written as root.
    void MakeDatabase(const std::string& db) { test::RunOkOn(db, {"snapshot", tree, "--description", "kept"}); }

    test::TempDir dir;
    const std::string tree = dir.File("tree");
};

// Reads db (as MakeDatabase wrote it) with every reader, then tries every
// writer, which must each say why they cannot write and leave the file as it was.
void ReadButNotWritten(const std::string& db, const std::string& tree, const std::string& why,
                       const test::ToolOptions& options) {
    const std::string bytes = test::ReadFile(db);
    const std::pair<Args, std::string> readers[] = {
        {{"list"}, tree + "\n"},
        {{"info", "latest"}, "Description:       kept\n"},
        {{"analyse", "directory-details"}, "Analysis of directory " + tree + "\n"},
        {{"trend"}, "Trend of " + tree + "\n"},
        {{"check"}, "1 snapshot of 1 base path (read-only)\n"}};
    for (const auto& [args, shows] : readers) {
        auto run = test::RunOkOn(db, args, options);
        EXPECT_NE(run.Out.find(shows), std::string::npos) << args[0] << ": " << run.Out;
    }
    const std::string cannot = "corvina: The snapshot database " + db + " cannot be written: " + why;
    for (const Args& args : {Args{"snapshot", tree}, Args{"delete", "latest"}, Args{"compact"}}) {
        auto run = test::RunOn(db, args, options);
        EXPECT_EQ(run.ExitCode, 1) << args[0];
        EXPECT_EQ(run.Err.rfind(cannot, 0), 0u) << args[0] << ": " << run.Err;
    }
    EXPECT_EQ(test::ReadFile(db), bytes);
}

// A copy of a database, without the log and index that lie beside the
// original, in a folder the user may not write: as a file the user may not write
// either, and as one the user may write (the engine then meets the folder when it
// wants to make the log's index).
TEST_F(DatabasePlaces, CopiedFileInAFolderOthersCannotWriteIsReadAndWritingCommandsSayWhy) {
    if (!test::CanDropPrivileges()) GTEST_SKIP() << "needs root and setpriv to run as another user";
    const std::string original = dir.File("original.mdb"), shared = dir.File("shared");
    MakeDatabase(original);
    fs::create_directory(shared);
    const fs::perms readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const fs::perms writable = readable | fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    const std::tuple<std::string, fs::perms, std::string> copies[] = {
        {"read.mdb", readable, "this user may not write the file"},
        {"write.mdb", writable, "this user may not write its folder " + shared},
    };
    for (const auto& [name, mode, why] : copies) {
        SCOPED_TRACE(name);
        const std::string db = shared + "/" + name;
        fs::copy_file(original, db);
        fs::permissions(db, mode);
        ReadButNotWritten(db, tree, why, {.Unprivileged = true});
        EXPECT_FALSE(fs::exists(db + "-wal") || fs::exists(db + "-shm") || fs::exists(db + "-journal"));
    }
}

// On a read-only mount even root cannot write: a database with its log and
// index beside it, and a copy without them, are read all the same.
TEST_F(DatabasePlaces, DatabaseOnAReadOnlyMountIsReadAndWritingCommandsSaySo) {
    const std::string disk = dir.File("disk");
    fs::create_directory(disk);
    MakeDatabase(disk + "/with-log.mdb");
    fs::copy_file(disk + "/with-log.mdb", disk + "/alone.mdb");
    ASSERT_TRUE(fs::exists(disk + "/with-log.mdb-wal"));
    PrivateMount bound(disk, disk, nullptr, MS_BIND, "");
    if (!bound.Mounted || ::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        GTEST_SKIP() << "cannot mount a file system here";
    }
    for (const char* name : {"with-log.mdb", "alone.mdb"}) {
        SCOPED_TRACE(name);
        ReadButNotWritten(disk + "/" + name, tree, "it lies on a read-only file system", {});
    }
}

// The engine would take a device or a pipe for an empty database (and then
// try to set one up in it), and a /proc file reports no size. None of them
// is offered for creation either: nothing could be created there.
TEST_F(DatabasePlaces, DirectoryPipeDeviceAndProcFileAreNoDatabaseFilesAndNothingIsAsked) {
    const std::string folder = dir.File("folder"), pipe = dir.File("pipe"), link = dir.File("link.mdb");
    fs::create_directory(folder);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_directory_symlink(folder, link);
    for (const std::string& db : {folder, pipe, link, std::string("/dev/zero"), std::string("/dev/null"),
                                  std::string("/proc/self/status")}) {
        for (const Args& args : {Args{"list"}, Args{"check"}, Args{"snapshot", tree}}) {
            auto run = test::RunOn(db, args);
            EXPECT_EQ(run.ExitCode, 1) << args[0] << " " << db;
            EXPECT_EQ(run.Err, "corvina: " + db + " is not a snapshot database file\n") << args[0];
            EXPECT_EQ(run.Out, "") << args[0] << " " << db;
        }
    }
    EXPECT_TRUE(fs::is_empty(folder) && fs::is_fifo(pipe));
    // A link to a database file is that file.
    MakeDatabase(dir.File("real.mdb"));
    fs::remove(link);
    fs::create_symlink(dir.File("real.mdb"), link);
    EXPECT_EQ(test::RunOn(link, {"list"}).Out, tree + "\n");
}

// A creation that fails half-way leaves nothing: a file left empty would read
// as an empty database next time, and a bare log could be replayed onto the
// next file of that name.
TEST_F(DatabasePlaces, CreationOnAFullDiskLeavesNoFileBehind) {
    const std::string disk = dir.File("disk"), db = disk + "/new.mdb";
    fs::create_directory(disk);
    // Room for the file's name and little else: the first page does not fit.
    PrivateMount small("tmpfs", disk, "tmpfs", 0, "size=8k");
    if (!small.Mounted) GTEST_SKIP() << "cannot mount a file system here";
    auto run = test::RunOn(db, {"snapshot", tree});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find("corvina: Can't create "), std::string::npos) << run.Err;
    EXPECT_TRUE(run.Err.ends_with(". Program aborted\n")) << run.Err;
    EXPECT_TRUE(fs::is_empty(disk)) << fs::directory_iterator(disk)->path();
    EXPECT_EQ(test::RunOn(db, {"list"}).Err, "corvina: No snapshot database at " + db + "\n");
}

}  // namespace
}  // namespace corvina
