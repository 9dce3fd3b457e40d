// The walk over an in-memory file system: rows and their order, counters,
// status and debug reports, abort, and every error path.

#include <gtest/gtest.h>

#include <algorithm>

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

    explicit Walk(std::string root = "/base") : fs(root), base(root) {}
    WalkResult Run() { return WalkDirectory(base, options, fs, sink, control, observer, prompter); }
};

// Each tree and options give these rows, in this order: a directory's files,
// its files entry, its subtrees in name order, then its own entry.
TEST(WalkRows, EachTreeGivesItsRowsInWalkOrder) {
    const std::int64_t big = std::int64_t{1} << 31, huge = std::int64_t{5} << 30;
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
        {"no collection", false,
         [](Walk& w) {
             w.options.CollectFiles = false;
             w.fs.AddFile("", "f", 50);
         },
         {"D1 /base/(files) 1 50", "D2 /base 1 50"}},
        {"two gibibytes and more", false,
         [&](Walk& w) {
             w.fs.AddFile("", "big", big);
             w.fs.AddFile("", "huge", huge);
         },
         {"F big 2147483648 /base 0", "F huge 5368709120 /base 0", "D1 /base/(files) 2 7516192768",
          "D2 /base 2 7516192768"}},
        {"mount point below: an empty directory", false,
         [](Walk& w) { w.fs.AddFile(w.fs.AddDir("", "mnt", 2), "inside", 40); }, {"D2 /base/mnt 0 0", "D2 /base 0 0"}},
        {"mount point crossed", false,
         [](Walk& w) {
             w.options.CrossFileSystems = true;
             w.fs.AddFile(w.fs.AddDir("", "mnt", 2), "inside", 40);
         },
         {"F inside 40 /base/mnt 0", "D1 /base/mnt/(files) 1 40", "D2 /base/mnt 1 40", "D2 /base 1 40"}},
        {"abort before the first directory", true,
         [](Walk& w) {
             w.control.AbortFlag = true;
             w.fs.AddDir("", "a");
         },
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
         [](Walk& w) {
             w.fs.AddFile("", "f", 1);
             w.fs.AddDir("", "data");
         },
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

    // Switched off at the first stop, there is no second.
    Walk off;
    off.control.DebugMode = true;
    off.observer.Answer = DebugAnswer::SwitchOff;
    off.fs.AddDir(off.fs.AddDir(off.fs.AddDir("", "a"), "b"), "c");
    off.Run();
    EXPECT_EQ(off.observer.DebugTitles.size(), 1u);
    EXPECT_FALSE(off.control.DebugMode.load());
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
