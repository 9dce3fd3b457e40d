// The walk read by several threads: everything it hands out (rows, status,
// counters, debug lists, errors) is the same, in the same order, as when one
// thread reads, on a real tree with awkward names and injected failures, also
// when the walk ends early. No directory is read after it was closed, every
// one is closed in the end, and a walk that ends early waits for a worker
// still inside the file system before it closes what the worker reads from.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/DirectoryWalk.h"
#include "capture/FileSystem.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;

class FaultyFileSystem;

// Tells the file system a worker came from when that thread ends: workers
// end only when the walk stops them.
struct WorkerEnd {
    FaultyFileSystem* Disk = nullptr;
    ~WorkerEnd();
};
thread_local WorkerEnd tWorkerEnd;

// The real file system, failing by name: "bad*" cannot be read, "locked*"
// cannot be opened, "short*" has no length. The handles it gives out are its
// own, so that it sees each directory closed: a call on a directory closed
// already, or a second close, is noted as a misuse. On request it holds a
// worker that opens a named directory until the test lets it go.
class FaultyFileSystem final : public FileSystem {
public:
    bool ConcurrentCalls() const override { return true; }
    int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) override {
        walker_ = std::this_thread::get_id();  // before any worker exists
        DirectoryHandle real;
        const int code = real_->OpenDirectory(path, real, stat);
        if (code == 0) out = Adopt(std::move(real));
        return code;
    }
    int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) override {
        Enter();
        if (name == holdName_ && std::this_thread::get_id() != walker_) Hold();
        if (name.starts_with("locked")) return EACCES;
        const auto directory = Real(parent, "opening " + std::string(name));
        if (!directory) return EBADF;
        DirectoryHandle real;
        const int code = real_->OpenSubdirectory(*directory, name, real);
        if (code == 0) out = Adopt(std::move(real));
        return code;
    }
    int BeginListing(const DirectoryHandle& directory) override {
        Enter();
        auto real = Real(directory, "listing");
        if (!real) return EBADF;
        const int code = real_->BeginListing(*real);
        std::lock_guard lock(mutex_);
        listings_[std::this_thread::get_id()] = {directory.Id(), std::move(real)};
        return code;
    }
    bool NextName(std::string_view& name, int& error) override {
        Enter();
        std::shared_ptr<DirectoryHandle> listed;  // closed, when it was the last use, outside the lock
        const bool more = real_->NextName(name, error);
        std::lock_guard lock(mutex_);
        auto listing = listings_.find(std::this_thread::get_id());
        if (listing == listings_.end() || open_.count(listing->second.first) == 0) {
            misuses_.push_back("a listing read on after its directory was closed");
        }
        if (!more && listing != listings_.end()) {
            listed = std::move(listing->second.second);
            listings_.erase(listing);
        }
        return more;
    }
    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override {
        Enter();
        if (name.starts_with("bad")) return EIO;
        const auto real = Real(directory, "reading " + std::string(name));
        return real ? real_->ReadAttributes(*real, name, out) : EBADF;
    }
    int ReadLength(const DirectoryHandle& directory, std::string_view name, const EntryStat& stat,
                   std::int64_t& length) override {
        Enter();
        if (name.starts_with("short")) return ESTALE;
        const auto real = Real(directory, "measuring " + std::string(name));
        return real ? real_->ReadLength(*real, name, stat, length) : EBADF;
    }

    // A worker that opens a directory of this name waits in the call until Release.
    void HoldOpening(std::string name) { holdName_ = std::move(name); }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    // Waits until condition holds (false after a minute: only a hung walk
    // takes that long). condition reads Held, WorkersSeen and WorkersEnded.
    bool WaitFor(const std::function<bool()>& condition) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::minutes(1), condition);
    }
    int Held = 0;          // workers waiting in a held call
    int WorkersSeen = 0;   // worker threads that have called
    int WorkersEnded = 0;  // of those, the ones that have ended

    std::vector<std::string> Misuses() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> all = misuses_;
        if (!open_.empty()) all.push_back(std::to_string(open_.size()) + " directories left open");
        return all;
    }
    void WorkerEnded() {
        std::lock_guard lock(mutex_);
        ++WorkersEnded;
        changed_.notify_all();
    }

protected:
    void CloseDirectory(int id) override {
        std::shared_ptr<DirectoryHandle> closed;  // closes the real one outside the lock
        std::lock_guard lock(mutex_);
        auto it = open_.find(id);
        if (it == open_.end()) {
            misuses_.push_back("a directory closed twice");
            return;
        }
        closed = std::move(it->second);
        open_.erase(it);
    }

private:
    void Enter() {
        if (std::this_thread::get_id() == walker_ || tWorkerEnd.Disk == this) return;
        tWorkerEnd.Disk = this;
        std::lock_guard lock(mutex_);
        ++WorkersSeen;
        changed_.notify_all();
    }
    void Hold() {
        std::unique_lock lock(mutex_);
        ++Held;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
        --Held;
    }
    DirectoryHandle Adopt(DirectoryHandle real) {
        std::lock_guard lock(mutex_);
        const int id = nextId_++;
        open_[id] = std::make_shared<DirectoryHandle>(std::move(real));
        return DirectoryHandle(this, id);
    }
    // The real directory behind a handle of ours; null (and a misuse) once closed.
    std::shared_ptr<DirectoryHandle> Real(const DirectoryHandle& handle, const std::string& what) {
        std::lock_guard lock(mutex_);
        auto it = open_.find(handle.Id());
        if (it != open_.end()) return it->second;
        misuses_.push_back(what + " in a directory closed already");
        return nullptr;
    }

    std::unique_ptr<FileSystem> real_ = MakePosixFileSystem();
    std::thread::id walker_;
    std::string holdName_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    int nextId_ = 1;
    std::map<int, std::shared_ptr<DirectoryHandle>> open_;
    // Each thread's listing: the directory's id, and the real directory kept
    // open while it is listed (so that a misuse cannot read another's descriptor).
    std::map<std::thread::id, std::pair<int, std::shared_ptr<DirectoryHandle>>> listings_;
    std::vector<std::string> misuses_;
};

WorkerEnd::~WorkerEnd() {
    if (Disk != nullptr) Disk->WorkerEnded();
}

// Rows, status, counters and debug stops in one list, in the order they came.
class Recorder final : public RowSink, public WalkObserver {
public:
    std::vector<std::string> Log;
    int Rows = 0;
    int RefuseAtRow = -1;
    int AbortAfterRows = -1;
    RunControl* Control = nullptr;
    std::function<void()> BeforeDirRow = [] {};

    bool FileRow(const CollectedFile& r) override {
        return Row("F " + std::string(r.Filename) + "|" + std::to_string(r.Filesize) + "|" + std::string(r.Filedir) +
                   "|" + std::to_string(r.Fileattr) + "|" + std::to_string(r.Filedate.Minute * 60 + r.Filedate.Second) +
                   "|" + std::to_string(r.Diskbytes) + "|" + std::to_string(r.Links) + (r.DiskRow ? "|row" : ""));
    }
    bool DirRow(std::string_view type, std::string_view name, std::int64_t files, double bytes,
                std::int64_t disk) override {
        BeforeDirRow();
        return Row("D" + std::string(type) + " " + std::string(name) + "|" + std::to_string(files) + "|" +
                   std::to_string(bytes) + "|" + std::to_string(disk));
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
// that are not, a newline, links and a fifo, files of several names, and
// failures spread over the tree.
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
        // One file of many names across the tree, and two of one directory.
        fs::create_hard_link(root / "Data" / "f1", root / name / "s3" / ("hard-" + name));
        fs::create_hard_link(root / name / "f2", root / name / "f2-again");
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

// Everything the walk handed out, in order; the result at the end.
std::vector<std::string> Walk(const std::string& base, const Case& c, int threads, WalkResult& result) {
    FaultyFileSystem disk;
    Recorder recorder;
    RunControl control;
    control.DebugMode.store(true);
    recorder.Control = &control;
    recorder.RefuseAtRow = c.RefuseAtRow;
    recorder.AbortAfterRows = c.AbortAfterRows;
    WalkOptions options;
    options.CollectFiles = true;
    options.Style = PathStyle::Posix;
    options.Threads = threads;
    result = WalkDirectory(base, options, disk, recorder, control, recorder);
    EXPECT_EQ(disk.Misuses(), std::vector<std::string>{}) << c.Name << ", " << threads << " threads";
    for (const ErrorEntry& entry : result.ErrorList) recorder.Log.push_back("E " + entry.File + "|" + entry.Error);
    recorder.Log.push_back("R " + std::to_string(result.RowFailed) + " " + std::to_string(result.Files) + " " +
                           std::to_string(result.DiskBytes) + " " + std::to_string(result.CollectedDiskBytes));
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
            EXPECT_EQ(single.ErrorCount(), 101);  // the 101st ends the walk, of 148 to come
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

// The walk stands at its first directory row while the workers list ahead;
// one of them is held inside the file system as it opens "b" from the base.
// The walk is aborted there and goes on. Only once another worker has ended
// (which only stopping the workers does) is the held one let go: by then a
// walk that closed the base before stopping its workers has closed what the
// held worker opens from.
TEST(ThreadedWalk, AnEarlyEndStopsTheWorkersBeforeItClosesADirectoryTheyOpenFrom) {
    test::TempDir dir;
    MakeTree(dir.Path(), false);
    FaultyFileSystem disk;
    disk.HoldOpening("b");
    Recorder recorder;
    RunControl control;
    std::atomic<bool> atFirstRow{false};
    std::promise<void> goOn;
    recorder.BeforeDirRow = [&, letGo = goOn.get_future().share()] {
        if (!atFirstRow.exchange(true)) letGo.wait();
    };
    WalkOptions options;
    options.Style = PathStyle::Posix;
    options.Threads = 2;
    WalkResult result;
    std::thread walk([&] { result = WalkDirectory(dir.Path().string(), options, disk, recorder, control, recorder); });

    EXPECT_TRUE(disk.WaitFor([&] { return disk.Held == 1 && disk.WorkersSeen == 2; }));
    control.AbortFlag.store(true);
    goOn.set_value();
    EXPECT_TRUE(disk.WaitFor([&] { return disk.WorkersEnded >= 1; }));
    disk.Release();
    walk.join();

    EXPECT_EQ(disk.Misuses(), std::vector<std::string>{});
    EXPECT_TRUE(atFirstRow);
    EXPECT_EQ(result.Counters.TotalDirs, 1);  // the base alone: no subdirectory is entered after the abort
}

}  // namespace
}  // namespace corvina
