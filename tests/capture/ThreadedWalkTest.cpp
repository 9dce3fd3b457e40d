// The walk read by several threads: everything it hands out (rows, status,
// counters, debug lists, errors) is the same, in the same order, as when one
// thread reads, on a real tree with awkward names and injected failures, also
// when the walk ends early. Nothing is read once the walk has returned.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/DirectoryWalk.h"
#include "capture/FileSystem.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;

// The real file system, failing by name: "bad*" cannot be read, "locked*"
// cannot be opened, "short*" has no length. Counts every call.
class FaultyFileSystem final : public FileSystem {
public:
    std::atomic<long> Calls{0};

    bool ConcurrentCalls() const override { return true; }
    int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) override {
        return ++Calls, real_->OpenDirectory(path, out, stat);
    }
    int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) override {
        return ++Calls, name.starts_with("locked") ? EACCES : real_->OpenSubdirectory(parent, name, out);
    }
    int BeginListing(const DirectoryHandle& directory) override { return ++Calls, real_->BeginListing(directory); }
    bool NextName(std::string_view& name, int& error) override { return ++Calls, real_->NextName(name, error); }
    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override {
        return ++Calls, name.starts_with("bad") ? EIO : real_->ReadAttributes(directory, name, out);
    }
    int ReadLength(const DirectoryHandle& dir, std::string_view name, const EntryStat& stat, std::int64_t& length) override {
        return ++Calls, name.starts_with("short") ? ESTALE : real_->ReadLength(dir, name, stat, length);
    }

protected:
    void CloseDirectory(int) override {}  // handles come from the real one and close there

private:
    std::unique_ptr<FileSystem> real_ = MakePosixFileSystem();
};

// Rows, status, counters and debug stops in one list, in the order they came.
class Recorder final : public RowSink, public WalkObserver {
public:
    std::vector<std::string> Log;
    int Rows = 0;
    int RefuseAtRow = -1;
    int AbortAfterRows = -1;
    RunControl* Control = nullptr;

    bool FileRow(const FileRowInput& r) override {
        return Row("F " + std::string(r.Filename) + "|" + std::to_string(r.Filesize) + "|" + std::string(r.Filedir) +
                   "|" + std::to_string(r.Fileattr) + "|" + std::to_string(r.Filedate.Minute * 60 + r.Filedate.Second));
    }
    bool DirRow(std::string_view type, std::string_view name, std::int64_t files, double bytes) override {
        return Row("D" + std::string(type) + " " + std::string(name) + "|" + std::to_string(files) + "|" +
                   std::to_string(bytes));
    }
    void OnStatus(const std::string& text) override { Log.push_back("S " + text); }
    void OnCounters(const RunCounters& c) override {
        Log.push_back("C " + std::to_string(c.TotalDirs) + " " + std::to_string(c.TotalFiles) + " " +
                      std::to_string(c.TotalBytes) + " " + std::to_string(c.CollectedFiles));
    }
    DebugAnswer OnDebugStop(const std::string& title, const std::vector<DebugEntry>& entries) override {
        Log.push_back("G " + title);
        for (const DebugEntry& entry : entries) Log.push_back("g " + entry.Path + "|" + entry.Attributes);
        return DebugAnswer::Continue;
    }

private:
    bool Row(std::string text) {
        if (Rows == RefuseAtRow) return false;
        Log.push_back(std::move(text));
        if (++Rows == AbortAfterRows) Control->AbortFlag.store(true);
        return true;
    }
};

void MakeFiles(const fs::path& dir, const std::string& stem, int count) {
    for (int i = 0; i < count; ++i) test::WriteFile((dir / (stem + std::to_string(i))).string(), std::string(i % 7, 'x'));
}

// About 70 directories in three levels, a directory of 700 files (several
// hand-overs and status lines), names that sort by case only, UTF-8, bytes
// that are not, a newline, links and a fifo, and failures spread over the tree.
void MakeTree(const fs::path& root, bool manyErrors) {
    const std::vector<std::string> names = {"Data", "data", "caf\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac", "odd\xff\xfe",
                                            "new\nline", "sp ace", ".hidden", "locked1", "b"};
    for (const std::string& name : names) {
        fs::create_directory(root / name);
        MakeFiles(root / name, "f", 3);
        for (int j = 0; j < 5; ++j) {
            const fs::path sub = root / name / ("s" + std::to_string(j));
            fs::create_directories(sub / "inner");
            MakeFiles(sub, j % 2 ? "F" : "f", j * 3);
            MakeFiles(sub / "inner", "i", 2);
        }
        test::WriteFile((root / name / "bad1").string(), "x");
        test::WriteFile((root / name / "short1").string(), "x");
        fs::create_directory(root / name / "locked2");
    }
    MakeFiles(root / "b", "wide", 700);
    fs::create_directory_symlink("Data", root / "link-to-dir");
    fs::create_symlink("does/not/exist", root / "dangling");
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0644), 0);
    if (manyErrors) {
        fs::create_directory(root / "sp ace" / "many");
        MakeFiles(root / "sp ace" / "many", "bad", 120);
    }
}

struct Case {
    const char* Name;
    bool ManyErrors = false;
    int RefuseAtRow = -1;
    int AbortAfterRows = -1;
};

// Everything the walk handed out, in order; the prompter's texts and the
// result at the end.
std::vector<std::string> Walk(const std::string& base, const Case& c, int threads, WalkResult& result) {
    FaultyFileSystem disk;
    Recorder recorder;
    RunControl control;
    control.DebugMode.store(true);
    recorder.Control = &control;
    recorder.RefuseAtRow = c.RefuseAtRow;
    recorder.AbortAfterRows = c.AbortAfterRows;
    test::RecordingPrompter prompter;
    WalkOptions options;
    options.CollectFiles = true;
    options.Style = PathStyle::Posix;
    options.Threads = threads;
    result = WalkDirectory(base, options, disk, recorder, control, recorder, prompter);
    // The workers are gone: nothing more is read.
    const long calls = disk.Calls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(disk.Calls.load(), calls) << c.Name << ", " << threads << " threads";
    for (const ErrorEntry& entry : result.ErrorList) recorder.Log.push_back("E " + entry.File + "|" + entry.Error);
    for (const std::string& text : prompter.Texts()) recorder.Log.push_back("P " + text);
    recorder.Log.push_back("R " + std::to_string(result.RowFailed) + " " + std::to_string(result.Files));
    return recorder.Log;
}

TEST(ThreadedWalk, GivesTheSameRowsStatusAndErrorsAsOneThread) {
    const Case cases[] = {
        {"whole tree", false, -1, -1},
        {"error limit", true, -1, -1},
        {"refused row", false, 400, -1},
        {"abort", false, -1, 400},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        MakeTree(dir.Path(), c.ManyErrors);
        WalkResult single;
        const std::vector<std::string> reference = Walk(dir.Path().string(), c, 1, single);
        // Each case ends the one-thread walk as it says.
        const std::string label = c.Name;
        if (label == "whole tree") {
            EXPECT_EQ(single.ErrorCount(), 9 * 3 + 1) << "bad1, short1, locked2 in 9 directories, and locked1";
            EXPECT_GT(single.Counters.TotalFiles, 700);
        } else if (label == "error limit") {
            EXPECT_EQ(single.ErrorCount(), kMaxErrors + 1);
        } else if (label == "refused row") {
            EXPECT_TRUE(single.RowFailed);
        } else {
            EXPECT_LT(single.Counters.TotalDirs, 60);
        }
        for (int threads : {2, 8}) {
            WalkResult threaded;
            EXPECT_EQ(Walk(dir.Path().string(), c, threads, threaded), reference) << label << ", " << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace corvina
