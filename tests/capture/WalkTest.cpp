// The walk over an in-memory file system: rows and their order, counters,
// status and debug reports, abort, every error path, and a very deep tree.

#include <gtest/gtest.h>

#include <algorithm>

#include "FakeFileSystem.h"
#include "WalkTestSupport.h"
#include "tests/support/RecordingPrompter.h"

namespace corvina {
namespace {

using test::ExchangeSortNames;
using test::FakeFileSystem;
using test::RecordingObserver;
using test::RecordingPrompter;
using test::RecordingSink;
using Rows = std::vector<std::string>;

struct Walk {
    FakeFileSystem fs;
    RecordingSink sink;
    RecordingObserver observer;
    RecordingPrompter prompter;
    RunControl control;
    WalkOptions options;
    std::string base = "/base";

    explicit Walk(std::string root = "/base", char separator = '/') : fs(root, separator), base(root) {}
    WalkResult Run() { return WalkDirectory(base, options, fs, sink, control, observer, prompter); }
};

TEST(WalkRows, EmptyBaseGivesOnlyItsDirectoryEntry) {
    Walk w;
    WalkResult r = w.Run();
    EXPECT_EQ(w.sink.Rows, Rows({"D2 /base 0 0"}));
    EXPECT_EQ(r.Counters.TotalDirs, 1);
    EXPECT_EQ(r.Counters.TotalFiles, 0);
    EXPECT_TRUE(r.ErrorList.empty());
}

TEST(WalkRows, FilesThenFilesEntryThenSubtreesInNameOrderThenDirectoryEntry) {
    Walk w;
    w.options.CollectFiles = true;
    w.fs.AddFile("", "z.txt", 10);
    for (const char* name : {"b", "A", "_tmp", "c", "Zeta"}) w.fs.AddDir("", name);
    w.fs.AddFile("", "a.txt", 5);
    w.fs.AddFile("/base/A", "x", 7);
    w.fs.AddDir("/base/b", "deep");
    w.fs.AddFile("/base/b/deep", "y", 3);
    WalkResult r = w.Run();
    EXPECT_EQ(w.sink.Rows, Rows({"F z.txt 10 /base 0", "F a.txt 5 /base 0", "D1 /base/(files) 2 15",
                                 "F x 7 /base/A 0", "D1 /base/A/(files) 1 7", "D2 /base/A 1 7",
                                 "F y 3 /base/b/deep 0", "D1 /base/b/deep/(files) 1 3", "D2 /base/b/deep 1 3",
                                 "D2 /base/b 1 3",  // only subdirectories: no files entry, their sum
                                 "D2 /base/c 0 0", "D2 /base/Zeta 0 0", "D2 /base/_tmp 0 0", "D2 /base 4 25"}));
    EXPECT_EQ(r.Counters.TotalDirs, 7);
    EXPECT_EQ(r.Counters.TotalFiles, 4);
    EXPECT_EQ(r.Counters.TotalBytes, 25);
    EXPECT_EQ(r.Files, 4);
    EXPECT_EQ(r.Counters.CollectedFiles, 4);
    EXPECT_EQ(w.fs.OpenHandles(), 0);
    EXPECT_FALSE(w.fs.NestedListing());
    EXPECT_EQ(w.fs.MaxOpenHandles(), 3);  // the directories on the current path only
}

TEST(WalkRows, ThresholdCollectsFilesAtOrAboveIt) {
    Walk w;
    w.options.CollectFiles = true;
    w.options.SizeThreshold = 10;
    w.fs.AddFile("", "small", 9);
    w.fs.AddFile("", "equal", 10);
    w.fs.AddFile("", "large", 11);
    w.fs.AddFile("", ".hidden", 100, kAttrHidden);
    w.fs.AddFile("", "fifo", 0, kAttrSystem);
    WalkResult r = w.Run();
    EXPECT_EQ(w.sink.Rows, Rows({"F equal 10 /base 0", "F large 11 /base 0", "F .hidden 100 /base 2",
                                 "D1 /base/(files) 5 130", "D2 /base 5 130"}));
    EXPECT_EQ(r.Counters.CollectedFiles, 3);
    EXPECT_EQ(r.Counters.CollectedBytes, 121);
    EXPECT_EQ(r.Counters.TotalFiles, 5);

    Walk all;  // threshold 0: empty files too
    all.options.CollectFiles = true;
    all.fs.AddFile("", "empty", 0);
    EXPECT_EQ(all.Run().Counters.CollectedFiles, 1);
}

TEST(WalkRows, NoCollectionWritesNoFileRowsWhateverTheThreshold) {
    Walk w;
    w.fs.AddFile("", "f", 50);
    WalkResult r = w.Run();
    EXPECT_EQ(w.sink.Rows, Rows({"D1 /base/(files) 1 50", "D2 /base 1 50"}));
    EXPECT_EQ(r.Counters.CollectedFiles, 0);
    EXPECT_EQ(r.Counters.CollectedBytes, 0);
}

TEST(WalkRows, FilesOfTwoGibibytesAndMoreKeepTheirTrueSize) {
    Walk w;
    w.options.CollectFiles = true;
    const std::int64_t big = (std::int64_t{1} << 31), huge = std::int64_t{5} << 30;
    w.fs.AddFile("", "big", big);
    w.fs.AddFile("", "huge", huge);
    WalkResult r = w.Run();
    EXPECT_EQ(w.sink.Rows[0], "F big " + std::to_string(big) + " /base 0");
    EXPECT_EQ(w.sink.Rows[1], "F huge " + std::to_string(huge) + " /base 0");
    EXPECT_EQ(r.Counters.TotalBytes, static_cast<double>(big + huge));
}

TEST(WalkRows, EverySubdirectoryOfAWideDirectoryIsWalkedOnce) {
    Walk w;
    for (int i = 0; i < 600; ++i) w.fs.AddFile(w.fs.AddDir("", "d" + std::to_string(i)), "f", 1);
    WalkResult r = w.Run();
    EXPECT_EQ(r.Counters.TotalDirs, 601);
    EXPECT_EQ(w.sink.Rows.back(), "D2 /base 600 600");
    EXPECT_TRUE(r.ErrorList.empty());
}

TEST(WalkRows, RootOfEachPathStyle) {
    Walk posix("/");
    posix.fs.AddFile("", "f", 1);
    posix.fs.AddDir("", "data");
    posix.Run();
    EXPECT_EQ(posix.sink.Rows, Rows({"D1 /(files) 1 1", "D2 /data 0 0", "D2 / 1 1"}));

    Walk windows("C:", '\\');
    windows.options.Style = PathStyle::Windows;
    windows.fs.AddFile("", "f", 1);
    windows.fs.AddDir("", "Data");
    windows.Run();
    EXPECT_EQ(windows.sink.Rows, Rows({"D1 C:\\(files) 1 1", "D2 C:\\Data 0 0", "D2 C: 1 1"}));
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

TEST(WalkFileSystems, MountPointBelowIsAnEmptyDirectoryUnlessCrossing) {
    for (bool cross : {false, true}) {
        Walk w;
        w.options.CrossFileSystems = cross;
        std::string mnt = w.fs.AddDir("", "mnt", 2);
        w.fs.AddFile(mnt, "inside", 40);
        WalkResult r = w.Run();
        EXPECT_EQ(r.Counters.TotalDirs, 2);
        EXPECT_EQ(r.Counters.TotalFiles, cross ? 1 : 0);
        EXPECT_EQ(w.sink.Rows.back(), cross ? "D2 /base 1 40" : "D2 /base 0 0");
    }
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

TEST(WalkReports, DebugStopsOnlyAtDirectoriesWithSubdirectoriesListingAllEntries) {
    Walk w;
    w.control.DebugMode = true;
    w.fs.AddFile("", "f", 1, kAttrReadOnly + kAttrHidden);
    w.fs.AddDir("", "sub");
    w.fs.AddFile("/base/sub", "g", 1);
    w.Run();
    ASSERT_EQ(w.observer.DebugTitles, Rows({"Files within /base/"}));
    ASSERT_EQ(w.observer.DebugLists[0].size(), 2u);
    EXPECT_EQ(w.observer.DebugLists[0][0].Path, "/base/f");
    EXPECT_EQ(w.observer.DebugLists[0][0].Attributes, "3       ");
    EXPECT_EQ(w.observer.DebugLists[0][1].Path, "/base/sub");
    EXPECT_EQ(w.observer.DebugLists[0][1].Attributes, "16      ");
}

TEST(WalkReports, DebugAnswersSwitchOffAndAbort) {
    Walk off;
    off.control.DebugMode = true;
    off.observer.Answer = DebugAnswer::SwitchOff;
    off.fs.AddDir(off.fs.AddDir("", "a"), "b");
    off.fs.AddDir("/base/a/b", "c");
    off.Run();
    EXPECT_EQ(off.observer.DebugTitles.size(), 1u);
    EXPECT_FALSE(off.control.DebugMode.load());

    Walk stop;
    stop.control.DebugMode = true;
    stop.observer.Answer = DebugAnswer::Abort;
    stop.fs.AddFile("", "f", 4);
    stop.fs.AddDir("", "a");
    stop.Run();
    // Subdirectories return at once; the open directory still writes its entry.
    EXPECT_EQ(stop.sink.Rows, Rows({"D1 /base/(files) 1 4", "D2 /base 1 4"}));
    EXPECT_TRUE(stop.control.AbortFlag.load());
}

TEST(WalkAbort, AtTheFirstAndAMiddleDirectory) {
    Walk first;
    first.control.AbortFlag = true;
    first.fs.AddDir("", "a");
    EXPECT_EQ(first.Run().Counters.TotalDirs, 0);
    EXPECT_TRUE(first.sink.Rows.empty());

    Walk middle;
    for (const char* name : {"a", "b", "c"}) middle.fs.AddFile(middle.fs.AddDir("", name), "f", 1);
    middle.observer.AfterCounters = [&](const RunCounters&) { middle.control.AbortFlag = true; };
    middle.Run();
    EXPECT_EQ(middle.sink.Rows, Rows({"D1 /base/a/(files) 1 1", "D2 /base/a 1 1", "D2 /base 1 1"}));

}

TEST(WalkErrors, UnreadableEntriesAreListedAndTheWalkGoesOn) {
    Walk w;
    w.options.CollectFiles = true;
    w.fs.AddFile("", "gone", 5);
    w.fs.AddFile("", "nolength", 6);
    w.fs.AddFile("", "ok", 7);
    std::string locked = w.fs.AddDir("", "locked");
    w.fs.AddFile(locked, "hidden-by-lock", 100);
    std::string partial = w.fs.AddDir("", "partial");
    w.fs.AddFile(partial, "p", 1);
    w.fs.AttributeFailures["/base/gone"] = ENOENT;
    w.fs.LengthFailures["/base/nolength"] = EIO;
    w.fs.OpenFailures[locked] = EACCES;
    w.fs.ListingFailures[partial] = EIO;
    WalkResult r = w.Run();

    ASSERT_EQ(r.ErrorList.size(), 4u);
    EXPECT_EQ(r.ErrorList[0].File, "/base/gone");
    EXPECT_EQ(r.ErrorList[0].Error, "No such file or directory");
    EXPECT_EQ(r.ErrorList[1].File, "/base/nolength");
    EXPECT_EQ(r.ErrorList[2].File, "/base/locked/");
    EXPECT_EQ(r.ErrorList[2].Error, "Permission denied");
    EXPECT_EQ(r.ErrorList[3].File, "/base/partial/");
    EXPECT_EQ(w.sink.Rows, Rows({"F ok 7 /base 0", "D1 /base/(files) 1 7", "D2 /base/locked 0 0",
                                 "F p 1 /base/partial 0", "D1 /base/partial/(files) 1 1", "D2 /base/partial 1 1",
                                 "D2 /base 2 8"}));
    EXPECT_EQ(r.Counters.TotalDirs, 3);
    EXPECT_TRUE(w.prompter.Texts().empty());
}

TEST(WalkErrors, TheHundredAndFirstErrorEndsTheWalk) {
    Walk w;
    w.options.CollectFiles = true;
    std::string a = w.fs.AddDir("", "a");
    std::string b = w.fs.AddDir("", "b");
    for (int i = 0; i < 60; ++i) {
        w.fs.AttributeFailures[w.fs.AddFile(a, "x" + std::to_string(i), 1)] = EIO;
        w.fs.AttributeFailures[w.fs.AddFile(b, "y" + std::to_string(i), 1)] = EIO;
    }
    w.fs.AddDir("", "c");
    WalkResult r = w.Run();
    EXPECT_EQ(r.ErrorCount(), 101);
    EXPECT_EQ(r.ErrorList.back().File, "/base/b/y40");
    EXPECT_EQ(w.prompter.Texts(), Rows({"Snapshot aborted due to excessive number of errors"}));
    // Neither b, c nor the base got a directory entry.
    EXPECT_EQ(w.sink.Rows, Rows({"D2 /base/a 0 0"}));
}

TEST(WalkErrors, ARefusedRowStopsTheWalkLikeAnAbort) {
    Walk w;
    w.options.CollectFiles = true;
    w.fs.AddFile(w.fs.AddDir("", "a"), "f1", 1);
    w.fs.AddFile("/base/a", "f2", 1);
    w.fs.AddDir("", "b");
    w.sink.FailAtRow = 1;
    WalkResult r = w.Run();
    EXPECT_TRUE(r.RowFailed);
    EXPECT_TRUE(w.control.AbortFlag.load());
    EXPECT_EQ(w.sink.Rows, Rows({"F f1 1 /base/a 0"}));
    EXPECT_TRUE(r.ErrorList.empty());
}

// Counts what a walk of a chain (one subdirectory and one file per level)
// hands over, rather than keeping it: the paths of a deep chain as text would
// fill gigabytes.
class ChainRecorder final : public RowSink, public WalkObserver {
public:
    std::int64_t FileRows = 0, FilesEntries = 0, DirEntries = 0, Statuses = 0;
    std::size_t LongestName = 0, LongestStatus = 0;
    std::string LastName;  // the start of the last directory entry's name
    // A chain's entries: every files entry with one file before the first
    // directory entry, then the directory entries deepest first, the nth with n files.
    bool InChainOrder = true;

    bool FileRow(const FileRowInput&) override { return ++FileRows, true; }
    bool DirRow(std::string_view type, std::string_view name, std::int64_t files, double) override {
        LongestName = std::max(LongestName, name.size());
        if (type == "1") {
            InChainOrder = InChainOrder && DirEntries == 0 && files == 1;
            ++FilesEntries;
        } else {
            InChainOrder = InChainOrder && files == ++DirEntries;
            LastName = name.substr(0, 16);  // enough to tell the base from the rest, without copying deep paths
        }
        return true;
    }
    void OnStatus(const std::string& text) override {
        ++Statuses;
        LongestStatus = std::max(LongestStatus, text.size());
    }
    void OnCounters(const RunCounters&) override {}
    DebugAnswer OnDebugStop(const std::string&, const std::vector<DebugEntry>&) override {
        return DebugAnswer::Continue;
    }
};

TEST(WalkDepth, AHundredThousandLevelsAreWalkedInOrderWithinSeconds) {
    FakeFileSystem fs;
    fs.AddFile("", "f", 3);
    fs.AddChain("", "d", 100000, 3);
    ChainRecorder recorder;
    RecordingPrompter prompter;
    RunControl control;
    WalkOptions options;
    options.CollectFiles = true;
    WalkResult r = WalkDirectory("/base", options, fs, recorder, control, recorder, prompter);
    EXPECT_TRUE(r.ErrorList.empty());
    EXPECT_EQ(r.Counters.TotalDirs, 100001);
    EXPECT_EQ(r.Counters.TotalFiles, 100001);
    EXPECT_EQ(r.Counters.TotalBytes, 300003);
    EXPECT_EQ(r.Counters.CollectedFiles, 100001);
    EXPECT_EQ(recorder.FileRows, 100001);
    EXPECT_EQ(recorder.FilesEntries, 100001);
    EXPECT_EQ(recorder.DirEntries, 100001);
    EXPECT_TRUE(recorder.InChainOrder);
    EXPECT_EQ(recorder.LastName, "/base");
    EXPECT_EQ(recorder.LongestName, 200013u);    // "/base", 100,000 times "/d", "/(files)"
    EXPECT_EQ(recorder.Statuses, 100001);
    EXPECT_EQ(recorder.LongestStatus, 200026u);  // "Processing directory /base/d/.../d"
    EXPECT_EQ(fs.OpenHandles(), 0);
}

TEST(SortNames, UpperCasedByteOrder) {
    std::vector<std::string_view> names = {"b", "A", "c", "_tmp", "Zeta", "10", "2", "a b"};
    std::vector<std::size_t> order = SortNames(names);
    std::vector<std::string> sorted;
    for (std::size_t i : order) sorted.emplace_back(names[i]);
    EXPECT_EQ(sorted, Rows({"10", "2", "A", "a b", "b", "c", "Zeta", "_tmp"}));
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

}  // namespace
}  // namespace corvina
