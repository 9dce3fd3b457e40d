// Each analysis on the crafted pair of /data, rows worked out by hand from the
// rows AddDataPair writes. Sizes are shown in bytes unless a test says otherwise.

#include <algorithm>
#include <limits>
#include <map>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/Trend.h"

#include "tests/analysis/SnapshotFixture.h"

namespace corvina::test {
namespace {

class AnalysisKinds : public SnapshotDatabaseTest {
protected:
    void SetUp() override {
        SnapshotDatabaseTest::SetUp();
        AddDataPair();
    }
};

// On disk (AddDataPairOnDisk) each kind keeps its columns and semantics and
// reads the blocks in place of the lengths, so that the order by size follows
// them (it's 50%_* before docs, b.doc before a.txt, C before TXT), docs/old
// shows as a change of its own files, and a share of a shrinking directory
// rounds down as a real does (-8.33 % is -9).
TEST_F(AnalysisKinds, EachKindGivesItsRowsAndTitleOnApparentSizesAndOnDisk) {
    // A snapshot of another base path also holds /data: the history leaves it out.
    AddSnapshot("2024-02-01 08:00:00", "/", PathStyle::Posix, {{"2", "/data", 1, 77}, {"2", "/", 1, 77}}, {});
    AddDataPairOnDisk();
    constexpr SizeBasis A = SizeBasis::Apparent, D = SizeBasis::Disk;
    const struct {
        SizeBasis Basis;
        AnalysisKind Kind;
        const char* Dir;
        bool Compare;
        const char* Title;  // nullptr: not checked
        bool Full;          // Rows holds the headings and total row too, else the detail rows
        Rows Expected;
    } cases[] = {
        {A, DirectoryDetails, "/data", false, "Analysis of directory /data", true,
         {{"Directory Name", "# of Files", "Total size (Bytes)   ", "% of Total"},
          {"Total for /data", "6", "13644", "100"},
          {"docs", "3", "8548", "62"},
          {"it's 50%_*", "1", "4096", "30"},
          {"(files)", "1", "1000", "7"}}},
        // The query has no order: its detail rows are compared sorted. The
        // total grew by -556, -4.07 % of the current size, shown -5; docs grew
        // by 4348, 50 % of its size and -782.01 % of the total growth.
        {A, CompareDirectories, "/data", true, "Compare /data from 1 Mar to 7 Mar", true,
         {{"Directory", "Size (7 Mar) (Bytes)   ", "Size (1 Mar) (Bytes)   ", "Increase (Bytes)   ", "% incr",
           "% of Total Incr"},
          {"Total for /data", "13644", "14200", "-556", "-5", "100"},
          {"(files)", "1000", "1000", "0", "0", "0"},
          {"docs", "8548", "4200", "4348", "50", "-783"}}},
        {A, NewDirectories, "/data", true, "Directories in 7 Mar and not in 1 Mar in /data (all files)", false,
         {{"it's 50%_*", "1", "4096"}}},
        {A, DeletedDirectories, "/data", true, "Directories in 1 Mar and not in 7 Mar in /data (all files)", false,
         {{"tmp", "1", "9000"}}},
        {A, DirectoryHistory, "/data", false, "History of /data", true,
         {{"Date", "# of files", "Size (Bytes)   "},
          {"2024-03-01 09:00 ", "5", "14200"},
          {"2024-03-07 14:05 ", "6", "13644"}}},
        // Own files: docs/old and /data unchanged, it's 50%_* new, tmp gone; the changes sum to the total.
        {A, WhereDidItGrow, "/data", true, "Where did /data grow from 1 Mar to 7 Mar", true,
         {{"Directory", "Change in files", "Change (Bytes)   ", "Size (7 Mar) (Bytes)   ", "Size (1 Mar) (Bytes)   "},
          {"Total for /data", "0", "-556", "13644", "14200"},
          {"/data/docs", "0", "4348", "8048", "3700"},
          {"/data/it's 50%_*", "1", "4096", "4096", "0"},
          {"/data/tmp", "-1", "-9000", "0", "9000"}}},
        // Each file's share is of the directory's own files.
        {A, FilesInDirectory, "/data/docs", false, "Files within directory /data/docs (all files)", true,
         {{"File", "Size(Bytes)   ", "File Date", "% of dir size"},
          {"Total for /data/docs", "8048", "  ", "100"},
          {"a.txt", "6000", "2024-03-05 09:30 ", "74"},
          {"b.doc", "2048", "2024-03-06 11:00 ", "25"}}},
        {A, FilesInTree, "/data/docs", false, "Files within /data/docs directory tree  (all files)", true,
         {{"File", "Directory", "Size(Bytes)   ", "File Date"},
          {"Total for /data/docs", " ", "8548", "  "},
          {"a.txt", "/data/docs", "6000", "2024-03-05 09:30 "},
          {"b.doc", "/data/docs", "2048", "2024-03-06 11:00 "},
          {"a.txt", "/data/docs/old", "500", "2024-03-02 12:00 "}}},
        // Ordered by compare minus current size.
        {A, ChangedFiles, "/data", true, nullptr, false,
         {{"a.txt", "/data/docs/old", "0", "500", "2024-03-02 12:00 ", "500", "2023-12-01 00:00 "},
          {"a.txt", "/data/docs", "-3000", "6000", "2024-03-05 09:30 ", "3000", "2024-02-10 08:00 "}}},
        {A, NewFiles, "/data", true, "Files in 7 Mar and not in 1 Mar in /data directory tree  (all files)", false,
         {{"x%_*.c", "/data/it's 50%_*", "4096", "2024-03-07 13:00 "},
          {"b.doc", "/data/docs", "2048", "2024-03-06 11:00 "}}},
        {A, DeletedFiles, "/data", true, nullptr, false,
         {{"t.log", "/data/tmp", "9000", "2024-02-20 10:00 "}, {"gone.txt", "/data/docs", "700", "2024-01-05 12:00 "}}},
        {A, FileTypeSummary, "/data", false, nullptr, true,
         {{"File Type", "# of files", "Size(Bytes)   "}, {"TXT", "3", "7500"}, {"C", "1", "4096"}, {"DOC", "1", "2048"}}},
        // A duplicate needs the name in two directories of the tree.
        {A, DuplicateFiles, "/data", false, nullptr, false,
         {{"a.txt", "/data/docs", "6000", "2024-03-05 09:30 "}, {"a.txt", "/data/docs/old", "500", "2024-03-02 12:00 "}}},
        {A, DuplicateFiles, "/data/docs/old", false, nullptr, false, {}},
        {A, RecentlyChangedFiles, "/data", false, "Recently changed files within /data directory tree  (all files)", false,
         {{"x%_*.c", "/data/it's 50%_*", "4096", "2024-03-07 13:00 "},
          {"b.doc", "/data/docs", "2048", "2024-03-06 11:00 "},
          {"a.txt", "/data/docs", "6000", "2024-03-05 09:30 "},
          {"a.txt", "/data/docs/old", "500", "2024-03-02 12:00 "},
          {"readme.txt", "/data", "1000", "2024-02-01 10:00 "}}},
        {D, DirectoryDetails, "/data", false, "Analysis of directory /data (on disk)", true,
         {{"Directory Name", "# of Files", "Total size (Bytes on disk)", "% of Total"},
          {"Total for /data", "6", "61440", "100"},
          {"it's 50%_*", "1", "28672", "46"},
          {"docs", "3", "24576", "40"},
          {"(files)", "1", "4096", "6"}}},
        {D, CompareDirectories, "/data", true, nullptr, true,
         {{"Directory", "Size (7 Mar) (Bytes on disk)", "Size (1 Mar) (Bytes on disk)", "Increase (Bytes on disk)",
           "% incr", "% of Total Incr"},
          {"Total for /data", "61440", "51200", "10240", "16", "100"},
          {"(files)", "4096", "4096", "0", "0", "0"},
          {"docs", "24576", "26624", "-2048", "-9", "-20"}}},
        {D, NewDirectories, "/data", true, nullptr, false, {{"it's 50%_*", "1", "28672"}}},
        {D, DeletedDirectories, "/data", true, nullptr, false, {{"tmp", "1", "16384"}}},
        {D, DirectoryHistory, "/data", false, "History of /data (on disk)", false,
         {{"2024-03-01 09:00 ", "5", "51200"}, {"2024-03-07 14:05 ", "6", "61440"}}},
        {D, WhereDidItGrow, "/data", true, "Where did /data grow from 1 Mar to 7 Mar (on disk)", true,
         {{"Directory", "Change in files", "Change (Bytes on disk)", "Size (7 Mar) (Bytes on disk)",
           "Size (1 Mar) (Bytes on disk)"},
          {"Total for /data", "0", "-2048", "32768", "34816"},
          {"/data/it's 50%_*", "1", "16384", "16384", "0"},
          {"/data/docs", "0", "-2048", "12288", "14336"},
          {"/data/docs/old", "0", "-4096", "0", "4096"},
          {"/data/tmp", "-1", "-12288", "0", "12288"}}},
        {D, FilesInDirectory, "/data/docs", false, "Files within directory /data/docs (all files) (on disk)", true,
         {{"File", "Size(Bytes on disk)", "File Date", "% of dir size"},
          {"Total for /data/docs", "12288", "  ", "100"},
          {"b.doc", "8192", "2024-03-06 11:00 ", "66"},
          {"a.txt", "4096", "2024-03-05 09:30 ", "33"}}},
        {D, FilesInTree, "/data/docs", false, nullptr, true,
         {{"File", "Directory", "Size(Bytes on disk)", "File Date"},
          {"Total for /data/docs", " ", "24576", "  "},
          {"b.doc", "/data/docs", "8192", "2024-03-06 11:00 "},
          {"a.txt", "/data/docs", "4096", "2024-03-05 09:30 "},
          {"a.txt", "/data/docs/old", "0", "2024-03-02 12:00 "}}},
        {D, ChangedFiles, "/data", true, nullptr, false,
         {{"a.txt", "/data/docs/old", "4096", "0", "2024-03-02 12:00 ", "4096", "2023-12-01 00:00 "},
          {"a.txt", "/data/docs", "0", "4096", "2024-03-05 09:30 ", "4096", "2024-02-10 08:00 "}}},
        {D, NewFiles, "/data", true, nullptr, false,
         {{"x%_*.c", "/data/it's 50%_*", "16384", "2024-03-07 13:00 "},
          {"b.doc", "/data/docs", "8192", "2024-03-06 11:00 "}}},
        {D, DeletedFiles, "/data", true, nullptr, false,
         {{"t.log", "/data/tmp", "12288", "2024-02-20 10:00 "}, {"gone.txt", "/data/docs", "10240", "2024-01-05 12:00 "}}},
        {D, FileTypeSummary, "/data", false, nullptr, false, {{"C", "1", "16384"}, {"DOC", "1", "8192"}, {"TXT", "3", "8192"}}},
        {D, DuplicateFiles, "/data", false, nullptr, false,
         {{"a.txt", "/data/docs", "4096", "2024-03-05 09:30 "}, {"a.txt", "/data/docs/old", "0", "2024-03-02 12:00 "}}},
        {D, RecentlyChangedFiles, "/data", false, nullptr, false,
         {{"x%_*.c", "/data/it's 50%_*", "16384", "2024-03-07 13:00 "},
          {"b.doc", "/data/docs", "8192", "2024-03-06 11:00 "},
          {"a.txt", "/data/docs", "4096", "2024-03-05 09:30 "},
          {"a.txt", "/data/docs/old", "0", "2024-03-02 12:00 "},
          {"readme.txt", "/data", "4096", "2024-02-01 10:00 "}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(static_cast<int>(c.Kind)) + " " + c.Dir + (c.Basis == D ? " on disk" : ""));
        AnalysisState state =
            StateFor(c.Kind, kPrime, c.Compare ? kCompare : nullptr, c.Dir, PathStyle::Posix, 'B', c.Basis);
        Rows rows = c.Full ? Run(state) : Details(state);
        if (c.Kind == CompareDirectories) std::sort(rows.begin() + grid_.FixedRows(), rows.end());
        EXPECT_EQ(rows, c.Expected);
        EXPECT_FALSE(outcome_.MissingFigures);
        if (c.Title != nullptr) {
            EXPECT_EQ(outcome_.Title, c.Title);
        }
    }
}

// Snapshots taken before on-disk figures, in a database without their tables
// and beside snapshots with them: no figure is made up, every size on disk of
// theirs is "—" (a share of one too), and the run says it showed some.
TEST_F(AnalysisKinds, SnapshotsWithoutOnDiskFiguresShowNone) {
    const std::string none(kNoFigure);
    auto onDisk = [&](AnalysisKind kind, const char* key, const char* dir) {
        return Run(StateFor(kind, key, nullptr, dir, PathStyle::Posix, 'B', SizeBasis::Disk));
    };
    // No table of on-disk figures at all: the names come in their own order.
    EXPECT_EQ(onDisk(DirectoryDetails, kPrime, "/data"),
              (Rows{{"Directory Name", "# of Files", "Total size (Bytes on disk)", "% of Total"},
                    {"Total for /data", "6", none, none},
                    {"(files)", "1", none, none},
                    {"docs", "3", none, none},
                    {"it's 50%_*", "1", none, none}}));
    EXPECT_TRUE(outcome_.MissingFigures);
    EXPECT_EQ(onDisk(FileTypeSummary, kPrime, "/data"),
              (Rows{{"File Type", "# of files", "Size(Bytes on disk)"}, {"C", "1", none}, {"DOC", "1", none},
                    {"TXT", "3", none}}));
    EXPECT_EQ(onDisk(FilesInTree, kPrime, "/data/docs")[2], (std::vector<std::string>{"a.txt", "/data/docs", none,
                                                                                        "2024-03-05 09:30 "}));
    EXPECT_EQ(onDisk(DuplicateFiles, kPrime, "/data")[1][2], none);
    // The same on apparent sizes shows every figure and marks nothing.
    EXPECT_EQ(Run(StateFor(DirectoryDetails, kPrime, nullptr, "/data"))[1][2], "13644");
    EXPECT_FALSE(outcome_.MissingFigures);

    // Beside snapshots that have them, an older one shows none of its own.
    AddDataPairOnDisk();
    AddSnapshot("2024-02-01 08:00:00", "/data", PathStyle::Posix, {{"1", "/data/(files)", 1, 77}, {"2", "/data", 1, 77}},
                {});
    EXPECT_EQ(onDisk(DirectoryHistory, kPrime, "/data"),
              (Rows{{"Date", "# of files", "Size (Bytes on disk)"},
                    {"2024-02-01 08:00 ", "1", none},
                    {"2024-03-01 09:00 ", "5", "51200"},
                    {"2024-03-07 14:05 ", "6", "61440"}}));
    EXPECT_TRUE(outcome_.MissingFigures);
    EXPECT_EQ(onDisk(DirectoryDetails, "2024-02-01 08:00:00", "/data")[2],
              (std::vector<std::string>{"(files)", "1", none, none}));
}

// The trend on disk draws no point for a snapshot without figures and looks
// for its top grower between the first and the last that have them.
TEST_F(AnalysisKinds, TrendOnDiskSkipsSnapshotsWithoutFigures) {
    AddSnapshot("2024-02-01 08:00:00", "/data", PathStyle::Posix, {{"1", "/data/(files)", 1, 77}, {"2", "/data", 1, 77}},
                {});
    auto trend = [&](SizeBasis basis) {
        TrendReport report;
        report.BasePath = report.Directory = "/data";
        report.Basis = basis;
        EXPECT_TRUE(ReadTrend(db_, "/data", "/data", PathStyle::Posix, std::nullopt, report.Points, basis).Ok());
        EXPECT_TRUE(CompleteTrend(db_, messages_, report).Ok());
        return report;
    };
    AddDataPairOnDisk();
    const TrendReport report = trend(SizeBasis::Disk);
    const std::vector<std::vector<std::string>> cells = TrendCells(report.Points, 'B', SizeBasis::Disk);
    EXPECT_EQ(std::tie(cells[1][2], cells[2][2], cells[3][2]),
              std::tuple(std::string(kNoFigure), "51200", "61440"));
    EXPECT_EQ(GrowerSummary(report), "Top grower: /data/it's 50%_* (+16384 bytes)");
    // On apparent sizes the grower is looked for from the oldest snapshot on.
    EXPECT_EQ(GrowerSummary(trend(SizeBasis::Apparent)), "Top grower: /data/docs (+8048 bytes)");
    EXPECT_TRUE(prompter_.Texts().empty());
}

// In kilobytes: "Where did it grow" drops a change's fraction towards zero,
// so that swapping the snapshots turns each sign and nothing else; the
// comparison of the directories keeps rounding down (-556 bytes is -1 KB).
TEST_F(AnalysisKinds, GrowthChangesRoundTowardsZeroWhileComparisonsRoundDown) {
    const auto changes = [&](const char* prime, const char* compare) {
        std::map<std::string, std::string> byDirectory;
        for (const auto& row : Details(StateFor(WhereDidItGrow, prime, compare, "/data", PathStyle::Posix, 'K'))) {
            byDirectory[row[0]] = row[2];
        }
        byDirectory["total"] = grid_.Cell(1, 2);
        return byDirectory;
    };
    using Changes = std::map<std::string, std::string>;
    EXPECT_EQ(changes(kPrime, kCompare),
              (Changes{{"total", "0"}, {"/data/docs", "4"}, {"/data/it's 50%_*", "4"}, {"/data/tmp", "-8"}}));
    EXPECT_EQ(changes(kCompare, kPrime),
              (Changes{{"total", "0"}, {"/data/docs", "-4"}, {"/data/it's 50%_*", "-4"}, {"/data/tmp", "8"}}));
    const Rows compared = Run(StateFor(CompareDirectories, kPrime, kCompare, "/data", PathStyle::Posix, 'K'));
    EXPECT_EQ(compared[1][3], "-1");
}

// Differences and sums of sizes at the 64-bit limits need 65 bits and more:
// shown whole, in any unit, and ordered by their true values.
TEST_F(AnalysisKinds, SizesAtThe64BitLimitsSubtractAndAddExactly) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max(), kMin = -kMax - 1;
    const char *now = "2024-04-02 00:00:00", *then = "2024-04-01 00:00:00", *date = "2024-03-01 00:00:00";
    AddSnapshot(then, "/w", PathStyle::Posix, {{"2", "/w", 2, 0}},
                {{"/w", "x.big", kMax, date}, {"/w", "y.big", kMin, date}});
    AddSnapshot(now, "/w", PathStyle::Posix, {{"2", "/w", 4, 0}},
                {{"/w", "x.big", kMin, date}, {"/w", "y.big", kMax, date}, {"/w", "z.big", kMax, date},
                 {"/w", "zz.big", kMax, date}});
    const std::string d = "2024-03-01 00:00 ";
    const struct {
        AnalysisKind Kind;
        char Unit;
        Rows Expected;
    } cases[] = {
        {ChangedFiles, 'B',
         {{"x.big", "/w", "18446744073709551615", "-9223372036854775808", d, "9223372036854775807", d},
          {"y.big", "/w", "-18446744073709551615", "9223372036854775807", d, "-9223372036854775808", d}}},
        {ChangedFiles, 'K',
         {{"x.big", "/w", "18014398509481983", "-9007199254740992", d, "9007199254740991", d},
          {"y.big", "/w", "-18014398509481984", "9007199254740991", d, "-9007199254740992", d}}},
        {FileTypeSummary, 'B', {{"BIG", "4", "18446744073709551613"}}},
        {FileTypeSummary, 'M', {{"BIG", "4", "17592186044415"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(EntryOf(c.Kind).Name) + " " + c.Unit);
        EXPECT_EQ(Details(StateFor(c.Kind, now, then, "/w", PathStyle::Posix, c.Unit)), c.Expected);
    }
}

TEST_F(AnalysisKinds, EmptyResultsKeepOnlyTheFixedRows) {
    // /data/docs/old has no subdirectories: its files entry is its one child.
    EXPECT_EQ(Run(StateFor(DirectoryDetails, kPrime, nullptr, "/data/docs/old")).size(), 3u);
    EXPECT_EQ(Run(StateFor(DirectoryDetails, kPrime, nullptr, "/data/docs/old/(files)")).size(), 2u);
    EXPECT_EQ(grid_.FixedRows(), 2);
    EXPECT_EQ(Run(StateFor(NewFiles, kPrime, kPrime, "/data")).size(), 1u);
    EXPECT_EQ(grid_.FixedRows(), 1);
    EXPECT_EQ(settings_.LastResultRow, 0);
    EXPECT_EQ(settings_.ResultTruncated, Truncation::None);
}

}  // namespace
}  // namespace corvina::test
