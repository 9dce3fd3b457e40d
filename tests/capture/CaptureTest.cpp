// Capture: the walk over an in-memory file system (rows and their order,
// counters, status and debug reports, abort, and every error path), then the
// snapshot run against a real database file (what is stored, what the run
// has to say, and that nothing of a failed or stopped run stays), and the walk of the real
// file system (links are not followed, special files are counted, deep paths
// are walked). Odd names are checked through the command-line tool.
//
// The doubles: FakeFileSystem holds entries in a fixed listing order and
// injects failures by path (a directory that cannot be opened or listed, an
// entry whose attributes or length cannot be read): root in CI ignores
// permissions, so this is how every error path of the walk gets exercised.
// RecordingSink and RecordingObserver keep what the walk hands them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "capture/DirectoryWalk.h"
#include "capture/ExclusionFilter.h"
#include "capture/FileSystem.h"
#include "capture/SnapshotRun.h"
#include "app/OpenDialogue.h"
#include "store/Catalogue.h"
#include "store/DiskUsage.h"
#include "store/Exclusion.h"
#include "store/Statement.h"
#include "base/DisplayText.h"
#include "store/WriteTransaction.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

using test::RecordingEnder;
using test::RecordingPrompter;

class FakeFileSystem final : public FileSystem {
public:
    struct Node {
        std::string Name, Path;  // Path: full path, separator-joined
        EntryStat Stat;
        std::vector<Node*> Children;  // listing order
    };

    explicit FakeFileSystem(std::string rootPath = "/base") {
        root_.Name = root_.Path = rootPath;
        root_.Stat.Attributes = kAttrDirectory;
        root_.Stat.Device = 1;
    }

    // Adds a directory or file below parentPath ("" is the root); returns its path.
    std::string AddDir(const std::string& parentPath, const std::string& name, std::uint64_t device = 0) {
        Node& node = Add(parentPath, name, kAttrDirectory, 0, 1700000000);
        if (device != 0) node.Stat.Device = device;
        return node.Path;
    }
    std::string AddFile(const std::string& parentPath, const std::string& name, std::int64_t length,
                        int attributes = 0, std::int64_t modified = 1700000000) {
        return Add(parentPath, name, attributes, length, modified).Path;
    }
    // The blocks of the entry at path, and the inode its names share.
    void SetBlocks(const std::string& path, std::int64_t blocks, std::uint64_t inode = 0, std::uint64_t links = 1) {
        EntryStat& stat = path == root_.Path ? root_.Stat : nodes_.at(path)->Stat;
        stat.Blocks = blocks;
        stat.Inode = inode;
        stat.Links = links;
    }
    void SetBlockSize(std::int64_t size) { root_.Stat.BlockSize = size; }

    std::map<std::string, int> OpenFailures;       // path of a directory -> code
    std::map<std::string, int> ListingFailures;    // path of a directory -> code after its names
    std::map<std::string, int> AttributeFailures;  // path of an entry -> code
    std::map<std::string, int> LengthFailures;     // path of a file -> code

    std::optional<FileSystemSpace> Space;  // none: the file system cannot tell

    int ReadSpace(const std::string& path, FileSystemSpace& out) override {
        if (path != root_.Path || !Space) return ENOTSUP;
        out = *Space;
        return 0;
    }
    int OpenHandles() const { return static_cast<int>(open_.size()); }
    int MaxOpenHandles() const { return maxOpen_; }
    bool NestedListing() const { return nested_; }

    int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) override {
        if (path != root_.Path) return ENOENT;
        if (int code = Failure(OpenFailures, path)) return code;
        stat = root_.Stat;
        out = Register(&root_);
        return 0;
    }
    int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) override {
        Node* child = ChildOf(parent, name);
        if (child == nullptr) return ENOENT;
        if (!child->Stat.IsDirectory()) return ENOTDIR;
        if (int code = Failure(OpenFailures, child->Path)) return code;
        out = Register(child);
        return 0;
    }
    int BeginListing(const DirectoryHandle& directory) override {
        if (listing_ != nullptr && position_ < listing_->Children.size()) nested_ = true;
        listing_ = open_.at(directory.Id());
        position_ = 0;
        return 0;
    }
    bool NextName(std::string_view& name, int& error) override {
        error = 0;
        if (listing_ == nullptr) return false;
        if (position_ < listing_->Children.size()) {
            name = listing_->Children[position_++]->Name;
            return true;
        }
        error = Failure(ListingFailures, listing_->Path);
        listing_ = nullptr;
        return false;
    }
    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override {
        Node* child = ChildOf(directory, name);
        if (child == nullptr) return ENOENT;
        if (int code = Failure(AttributeFailures, child->Path)) return code;
        out = child->Stat;
        return 0;
    }
    int ReadLength(const DirectoryHandle& directory, std::string_view name, const EntryStat& stat,
                   std::int64_t& length) override {
        Node* child = ChildOf(directory, name);
        if (child == nullptr) return ENOENT;
        if (int code = Failure(LengthFailures, child->Path)) return code;
        length = stat.Length;
        return 0;
    }

protected:
    void CloseDirectory(int id) override { open_.erase(id); }

private:
    static int Failure(const std::map<std::string, int>& failures, const std::string& path) {
        auto it = failures.find(path);
        return it == failures.end() ? 0 : it->second;
    }
    std::string Join(const std::string& directory, std::string_view name) const {
        std::string path = directory;
        if (path.empty() || path.back() != '/') path += '/';
        return path.append(name);
    }
    Node& Add(const std::string& parentPath, const std::string& name, int attributes, std::int64_t length,
              std::int64_t modified) {
        Node* parent = parentPath.empty() ? &root_ : nodes_.at(parentPath);
        auto node = std::make_unique<Node>();
        node->Name = name;
        node->Path = Join(parent->Path, name);
        node->Stat = {attributes, length, modified, parent->Stat.Device};
        parent->Children.push_back(node.get());
        children_[{parent, name}] = node.get();  // a second entry of the same name shadows the first
        nodes_[node->Path] = node.get();
        all_.push_back(std::move(node));
        return *all_.back();
    }
    Node* ChildOf(const DirectoryHandle& directory, std::string_view name) {
        auto it = children_.find({open_.at(directory.Id()), std::string(name)});
        return it == children_.end() ? nullptr : it->second;
    }
    DirectoryHandle Register(Node* node) {
        open_[nextId_] = node;
        maxOpen_ = std::max(maxOpen_, static_cast<int>(open_.size()));
        return DirectoryHandle(this, nextId_++);
    }

    Node root_;
    std::vector<std::unique_ptr<Node>> all_;
    std::map<std::string, Node*> nodes_;  // by path, for adding below a path
    std::map<std::pair<const Node*, std::string>, Node*> children_;
    std::map<int, Node*> open_;
    int nextId_ = 1;
    int maxOpen_ = 0;
    Node* listing_ = nullptr;
    std::size_t position_ = 0;
    bool nested_ = false;
};

class RecordingSink final : public RowSink {
public:
    // Rows as text: "F name size dir attr" and "D type name files bytes".
    std::vector<std::string> Rows;
    // Bytes on disk as text: "name disk links", " derived" when it needs no
    // Filedisk row, and "D type name disk".
    std::vector<std::string> Disk;
    int FailAtRow = -1;  // the row with this index is refused

    bool FileRow(const CollectedFile& row) override {
        if (Refuse()) return false;
        Rows.push_back("F " + std::string(row.Filename) + " " + std::to_string(row.Filesize) + " " +
                       std::string(row.Filedir) + " " + std::to_string(row.Fileattr));
        Dates.push_back(FormatKey(row.Filedate));
        Disk.push_back(std::string(row.Filedir) + "/" + std::string(row.Filename) + " " +
                       std::to_string(row.Diskbytes) + " " + std::to_string(row.Links) +
                       (row.DiskRow ? "" : " derived"));
        return true;
    }
    bool DirRow(std::string_view type, std::string_view name, std::int64_t files, double bytes,
                std::int64_t disk) override {
        if (Refuse()) return false;
        Rows.push_back("D" + std::string(type) + " " + std::string(name) + " " + std::to_string(files) + " " +
                       std::to_string(static_cast<std::int64_t>(bytes)));
        Disk.push_back("D" + std::string(type) + " " + std::string(name) + " " + std::to_string(disk));
        return true;
    }
    std::vector<std::string> Dates;  // Filedate of each file row

private:
    bool Refuse() { return FailAtRow >= 0 && static_cast<int>(Rows.size()) == FailAtRow; }
};

class RecordingObserver final : public WalkObserver {
public:
    std::vector<std::string> Statuses;
    std::vector<RunCounters> Counters;
    std::vector<std::string> DebugTitles;
    std::vector<std::vector<DebugEntry>> DebugLists;
    DebugAnswer Answer = DebugAnswer::Continue;
    std::function<void(const RunCounters&)> AfterCounters;

    void OnStatus(const std::string& text) override { Statuses.push_back(text); }
    void OnCounters(const RunCounters& counters) override {
        Counters.push_back(counters);
        if (AfterCounters) AfterCounters(counters);
    }
    DebugAnswer OnDebugStop(const std::string& title, const std::vector<DebugEntry>& entries) override {
        DebugTitles.push_back(title);
        DebugLists.push_back(entries);
        return Answer;
    }
};

// The classic exchange sort on upper-cased names, quadratic: the reference
// that SortNames must agree with, ties included.
std::vector<std::size_t> ExchangeSortNames(const std::vector<std::string_view>& names) {
    auto upper = [](std::string_view name) {
        std::string text(name);
        for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        return text;
    };
    std::vector<std::size_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        for (std::size_t j = i + 1; j < order.size(); ++j) {
            if (upper(names[order[i]]) > upper(names[order[j]])) std::swap(order[i], order[j]);
        }
    }
    return order;
}

using Rows = std::vector<std::string>;

struct Walk {
    FakeFileSystem fs;
    RecordingSink sink;
    RecordingObserver observer;
    RunControl control;
    WalkOptions options;
    std::string base = "/base";

    explicit Walk(std::string root = "/base") : fs(root), base(root) {}
    WalkResult Run() { return WalkDirectory(base, options, fs, sink, control, observer); }
};

// Each tree and options give these rows, in this order: a directory's files,
// its files entry, its subtrees in name order, then its own entry.
TEST(WalkRows, EachTreeGivesItsRowsInWalkOrder) {
    const struct {
        const char* Name;
        bool Stops;  // the walk ends early and sets the abort flag
        std::function<void(Walk&)> Build;
        Rows Expected;
        const char* Root = "/base";
    } cases[] = {
        {"empty base", false, [](Walk&) {}, {"D2 /base 0 0"}},
        {"order", false,
         [](Walk& w) {
             w.fs.AddFile("", "z.txt", 10);
             for (const char* name : {"b", "A", "_tmp", "c", "Zeta"}) w.fs.AddDir("", name);
             w.fs.AddFile("", "a.txt", 5);
             w.fs.AddFile("/base/A", "x", 7);
             w.fs.AddFile(w.fs.AddDir("/base/b", "deep"), "y", 3);
         },
         {"F z.txt 10 /base 0", "F a.txt 5 /base 0", "D1 /base/(files) 2 15", "F x 7 /base/A 0", "D1 /base/A/(files) 1 7",
          "D2 /base/A 1 7", "F y 3 /base/b/deep 0", "D1 /base/b/deep/(files) 1 3", "D2 /base/b/deep 1 3",
          "D2 /base/b 1 3",  // only subdirectories: no files entry, their sum
          "D2 /base/c 0 0", "D2 /base/Zeta 0 0", "D2 /base/_tmp 0 0", "D2 /base 4 25"}},
        {"threshold: files at or above it, hidden and system files too", false,
         [](Walk& w) {
             w.options.SizeThreshold = 10;
             w.fs.AddFile("", "small", 9);
             w.fs.AddFile("", "equal", 10);
             w.fs.AddFile("", "large", 11);
             w.fs.AddFile("", ".hidden", 100, kAttrHidden);
             w.fs.AddFile("", "fifo", 0, kAttrSystem);
         },
         {"F equal 10 /base 0", "F large 11 /base 0", "F .hidden 100 /base 2", "D1 /base/(files) 5 130",
          "D2 /base 5 130"}},
        {"threshold 0: empty files too", false, [](Walk& w) { w.fs.AddFile("", "empty", 0); },
         {"F empty 0 /base 0", "D1 /base/(files) 1 0", "D2 /base 1 0"}},
        {"no collection", false, [](Walk& w) { w.options.CollectFiles = false; w.fs.AddFile("", "f", 50); },
         {"D1 /base/(files) 1 50", "D2 /base 1 50"}},
        {"mount point below: an empty directory", false,
         [](Walk& w) { w.fs.AddFile(w.fs.AddDir("", "mnt", 2), "inside", 40); }, {"D2 /base/mnt 0 0", "D2 /base 0 0"}},
        {"mount point crossed", false,
         [](Walk& w) { w.options.CrossFileSystems = true; w.fs.AddFile(w.fs.AddDir("", "mnt", 2), "inside", 40); },
         {"F inside 40 /base/mnt 0", "D1 /base/mnt/(files) 1 40", "D2 /base/mnt 1 40", "D2 /base 1 40"}},
        {"abort before the first directory", true, [](Walk& w) { w.control.AbortFlag = true; w.fs.AddDir("", "a"); },
         {}},
        // Subdirectories return at once; the open directories still write their entries.
        {"abort after the first subdirectory", true,
         [](Walk& w) {
             for (const char* name : {"a", "b", "c"}) w.fs.AddFile(w.fs.AddDir("", name), "f", 1);
             w.observer.AfterCounters = [&w](const RunCounters&) { w.control.AbortFlag = true; };
         },
         {"F f 1 /base/a 0", "D1 /base/a/(files) 1 1", "D2 /base/a 1 1", "D2 /base 1 1"}},
        {"abort from the debug stop", true,
         [](Walk& w) {
             w.control.DebugMode = true;
             w.observer.Answer = DebugAnswer::Abort;
             w.fs.AddFile("", "f", 4);
             w.fs.AddDir("", "a");
         },
         {"F f 4 /base 0", "D1 /base/(files) 1 4", "D2 /base 1 4"}},
        // A refused row stops the walk like an abort.
        {"refused row", true,
         [](Walk& w) {
             w.fs.AddFile(w.fs.AddDir("", "a"), "f1", 1);
             w.fs.AddFile("/base/a", "f2", 1);
             w.fs.AddDir("", "b");
             w.sink.FailAtRow = 1;
         },
         {"F f1 1 /base/a 0"}},
        {"the root: its files entry without a double separator", false,
         [](Walk& w) { w.fs.AddFile("", "f", 1); w.fs.AddDir("", "data"); },
         {"F f 1 / 0", "D1 /(files) 1 1", "D2 /data 0 0", "D2 / 1 1"}, "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Walk w(c.Root);
        w.options.CollectFiles = true;
        c.Build(w);
        WalkResult r = w.Run();
        EXPECT_EQ(w.sink.Rows, c.Expected);
        EXPECT_TRUE(r.ErrorList.empty() && w.fs.OpenHandles() == 0 && !w.fs.NestedListing());
        EXPECT_EQ(std::pair(r.RowFailed, w.control.AbortFlag.load()), std::pair(w.sink.FailAtRow >= 0, c.Stops));
        if (std::string(c.Name) == "order") {
            // Open at once: the directories on the current path only.
            EXPECT_EQ(std::tuple(r.Counters.TotalDirs, r.Counters.TotalFiles, r.Counters.TotalBytes,
                                 r.Counters.CollectedFiles, w.fs.MaxOpenHandles()),
                      std::tuple(7, 4, 25, 4, 3));
        }
    }
}

// Blocks in the rows: a file's at its first name in row order (the base's
// files come before any subdirectory's), every directory's own, nothing of
// a file system mounted below. A subdirectory named "(files)" and its
// parent's files entry each have their own. A file of one name that takes
// its length in whole units of the base's block size needs no Filedisk row.
TEST(WalkRows, BlocksCountOnceAtTheFirstNameInRowOrder) {
    Walk w;
    w.options.CollectFiles = true;
    w.fs.SetBlockSize(1024);
    const std::string a = w.fs.AddDir("", "A"), b = w.fs.AddDir("", "b"), mnt = w.fs.AddDir("", "mnt", 2);
    w.fs.SetBlocks(w.fs.AddFile(a, "again", 100), 1, 10, 2);
    w.fs.SetBlocks(w.fs.AddFile("", "once", 100), 1, 10, 2);
    w.fs.SetBlocks(w.fs.AddFile(b, "x", 1), 2);
    w.fs.SetBlocks(w.fs.AddFile(b, "inline", 1), 0);
    w.fs.SetBlocks(w.fs.AddFile(b, "sparse", 3000), 2);
    w.fs.SetBlocks(w.fs.AddFile(w.fs.AddDir(b, "(files)"), "y", 1), 2);
    w.fs.AddFile(mnt, "far", 1);
    for (const std::string& dir : {std::string("/base"), a, b, b + "/(files)", mnt}) w.fs.SetBlocks(dir, 8);
    const WalkResult r = w.Run();
    EXPECT_EQ(w.sink.Disk,
              Rows({"/base/once 512 2", "D1 /base/(files) 512", "/base/A/again 0 2", "D1 /base/A/(files) 0",
                    "D2 /base/A 4096", "/base/b/x 1024 1 derived", "/base/b/inline 0 1", "/base/b/sparse 1024 1",
                    "D1 /base/b/(files) 2048", "/base/b/(files)/y 1024 1 derived", "D1 /base/b/(files)/(files) 1024",
                    "D2 /base/b/(files) 5120", "D2 /base/b 11264", "D2 /base/mnt 0", "D2 /base 19968"}));
    EXPECT_EQ(std::tuple(r.DiskBytes, r.CollectedDiskBytes, r.BlockUnit), std::tuple(19968, 3584, 1024));
}

TEST(WalkRows, ModificationTimesAreLocalTimesToTheSecond) {
    setenv("TZ", "UTC", 1);
    tzset();
    Walk w;
    w.options.CollectFiles = true;
    w.fs.AddFile("", "a", 1, 0, 1700000059);
    w.fs.AddFile("", "b", 1, 0, 1700000060);
    w.fs.AddFile("", "c", 1, 0, -1);
    w.Run();
    EXPECT_EQ(w.sink.Dates, std::vector<std::string>({"2023-11-14 22:14:19", "2023-11-14 22:14:20",
                                                      "1969-12-31 23:59:59"}));
}

TEST(WalkReports, StatusAtStartAndAfterEvery101stFile) {
    Walk w;
    for (int i = 0; i < 250; ++i) w.fs.AddFile("", "f" + std::to_string(i), 1);
    w.fs.AddDir("", "sub");
    w.Run();
    EXPECT_EQ(w.observer.Statuses, Rows({"Processing directory /base", "Processing directory /base",
                                         "Processing directory /base", "Processing directory /base/sub"}));
    ASSERT_EQ(w.observer.Counters.size(), 2u);
    EXPECT_EQ(w.observer.Counters[0].TotalDirs, 2);  // the subdirectory finishes first
    EXPECT_EQ(w.observer.Counters[1].TotalFiles, 250);
}

TEST(WalkReports, DebugStopsOnlyAtDirectoriesWithSubdirectoriesListingAllEntriesUntilSwitchedOff) {
    Walk w;
    w.control.DebugMode = true;
    w.fs.AddFile("", "f", 1, kAttrReadOnly + kAttrHidden);
    w.fs.AddDir("", "sub");
    w.fs.AddFile("/base/sub", "g", 1);
    w.Run();
    ASSERT_EQ(w.observer.DebugTitles, Rows({"Files within /base/"}));
    Rows entries;
    for (const DebugEntry& e : w.observer.DebugLists[0]) entries.push_back(e.Path + "|" + e.Attributes);
    EXPECT_EQ(entries, Rows({"/base/f|3       ", "/base/sub|16      "}));

    // Switched off at the first stop, there is no second. (The debug window
    // clears the flag itself too; the walk must not rely on that.)
    Walk off;
    off.control.DebugMode = true;
    off.observer.Answer = DebugAnswer::SwitchOff;
    off.fs.AddDir(off.fs.AddDir(off.fs.AddDir("", "a"), "b"), "c");
    off.Run();
    EXPECT_TRUE(off.observer.DebugTitles.size() == 1 && !off.control.DebugMode.load());
}

TEST(WalkErrors, UnreadableEntriesAreListedAndTheWalkGoesOn) {
    Walk w;
    w.options.CollectFiles = true;
    w.fs.AddFile("", "gone", 5);
    w.fs.AddFile("", "nolength", 6);
    w.fs.AddFile("", "ok", 7);
    w.fs.AddFile(w.fs.AddDir("", "locked"), "hidden-by-lock", 100);
    w.fs.AddFile(w.fs.AddDir("", "partial"), "p", 1);
    w.fs.AttributeFailures["/base/gone"] = ENOENT;
    w.fs.LengthFailures["/base/nolength"] = EIO;
    w.fs.OpenFailures["/base/locked"] = EACCES;
    w.fs.ListingFailures["/base/partial"] = EIO;
    WalkResult r = w.Run();

    Rows errors;
    for (const auto& e : r.ErrorList) errors.push_back(e.File + ": " + e.Error);
    EXPECT_EQ(errors, Rows({"/base/gone: No such file or directory", "/base/nolength: Input/output error",
                            "/base/locked/: Permission denied", "/base/partial/: Input/output error"}));
    EXPECT_EQ(w.sink.Rows, Rows({"F ok 7 /base 0", "D1 /base/(files) 1 7", "D2 /base/locked 0 0",
                                 "F p 1 /base/partial 0", "D1 /base/partial/(files) 1 1", "D2 /base/partial 1 1",
                                 "D2 /base 2 8"}));
    EXPECT_EQ(r.Counters.TotalDirs, 3);
}

TEST(SortNames, TiesComeOutAsTheExchangeSortLeavesThem) {
    // Case-only siblings in many arrangements: the fast path must agree with
    // the quadratic sort position for position.
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    const char* pool[] = {"data", "Data", "DATA", "b", "B", "_x", "a", "A", "zz", "ZZ", "m"};
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string_view> names;
        std::size_t n = 1 + next() % 30;
        for (std::size_t i = 0; i < n; ++i) names.emplace_back(pool[(next() >> 8) % 11]);
        ASSERT_EQ(SortNames(names), ExchangeSortNames(names)) << "round " << round;
    }
    // The exchange sort is not stable: B, b, A gives A, b, B.
    std::vector<std::string_view> names = {"B", "b", "A"};
    EXPECT_EQ(SortNames(names), std::vector<std::size_t>({2, 1, 0}));
}

namespace fs = std::filesystem;

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

    RunResult Take() { return TakeSnapshot(state, request, control, observer, real ? nullptr : &fake); }
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
    std::string Rows(const std::string& sql) { return test::Query(state, sql); }

    test::TempDir dir_;
    DatabaseState state;
    SnapshotRequest request;
    RunControl control;
    RecordingObserver observer;
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
    fake.AddFile(fake.AddDir("", "sub"), "big.DOC", 5368709120LL);  // 5 GiB: beyond 32 bits, signed or not
    RunResult r = Take();
    ASSERT_EQ(r.Outcome, RunOutcome::Completed);
    EXPECT_EQ(r.StatusText, "Snapshot completed.");
    EXPECT_TRUE(r.Messages.empty());
    EXPECT_EQ(Rows("SELECT Snapshot, Basepath, Description, Collfiles, Filelimit, Totdirs, Totfiles, Totbytesf, "
                   "Filetot, Filesizef, Totbytes, Filesize FROM Control"),
              FormatKey(r.Key) + "|/base|first|Y|2|2|2|5368709121.0|1|5368709120.0|NULL|NULL");
    EXPECT_EQ(Rows("SELECT Filesize FROM files"), "5368709120");
    // Rows in the walk's order: files entry first, the base directory entry last.
    EXPECT_EQ(Rows("SELECT Dirname FROM Dir ORDER BY rowid"), "/base/(files),/base/sub/(files),/base/sub,/base");
}

// Opening leaves a file without the Filesystem and on-disk tables, and it
// reads as having no figures; the first run's figures create them, and a
// delete takes them.
TEST_F(SnapshotRun, FileSystemFiguresGoInAndOutWithTheirSnapshot) {
    const std::string tables = "SELECT count(*) FROM sqlite_master WHERE name IN "
                               "('Filesystem', 'Diskusage', 'Dirdisk', 'Filedisk')";
    const std::string diskRows = "SELECT (SELECT count(*) FROM Diskusage) || ' ' || (SELECT count(*) FROM Dirdisk) "
                                 "|| ' ' || (SELECT count(*) FROM Filedisk)";
    std::optional<FilesystemFigures> figures;
    std::optional<DiskTotals> disk;
    EXPECT_TRUE(ReadFilesystemRow(state, DateTime{2025, 1, 1, 0, 0, 0}, figures).Ok());
    EXPECT_EQ(std::tuple(Rows(tables), figures.has_value()), std::tuple("0", false));
    fake.Space = FileSystemSpace{8000000000000LL, 123456789LL};
    request.CollectFiles = true;
    fake.SetBlocks(fake.AddFile("", "f", 1), 8);
    const RunResult r = Take();
    ASSERT_EQ(r.Outcome, RunOutcome::Completed);
    EXPECT_EQ(Rows("SELECT * FROM Filesystem"), FormatKey(r.Key) + "|8000000000000|123456789");
    ASSERT_TRUE(ReadFilesystemRow(state, r.Key, figures).Ok());
    EXPECT_EQ(figures.value().Fsfree, 123456789LL);
    ASSERT_TRUE(ReadDiskusageRow(state, r.Key, disk).Ok());
    EXPECT_EQ(std::tuple(disk.value().Totdiskbytes, disk.value().Filediskbytes, Rows(diskRows)),
              std::tuple(4096, 4096, "1 2 1"));
    WaitUpTo noWait{std::chrono::milliseconds(0)};
    ASSERT_TRUE(DeleteSnapshot(state, r.Key, noWait).Ok());
    EXPECT_EQ(Rows("SELECT count(*) FROM Filesystem") + " " + Rows(diskRows), "0 0 0 0");
}

TEST_F(SnapshotRun, InputIsCheckedBeforeAnythingIsWritten) {
    const struct {
        std::string Description, BasePath;
        RunMessage Said;
    } refusals[] = {
        {"", "", {"Enter a Snapshot description", false}},
        {"d", "", {"Select a directory or path", false}},
        {"d", "/nowhere", {"The path /nowhere is not an existing directory (No such file or directory)", true}},
        {std::string(256, 'x'), "/base", {"The Snapshot description is longer than 255 characters (256)", true}},
    };
    for (const auto& c : refusals) {
        request.Description = c.Description;
        request.BasePath = c.BasePath;
        const RunResult r = Take();
        EXPECT_EQ(r.Outcome, RunOutcome::Refused) << c.Said.Text;
        EXPECT_EQ(r.Messages, std::vector<RunMessage>{c.Said});
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
    observer.Statuses.clear();
    const std::string rows = RowsOfAllTables();
    const RunResult r = Take();
    EXPECT_EQ(r.Outcome, RunOutcome::Refused);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_NE(r.Messages[0].Text.find("cannot take a new snapshot"), std::string::npos) << r.Messages[0].Text;
    EXPECT_TRUE(r.Messages[0].Warning);
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

TEST_F(SnapshotRun, RunsEndedEarlyLeaveNothingAndSayWhy) {
    const struct {
        const char* Name;
        std::function<void(SnapshotRun&)> Build;
        RunOutcome Outcome;
        const char* Status;
        std::vector<std::pair<const char*, bool>> Said;  // a part of each message, and whether it warns
    } cases[] = {
        {"too many errors",
         [](SnapshotRun& t) {
             for (int i = 0; i < 101; ++i) t.fake.AttributeFailures[t.fake.AddFile("", "b" + std::to_string(i), 1)] = EIO;
         },
         RunOutcome::TooManyErrors, "Processing directory /base",
         {{"Snapshot aborted due to excessive number of errors", false},
          {"Snapshot aborted due to excessive numbers of file errors", false}}},
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
         RunOutcome::Aborted, "Snapshot aborted", {{"Error processing file /base/twin size=1\nCode=Constraint", true}}},
        {"a refused Control row",
         [](SnapshotRun& t) {
             t.fake.AddFile("", "f", 1);
             Execute(t.state,
                 "CREATE TEMP TRIGGER refuse BEFORE INSERT ON Control BEGIN SELECT RAISE(ABORT, 'refused'); END");
         },
         RunOutcome::Failed, "Snapshot aborted", {{"Error writing to Control table. \nCode=Constraint", true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fake = FakeFileSystem();
        observer = RecordingObserver();
        c.Build(*this);
        RunResult r = Take();
        EXPECT_EQ(r.Outcome, c.Outcome);
        EXPECT_EQ(r.StatusText, c.Status);
        ASSERT_EQ(r.Messages.size(), c.Said.size());
        for (std::size_t i = 0; i < c.Said.size(); ++i) {
            EXPECT_TRUE(r.Messages[i].Text.starts_with(c.Said[i].first) && r.Messages[i].Warning == c.Said[i].second)
                << r.Messages[i].Text;
        }
        Execute(state, "DROP TRIGGER IF EXISTS temp.refuse");
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

// Bytes on disk as du counts them: the base's total is du -sB1 -x of the
// tree, and so is the figure of each directory whose files have no name
// outside it; a file of several names counts at its first name in row order
// (which a walk on threads keeps: ThreadedWalk). The apparent totals count
// every name, as they always have. Only the files whose figures cannot be
// told from their length have a Filedisk row.
TEST_F(SnapshotRun, BlocksOnDiskAreWhatDuCounts) {
    const std::string tree = RealTree();
    for (const char* dir : {"a/deep", "a/(files)", "b", "inner", "many"}) fs::create_directories(tree + "/" + dir);
    test::WriteFile(tree + "/a/shared.bin", std::string(50000, 's'));
    fs::create_hard_link(tree + "/a/shared.bin", tree + "/b/shared-link.bin");
    test::WriteFile(tree + "/a/deep/x", std::string(3000, 'x'));
    test::WriteFile(tree + "/a/(files)/y", std::string(3000, 'y'));
    test::WriteFile(tree + "/inner/big.bin", std::string(100000, 'b'));
    fs::create_hard_link(tree + "/inner/big.bin", tree + "/inner/big-link.bin");
    for (int i = 0; i < 40; ++i) test::WriteFile(tree + "/many/t" + std::to_string(i), std::string(i % 3, 't'));
    test::WriteFile(tree + "/sparse.img", "");
    fs::resize_file(tree + "/sparse.img", 64 << 20);
    test::WriteAt(tree + "/sparse.img", 32 << 20, std::string(5000, 'd'));
    fs::create_symlink("a/shared.bin", tree + "/link");

    request.Threads = 4;
    const RunResult r = Take();
    ASSERT_EQ(r.Outcome, RunOutcome::Completed);
    EXPECT_EQ(r.Counters.TotalBytes, 2 * 50000 + 2 * 3000 + 2 * 100000 + 39 + (64 << 20) + 12);
    EXPECT_EQ(Rows("SELECT Totdiskbytes FROM Diskusage"), std::to_string(test::DuBytes(tree)));
    auto onDisk = [&](const std::string& dir, const char* type = "2") {
        return std::stoll(Rows("SELECT Diskbytes FROM Dirdisk WHERE Dirname = '" + dir + "' AND Entrytype = '" + type + "'"));
    };
    for (const std::string& dir : {tree, tree + "/a/deep", tree + "/a/(files)", tree + "/inner", tree + "/many"}) {
        EXPECT_EQ(onDisk(dir), test::DuBytes(dir)) << dir;
    }
    // a's own files, beside its subdirectory of the same Dirname.
    EXPECT_EQ(onDisk(tree + "/a/(files)", "1"), test::DuBytes(tree + "/a/shared.bin"));
    // b's name of a's file comes later in row order.
    EXPECT_EQ(onDisk(tree + "/b"), test::DuBytes(tree + "/b") - test::DuBytes(tree + "/a/shared.bin"));
    // One name of each pair carries the blocks. A file of several names and
    // the sparse one have their Filedisk row; an ordinary file has none and
    // reads du's figure all the same.
    const FilediskSql terms = FilediskTerms({});
    auto file = [&](const std::string& dir, const std::string& name) {
        return Rows("SELECT " + terms.Diskbytes + " || ' ' || " + terms.Links +
                    " || ' ' || NOT EXISTS (SELECT 1 FROM Filedisk fd WHERE fd.Filedir = f.Filedir AND "
                    "fd.Filename = f.Filename) FROM files f" + terms.Joins + " WHERE f.Filedir = '" + dir +
                    "' AND f.Filename = '" + name + "'");
    };
    auto du = [](const std::string& path) { return std::to_string(test::DuBytes(path)); };
    EXPECT_EQ(file(tree + "/a", "shared.bin"), du(tree + "/a/shared.bin") + " 2 0");
    EXPECT_EQ(file(tree + "/b", "shared-link.bin"), "0 2 0");
    EXPECT_EQ(file(tree, "sparse.img"), du(tree + "/sparse.img") + " 1 0");
    EXPECT_EQ(file(tree + "/a/deep", "x"), du(tree + "/a/deep/x") + " 1 1");
    // The recorded total is every files row's, with a row or without.
    EXPECT_EQ(Rows("SELECT Filediskbytes = (SELECT sum(" + terms.Diskbytes + ") FROM files f" + terms.Joins +
                   ") FROM Diskusage"),
              "1");
    EXPECT_EQ(Rows("SELECT count(*) FROM Dirdisk"), Rows("SELECT count(*) FROM Dir"));
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
    EXPECT_GT(std::stoi(test::Query(state, "SELECT length(Filedir) FROM files WHERE Filename = 'deep.txt'")),
              4096);
}

// What the real du lists with these patterns: every entry below the base
// that it does not leave out, as a path below the base.
std::set<std::string> DuEntries(const std::string& base, const std::vector<std::string>& patterns) {
    std::string command = "cd '" + base + "' && du -a";
    for (const std::string& pattern : patterns) command += " --exclude='" + pattern + "'";
    std::set<std::string> entries;
    FILE* pipe = ::popen((command + " .").c_str(), "r");
    if (pipe == nullptr) return entries;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        text = text.substr(text.find('\t') + 1);
        text.pop_back();  // the line break
        if (text != ".") entries.insert(text.substr(2));  // after "./"
    }
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return entries;
}

// What a snapshot recorded below its base: each directory and each file row.
std::set<std::string> SnapshotEntries(SnapshotRun& t, const std::string& base, const DateTime& key) {
    std::set<std::string> entries;
    const std::string is = " Snapshot = '" + FormatKey(key) + "'";
    const std::string rows = t.Rows("SELECT Dirname FROM Dir WHERE Entrytype = '2' AND" + is +
                                    " UNION ALL SELECT Filedir || '/' || Filename FROM files WHERE" + is);
    for (std::size_t start = 0; start < rows.size();) {
        const std::size_t end = std::min(rows.find(',', start), rows.size());
        const std::string path = rows.substr(start, end - start);
        if (path != base) entries.insert(path.substr(base.size() + 1));
        start = end + 1;
    }
    return entries;
}

// Files and directories matching at several depths, names that only look
// alike, hidden ones: each pattern leaves out what du --exclude leaves out,
// whether the walk reads ahead on threads or not, and nothing of it counts.
// The exclusions are kept in the order given; the table comes with the first
// run that has any, and goes with its snapshot.
TEST_F(SnapshotRun, PatternsWithoutASlashLeaveOutWhatDuLeavesOut) {
    const std::string tree = RealTree();
    for (const char* dir : {"src/deep/cache", "src/objects.o", ".git/objects", "docs/cache-notes", "1st", "b1d"}) {
        fs::create_directories(tree + "/" + dir);
    }
    for (const char* file : {"main.o", "main.c", "cache", "src/x.o", "src/x.oo", "src/deep/y.o", "src/deep/bad",
                             "src/deep/bead", "src/deep/cache/data", "src/objects.o/inside", ".git/HEAD",
                             ".git/objects/ab", "docs/cache-notes/n.o", "docs/2nd.txt", "docs/.hidden", "1st/z"}) {
        test::WriteFile(tree + "/" + file, std::string(10, 'x'));
    }
    EXPECT_EQ(Rows("SELECT count(*) FROM sqlite_master WHERE name = 'Exclusion'"), "0");

    const std::vector<std::string> patterns{"*.o", "cache", ".git", "b?d", "[0-9]*", ".h*"};
    for (const std::string& pattern : patterns) request.Exclusions.push_back({ExclusionKind::Pattern, pattern});
    const std::set<std::string> du = DuEntries(tree, patterns);
    EXPECT_EQ(du, (std::set<std::string>{"main.c", "src", "src/x.oo", "src/deep", "src/deep/bead", "docs",
                                         "docs/cache-notes"}));
    DateTime last;
    for (int threads : {1, 4}) {
        request.Threads = threads;
        const RunResult r = Take();
        ASSERT_EQ(r.Outcome, RunOutcome::Completed);
        EXPECT_EQ(SnapshotEntries(*this, tree, r.Key), du) << threads << " threads";
        EXPECT_EQ(std::tuple(r.Counters.TotalDirs, r.Counters.TotalFiles, r.Counters.TotalBytes),
                  std::tuple(5, 3, 30.0));
        last = r.Key;
    }
    std::vector<Exclusion> read;
    ASSERT_TRUE(ReadExclusions(state, last, read).Ok());
    EXPECT_EQ(read, request.Exclusions);
    WaitUpTo noWait{std::chrono::milliseconds(0)};
    ASSERT_TRUE(DeleteSnapshot(state, last, noWait).Ok());
    EXPECT_EQ(Rows("SELECT count(*) FROM Exclusion WHERE Snapshot = '" + FormatKey(last) + "'"), "0");
}

// A pattern with a "/" is a path below the base, from its top. A directory
// tagged as a cache stays as an empty directory; a tag with another text, a
// link named as a tag, or a tag in the base itself leaves the walk as it is.
// What is left out is never read, so it makes no error either.
TEST_F(SnapshotRun, PathPatternsAndCacheTagsLeaveOutTheirEntriesAndNothingOfThemCounts) {
    const std::string tree = RealTree();
    const std::string tag = std::string(kCacheTagSignature) + "\n# a cache\n";
    for (const char* dir : {"build/tmp", "src/build/tmp", "src/tmp", "cache", "fake", "linked", "deep/er/tmp"}) {
        fs::create_directories(tree + "/" + dir);
    }
    for (const char* file : {"build/tmp/a", "build/b", "src/build/tmp/c", "src/tmp/d", "cache/e", "fake/f",
                             "linked/g", "deep/er/tmp/h", "deep/er/i"}) {
        test::WriteFile(tree + "/" + file, "123");
    }
    test::WriteFile(tree + "/CACHEDIR.TAG", tag);
    test::WriteFile(tree + "/cache/CACHEDIR.TAG", tag);
    test::WriteFile(tree + "/fake/CACHEDIR.TAG", "Signature: 8a477f597d28d172789f06886806bc5");
    fs::create_symlink("../cache/CACHEDIR.TAG", tree + "/linked/CACHEDIR.TAG");
    request.Exclusions = {{ExclusionKind::Pattern, "build/tmp"}, {ExclusionKind::Caches, ""},
                          {ExclusionKind::Pattern, "/src/tmp/"}, {ExclusionKind::Pattern, "*/er/tmp"}};
    const RunResult r = Take();
    ASSERT_EQ(r.Outcome, RunOutcome::Completed);
    EXPECT_EQ(SnapshotEntries(*this, tree, r.Key),
              (std::set<std::string>{"CACHEDIR.TAG", "build", "build/b", "src", "src/build", "src/build/tmp",
                                     "src/build/tmp/c", "cache", "fake", "fake/f", "fake/CACHEDIR.TAG", "linked",
                                     "linked/g", "linked/CACHEDIR.TAG", "deep", "deep/er", "deep/er/i"}));
    EXPECT_EQ(Rows("SELECT Files, TotsizeF FROM Dir WHERE Dirname = '" + tree + "/cache'"), "0|0.0");
    EXPECT_EQ(Rows("SELECT Kind, Pattern FROM Exclusion"),
              "pattern|build/tmp,caches|,pattern|/src/tmp/,pattern|*/er/tmp");

    // The fake file system fails on every read of these, were they read.
    Walk w;
    w.fs.AttributeFailures[w.fs.AddFile("", "core.o", 1)] = EIO;
    w.fs.OpenFailures[w.fs.AddDir("", "locked.o")] = EACCES;
    w.fs.AddFile("", "kept", 5);
    w.options.Exclusions = {{ExclusionKind::Pattern, "*.o"}, {ExclusionKind::Caches, ""}};
    const WalkResult walked = w.Run();
    EXPECT_TRUE(walked.ErrorList.empty());
    EXPECT_EQ(w.sink.Rows, (std::vector<std::string>{"D1 /base/(files) 1 5", "D2 /base 1 5"}));
}

}  // namespace
}  // namespace corvina
