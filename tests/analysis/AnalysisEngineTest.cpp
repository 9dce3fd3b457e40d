// The analysis engine below the table of kinds: which rows "the directory and
// everything below it" selects (bounded by the separator, exact about case
// with POSIX paths, blind to it with Windows paths, indifferent to quotes and
// wildcards), how names are paired, the grid filling rules (row limit,
// percentages, chart data, sorting, titles), the chart's value axis, and the
// session as the window and the tool drive it.

#include <map>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisQuery.h"
#include "analysis/AnalysisSession.h"
#include "analysis/ChartAxis.h"
#include "analysis/ChartData.h"
#include "analysis/DirectoryChildren.h"
#include "analysis/GridFill.h"
#include "store/Statement.h"
#include "tests/analysis/SnapshotFixture.h"

namespace corvina::test {
namespace {

constexpr const char* kRootKey = "2024-04-01 00:00:00";
constexpr const char* kDriveKey = "2024-05-01 00:00:00";

class TreeMatch : public SnapshotDatabaseTest {
protected:
    void SetUp() override {
        SnapshotDatabaseTest::SetUp();
        // A snapshot of the POSIX root with siblings that share a prefix.
        AddSnapshot(kRootKey, "/", PathStyle::Posix,
                    {{"1", "/data/sub/(files)", 1, 200}, {"2", "/data/sub", 1, 200},
                     {"1", "/data/(files)", 1, 100},     {"2", "/data", 2, 300},
                     {"1", "/data2/(files)", 1, 300},    {"2", "/data2", 1, 300},
                     {"1", "/database/(files)", 1, 400}, {"2", "/database", 1, 400},
                     {"1", "/Data/(files)", 1, 500},     {"2", "/Data", 1, 500},
                     {"1", "/data-x/(files)", 1, 600},   {"2", "/data-x", 1, 600},
                     {"1", "/(files)", 1, 5},            {"2", "/", 7, 2105}},
                    {{"/data", "f1", 100, "2024-01-01 00:00:00"},
                     {"/data/sub", "f2", 200, "2024-01-02 00:00:00"},
                     {"/data2", "g", 300, "2024-01-03 00:00:00"},
                     {"/database", "h", 400, "2024-01-04 00:00:00"},
                     {"/Data", "k", 500, "2024-01-05 00:00:00"},
                     {"/data-x", "m", 600, "2024-01-06 00:00:00"},
                     {"/", "top", 5, "2024-01-07 00:00:00"}});
        // A snapshot of a Windows drive.
        AddSnapshot(kDriveKey, "C:", PathStyle::Windows,
                    {{"1", "C:\\data\\sub\\(files)", 1, 50}, {"2", "C:\\data\\sub", 1, 50},
                     {"1", "C:\\data\\(files)", 1, 100},     {"2", "C:\\data", 2, 150},
                     {"1", "C:\\data2\\(files)", 1, 300},    {"2", "C:\\data2", 1, 300},
                     {"2", "C:", 3, 450}},
                    {{"C:\\data", "f1", 100, "2024-01-01 00:00:00"},
                     {"C:\\data\\sub", "x", 50, "2024-01-02 00:00:00"},
                     {"C:\\data2", "g", 300, "2024-01-03 00:00:00"}});
    }

    std::vector<std::string> FileNames(AnalysisKind kind, const char* key, const std::string& dir, PathStyle style) {
        std::vector<std::string> names;
        for (const auto& row : Details(StateFor(kind, key, nullptr, dir, style))) names.push_back(row[0]);
        return names;
    }
};

TEST_F(TreeMatch, TreeStopsAtTheSeparatorAndComparesCaseAsItsPathStyleDoes) {
    using V = std::vector<std::string>;
    const struct {
        AnalysisKind Kind;
        const char* Key;
        const char* Dir;
        PathStyle Style;
        V Names;
    } cases[] = {
        {FilesInTree, kRootKey, "/data", PathStyle::Posix, {"f2", "f1"}},
        {RecentlyChangedFiles, kRootKey, "/data", PathStyle::Posix, {"f2", "f1"}},
        {FileTypeSummary, kRootKey, "/data", PathStyle::Posix, {""}},  // one type: none, of 2 files
        {FilesInTree, kRootKey, "/", PathStyle::Posix, {"m", "k", "h", "g", "f2", "f1", "top"}},
        {FilesInDirectory, kRootKey, "/", PathStyle::Posix, {"top"}},
        {FilesInTree, kRootKey, "/Data", PathStyle::Posix, {"k"}},
        {FilesInDirectory, kRootKey, "/DATA", PathStyle::Posix, {}},
        {FilesInTree, kDriveKey, "C:\\DATA", PathStyle::Windows, {"f1", "x"}},
        {FilesInTree, kDriveKey, "C:", PathStyle::Windows, {"g", "f1", "x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Dir);
        EXPECT_EQ(FileNames(c.Kind, c.Key, c.Dir, c.Style), c.Names);
        if (c.Kind == FileTypeSummary) {
            EXPECT_EQ(grid_.Cell(1, 1), "2");
        }
    }
    // Five directories and the root's own files.
    EXPECT_EQ(Details(StateFor(DirectoryDetails, kRootKey, nullptr, "/")).size(), 6u);
    EXPECT_EQ(grid_.Cell(1, 0), "Total for /");
    // The total row of the files analysis reads the files entry whatever the case.
    Rows rows = Run(StateFor(FilesInDirectory, kDriveKey, nullptr, "C:\\Data", PathStyle::Windows));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"Total for C:\\Data", "100", "  ", "100"}));
    EXPECT_EQ(Details(StateFor(DirectoryDetails, kDriveKey, nullptr, "c:", PathStyle::Windows)).size(), 2u);
}

TEST_F(TreeMatch, GrowthOfTheRootTreeTakesEveryDirectoryAndStopsAtTheSeparator) {
    AddSnapshot("2024-04-02 00:00:00", "/", PathStyle::Posix,
                {{"1", "/data/(files)", 1, 100}, {"1", "/data2/(files)", 1, 350}, {"1", "/(files)", 2, 25}}, {});
    for (const char* dir : {"/", "/data"}) {
        std::string names;
        for (const auto& row : Details(StateFor(WhereDidItGrow, "2024-04-02 00:00:00", kRootKey, dir))) names += row[0] + " ";
        EXPECT_EQ(names, dir[1] == '\0' ? "/data2 / /data/sub /database /Data /data-x " : "/data/sub ");
    }
}

TEST_F(TreeMatch, QuotesAndWildcardsInNamesAreOrdinaryCharacters) {
    AddDataPair();
    Rows rows = Run(StateFor(FilesInDirectory, kPrime, nullptr, "/data/it's 50%_*"));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"Total for /data/it's 50%_*", "4096", "  ", "100"}));
    EXPECT_EQ(rows[2][0], "x%_*.c");
    // "_" and "%" match only themselves: /data/it's 50%_* is not a pattern
    // for /data/docs or anything else.
    EXPECT_EQ(Details(StateFor(FilesInTree, kPrime, nullptr, "/data/it's 50%_*")).size(), 1u);
    EXPECT_TRUE(Details(StateFor(FilesInTree, kPrime, nullptr, "/data/%")).empty());
    EXPECT_TRUE(Details(StateFor(FilesInTree, kPrime, nullptr, "/data/_ocs")).empty());
    EXPECT_EQ(Details(StateFor(DirectoryHistory, kPrime, nullptr, "/data/it's 50%_*")).size(), 1u);
}

// The change and duplicate lists pair files up by name outside the engine:
// they must compare names exactly as the queries would. Windows pairs names
// that differ only in case; POSIX keeps case, so /p/b/f is new (F was another
// file), and the changes come by change (g shrank by 5), then path.
class NamePairing : public SnapshotDatabaseTest {};

TEST_F(NamePairing, ChangesAndDuplicatesPairNamesAsTheirPathStyleComparesThem) {
    const char *before = "2024-01-01 00:00:00", *after = "2024-01-05 00:00:00";
    const struct {
        PathStyle Style;
        const char* Base;
        std::vector<FileRow> Compare, Prime;
        std::vector<std::string> Changed, Duplicates;
    } cases[] = {
        {PathStyle::Windows, "C:", {{"C:\\Docs", "Report.TXT", 10, before}, {"C:\\Tmp", "x", 20, before}},
         {{"C:\\docs", "report.txt", 15, before}, {"C:\\Tmp", "X", 20, before}, {"C:\\Tmp", "REPORT.txt", 25, before}},
         {"C:\\docs\\report.txt -5"}, {"C:\\docs\\report.txt", "C:\\Tmp\\REPORT.txt"}},
        {PathStyle::Posix, "/p",
         {{"/p/a", "f", 10, before}, {"/p/A", "f", 10, before}, {"/p/b", "F", 10, before}, {"/p/b", "g", 10, before}},
         {{"/p/a", "f", 10, after}, {"/p/A", "f", 10, after}, {"/p/b", "f", 10, before}, {"/p/b", "g", 5, before}},
         {"/p/b/g 5", "/p/A/f 0", "/p/a/f 0"}, {"/p/A/f", "/p/a/f", "/p/b/f"}},
    };
    const char *compareKey = "2024-01-01 00:00:00", *primeKey = "2024-02-01 00:00:00";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Base);
        const std::string sep(1, Separator(c.Style));
        AddSnapshot(compareKey, c.Base, c.Style, {{"2", c.Base, 4, 40}}, c.Compare);
        AddSnapshot(primeKey, c.Base, c.Style, {{"2", c.Base, 4, 40}}, c.Prime);
        std::vector<std::string> changed, duplicates;
        for (const auto& row : Details(StateFor(ChangedFiles, primeKey, compareKey, c.Base, c.Style))) {
            changed.push_back(row[1] + sep + row[0] + " " + row[2]);
        }
        for (const auto& row : Details(StateFor(DuplicateFiles, primeKey, nullptr, c.Base, c.Style))) {
            duplicates.push_back(row[1] + sep + row[0]);
        }
        EXPECT_EQ(changed, c.Changed);
        EXPECT_EQ(duplicates, c.Duplicates);
        WaitUpTo noWait(std::chrono::milliseconds(0));
        ASSERT_TRUE(DeleteSnapshots(db_, {Key(compareKey), Key(primeKey)}, noWait).Ok());
    }
}

// The comparisons read both snapshots in key order and pair them in one pass.
// "[", "_" lie between "Z" and "a" in bytes but before every letter under
// NOCASE, so a merge reading one order and comparing in the other mis-pairs.
// On disk (a thousand times the lengths) each side's sizes are read beside it
// in its key order: the same files pair up, and show their blocks.
TEST_F(NamePairing, MergesPairAcrossNamesThatSortApartUnderBytesAndNocaseOnEitherBasis) {
    struct Case {
        PathStyle Style;
        std::string Base;
        const char *Key, *CompareKey;
        std::vector<std::string> Changed, New, Deleted;
    };
    const Case cases[] = {
        {PathStyle::Posix, "/p", "2024-02-01 00:00:00", "2024-01-01 00:00:00", {"/p/_/_a 36", "/p/Q/Zz 18"}, {"/p/_/c 6", "/p/Q/B 1"}, {"/p/_/C 6", "/p/Q/b 1"}},
        {PathStyle::Windows, "C:", "2024-04-01 00:00:00", "2024-03-01 00:00:00", {"C:\\_\\_a 36", "C:\\Q\\Zz 18"}, {}, {}},
    };
    for (const Case& c : cases) {
        const char sep = Separator(c.Style);
        const std::string q = c.Base + sep + "Q", u = c.Base + sep + "_";
        const std::pair<const char*, std::vector<FileRow>> sides[] = {
            {c.Key, {{q, "B", 1}, {q, "Zz", 2}, {u, "[x", 3}, {u, "_a", 4}, {u, "a", 5}, {u, "c", 6}}},
            {c.CompareKey, {{q, "b", 1}, {q, "Zz", 20}, {u, "[x", 3}, {u, "_a", 40}, {u, "a", 5}, {u, "C", 6}}}};
        for (const auto& [key, files] : sides) {
            AddSnapshot(key, c.Base, c.Style, {{"2", c.Base, 6, 21}}, files);
            DiskRows disk{.Key = key, .Total = 0, .Dirs = {}, .Files = {}};
            for (const FileRow& file : files) disk.Files.push_back({file.Dir, file.Name, file.Size * 1000});
            AddDiskRows(db_, disk);
        }
        for (const SizeBasis basis : {SizeBasis::Apparent, SizeBasis::Disk}) {
            SCOPED_TRACE(c.Base + (basis == SizeBasis::Disk ? " on disk" : ""));
            const std::string scale = basis == SizeBasis::Disk ? "000" : "";
            auto listed = [&](AnalysisKind kind) {
                std::vector<std::string> rows;
                for (const auto& row : Details(StateFor(kind, c.Key, c.CompareKey, c.Base, c.Style, 'B', basis)))
                    rows.push_back(row[1] + sep + row[0] + " " + row[2]);
                return rows;
            };
            auto scaled = [&](std::vector<std::string> rows) {
                for (std::string& row : rows) row += scale;
                return rows;
            };
            EXPECT_EQ(listed(ChangedFiles), scaled(c.Changed));
            EXPECT_EQ(listed(NewFiles), scaled(c.New));
            EXPECT_EQ(listed(DeletedFiles), scaled(c.Deleted));
        }
    }
}

constexpr const char* kKey = "2024-06-01 12:00:00";

class GridFill : public SnapshotDatabaseTest {};

// Each kind on 1,001 records: without a limit every record shows; a limit at
// the last record's row shows them all, one row fewer cuts the last, and the
// outcome says so. Below /t a place per kind: directories of both snapshots,
// of one (new, gone), changed, new and deleted files, types, duplicate names
// (three f0, two of every other), and /t's history. A session tells of the
// cut at the window's 1000 rows as it runs, and warns before it sorts the cut
// result anyway.
TEST_F(GridFill, EveryKindSaysItsRecordsWereCutAndShowsThemAllWithoutALimit) {
    constexpr int kRecords = 1001;
    // A thousand commits: a file need not wait for the disk each time.
    if (!OnServer()) {
        ASSERT_TRUE(Execute(db_, "PRAGMA synchronous = OFF").Ok());
    }
    std::vector<DirRow> prime{{"2", "/t", 1, 1}, {"2", "/t/files", kRecords, 1}, {"1", "/t/files/(files)", kRecords, 1}},
        compare{{"2", "/t", 1, 1}};
    std::vector<FileRow> primeFiles{{"/t/dup/c", "f0", 1}}, compareFiles;
    const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // a type has 3 characters at most
    for (int i = 0; i < kRecords; ++i) {
        const std::string n = std::to_string(i);
        prime.insert(prime.end(), {{"2", "/t/both/d" + n, 1, 1},
                                   {"2", "/t/new/d" + n, 1, 1},
                                   {"1", "/t/new/d" + n + "/(files)", 1, 1}});
        compare.insert(compare.end(), {{"2", "/t/both/d" + n, 1, 2}, {"2", "/t/gone/d" + n, 1, 1}});
        primeFiles.insert(primeFiles.end(), {{"/t/files", "f" + n, i}, {"/t/newf", "f" + n, i},
                                             {"/t/types", std::string("f.") + digits[i / 36] + digits[i % 36], i}});
        if (i + 1 < kRecords) primeFiles.push_back({i % 2 ? "/t/dup/b" : "/t/dup/a", "f" + std::to_string(i / 2), i});
        compareFiles.insert(compareFiles.end(), {{"/t/files", "f" + n, i + 1}, {"/t/gonef", "f" + n, i}});
    }
    AddSnapshot(kPrime, "/t", PathStyle::Posix, prime, primeFiles);
    AddSnapshot(kCompare, "/t", PathStyle::Posix, compare, compareFiles);
    for (int day = 0; day + 2 < kRecords; ++day) {
        const std::string key = FormatKey(DateTime::FromUnix(1600000000 + 86400LL * day));
        AddSnapshot(key.c_str(), "/t", PathStyle::Posix, {{"2", "/t", 1, 1}}, {});
    }
    const std::map<AnalysisKind, const char*> places{
        {DirectoryDetails, "/t/both"},  {CompareDirectories, "/t/both"}, {NewDirectories, "/t/new"},
        {DeletedDirectories, "/t/gone"}, {DirectoryHistory, "/t"},       {WhereDidItGrow, "/t/new"},
        {FilesInDirectory, "/t/files"},  {FilesInTree, "/t/files"},      {ChangedFiles, "/t/files"},
        {NewFiles, "/t/newf"},           {DeletedFiles, "/t/gonef"},     {FileTypeSummary, "/t/types"},
        {DuplicateFiles, "/t/dup"},      {RecentlyChangedFiles, "/t/files"}};
    ASSERT_EQ(places.size(), AnalysisCatalogue().size());
    for (const auto& [kind, place] : places) {
        SCOPED_TRACE(std::string(EntryOf(kind).Name));
        AnalysisState state = StateFor(kind, kPrime, EntryOf(kind).NeedsCompare ? kCompare : nullptr, place);
        state.RowLimit = 0;
        Run(state);
        const int all = settings_.LastResultRow;
        EXPECT_EQ(std::tie(all, settings_.ResultTruncated, outcome_.Truncated),
                  std::tuple(settings_.FirstDetailRow - 1 + kRecords, Truncation::None, Truncation::None));
        for (int limit : {all, all - 1}) {
            state.RowLimit = limit;
            Run(state);
            const Truncation cut = limit < all ? Truncation::AtRowLimit : Truncation::None;
            EXPECT_EQ(std::tie(settings_.LastResultRow, settings_.ResultTruncated, outcome_.Truncated),
                      std::tuple(limit, cut, cut));
        }
    }

    AnalysisSession session(db_, messages_);
    ASSERT_TRUE(session.ChoosePrime(Key(kPrime)).Ok());
    bool found = false;
    ASSERT_TRUE(session.SelectDirectory("/t/files", found).Ok() && found);
    session.SetKind(FilesInDirectory);
    session.Run();
    session.SortOnColumn(0);
    EXPECT_EQ(prompter_.Texts(),
              (std::vector<std::string>{"Display truncated after 1000 entries", std::string(kTruncatedSortWarning)}));
    // The 999 largest, f2 to f1000, by name as text.
    EXPECT_EQ(std::tuple(session.Grid().Cell(1, 0), session.Grid().Cell(2, 0), session.Settings().ChartColumn),
              std::tuple("Total for /t/files", "f10", 0));
}

TEST_F(GridFill, PercentagesRoundDownButKeepWholeSharesAndAZeroBaseLeavesThemBlank) {
    // Own files of 3000 bytes: 1500 is a half, 1000 a third, 500 a sixth. 29 of
    // 100 bytes is 29 %, though 29 / 100 * 100 is 28.999... in binary fractions.
    AddSnapshot(kKey, "/p", PathStyle::Posix,
                {{"1", "/p/r/(files)", 2, 100}, {"2", "/p/r", 2, 100}, {"1", "/p/(files)", 3, 3000},
                 {"2", "/p", 5, 3100}},
                {{"/p", "half", 1500, "2024-01-01 00:00:00"},
                 {"/p", "third", 1000, "2024-01-01 00:00:00"},
                 {"/p", "sixth", 500, "2024-01-01 00:00:00"},
                 {"/p/r", "big", 71, "2024-01-01 00:00:00"},
                 {"/p/r", "small", 29, "2024-01-01 00:00:00"}});
    const std::pair<const char*, std::vector<std::string>> cases[] = {{"/p", {"50", "33", "16"}},
                                                                      {"/p/r", {"71", "29"}}};
    for (const auto& [dir, shares] : cases) {
        std::vector<std::string> shown;
        for (const auto& row : Details(StateFor(FilesInDirectory, kKey, nullptr, dir))) shown.push_back(row[3]);
        EXPECT_EQ(shown, shares) << dir;
    }

    // Without a total record the largest file becomes the base.
    AnalysisState state = StateFor(FilesInDirectory, kKey, nullptr, "/p");
    GridSettings settings;
    ResultGrid grid;
    BuildAnalysisQuery(state, settings);
    ASSERT_EQ(settings.PercentBase[3], -1);
    LayoutResultGrid(state, settings, grid);
    ASSERT_TRUE(FillResultGrid(db_, state, settings, grid, settings.AnalysisSql, 1).Ok());
    EXPECT_EQ(grid.Cell(1, 3), "100");
    EXPECT_EQ(grid.Cell(2, 3), "66");

    state = StateFor(DirectoryDetails, kKey, nullptr, "/p");
    state.DirTotal = 0;
    EXPECT_EQ(Run(state)[1][3], "");
}

TEST_F(GridFill, AFailingQueryIsReportedAndLeavesOnlyTheFixedRows) {
    AddSnapshot(kKey, "/f", PathStyle::Posix, {{"2", "/f", 1, 10}}, {{"/f", "x", 10, "2024-01-01 00:00:00"}});
    AnalysisState state = StateFor(RecentlyChangedFiles, kKey, nullptr, "/f");
    ASSERT_TRUE(Execute(db_, "DROP TABLE files").Ok());
    LayoutResultGrid(state, settings_, grid_);
    AnalysisOutcome outcome = RunAnalysis(db_, state, settings_, grid_);
    EXPECT_FALSE(outcome.Error.Ok());
    const std::string told = AnalysisFailureText(db_.DatabasePath, outcome.Title, outcome.Error);
    EXPECT_TRUE(told.starts_with(
        "Error running analysis Recently changed files within /f directory tree  (all files)\nCode="))
        << told;
    EXPECT_TRUE(grid_.RowCount() == 1 && !outcome.Chart.Drawn);
}

TEST_F(GridFill, ChartTakesTheFirstFourDetailRowsAndNeedsTwoNumbers) {
    std::vector<DirRow> dirs;
    for (int i = 0; i < 10; ++i) dirs.push_back({"2", "/c/d" + std::to_string(i), 1, 1024.0 * (i + 1)});
    dirs.push_back({"2", "/c/d9/one", 1, 10});
    dirs.push_back({"2", "/c", 10, 56320});
    AddSnapshot(kKey, "/c", PathStyle::Posix, dirs, {});
    AnalysisState state = StateFor(DirectoryDetails, kKey, nullptr, "/c", PathStyle::Posix, 'K');
    Run(state);
    const ChartData& chart = outcome_.Chart;
    EXPECT_EQ(std::tie(chart.Drawn, chart.ChartLabels, chart.ChartValues, chart.ChartMaxValue, chart.Title),
              std::tuple(true, std::vector<std::string>{"d9", "d8", "d7", "d6"}, std::vector<double>{10, 9, 8, 7}, 10.0,
                         "Analysis of Total size (KB)      "));
    // In megabytes every value is 0: still four points, and the shares, of bytes, stay.
    // One numeric row is no chart.
    const std::string share = grid_.Cell(2, 3);
    state.SizeUnit = 'M';
    Run(state);
    EXPECT_EQ(std::tuple(chart.Drawn, chart.ChartPointCount, chart.ChartMaxValue, grid_.Cell(0, 2), grid_.Cell(2, 3)),
              std::tuple(true, 4, 0.0, "Total size (MB)      ", share));
    Run(StateFor(DirectoryDetails, kKey, nullptr, "/c/d9"));
    EXPECT_EQ(std::tuple(chart.Drawn, chart.ChartPointCount), std::tuple(false, 1));

    AddSnapshot("2024-06-02 12:00:00", "/c", PathStyle::Posix, {{"2", "/c", 2, 20}}, {});
    AnalysisState history = StateFor(DirectoryHistory, kKey, nullptr, "/c");
    Run(history);
    EXPECT_TRUE(outcome_.Chart.Drawn);
    EXPECT_EQ(outcome_.Chart.ChartLabels, (std::vector<std::string>{"2024-06-01 12:00 ", "2024-06-02 12:00 "}));
    // Clicking the date column does not reorder the history but charts dates: nothing.
    SortOnColumn(history, settings_, grid_, 0);
    EXPECT_EQ(grid_.Cell(1, 0), "2024-06-01 12:00 ");
    EXPECT_FALSE(DrawChart(history, settings_, grid_).Drawn);
    // Nor do names.
    Run(state);
    settings_.ChartColumn = 0;
    EXPECT_FALSE(DrawChart(state, settings_, grid_).Drawn);
}

TEST(ResultGridSort, NumbersCompareAsNumbersAndFixedRowsStay) {
    ResultGrid grid;
    grid.SetColumnCount(2);
    grid.SetRowCount(6);
    const char* cells[6][2] = {{"Name", "Size"}, {"Total", "999"}, {"b", "9"},
                               {"a", "10"},      {"c", "-3"},      {"d", "x"}};
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 2; ++c) grid.SetCell(r, c, cells[r][c]);
    grid.SetFixedRows(2);
    grid.SortScrollingRows(1, false);
    std::vector<std::string> order;
    for (int r = 0; r < 6; ++r) order.push_back(grid.Cell(r, 0));
    EXPECT_EQ(order, (std::vector<std::string>{"Name", "Total", "d", "a", "b", "c"}));
    grid.SortScrollingRows(0, true);
    order.clear();
    for (int r = 2; r < 6; ++r) order.push_back(grid.Cell(r, 0));
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST(Titles, ThresholdSuffixAndSnapshotLabelsOfOneDayOrOfTwo) {
    AnalysisState state;
    state.SelectedDirectory = "/x";
    state.SizeThreshold = 10240;
    state.AnalysisKind = DuplicateFiles;
    EXPECT_EQ(AnalysisTitle(state), "Duplicate files within /x directory tree  (files larger than 10 KB)");

    state.SnapshotDate = Key("2024-03-07 14:05:09");
    state.CompareSnapshotDate = Key("2024-03-07 09:30:00");
    FormSnapshotLabels(state);
    EXPECT_EQ(state.SnapshotLabel + " " + state.CompareSnapshotLabel, "14:05 09:30");
    state.CompareSnapshotDate = Key("2023-12-25 09:30:00");
    FormSnapshotLabels(state);
    EXPECT_EQ(state.SnapshotLabel + " " + state.CompareSnapshotLabel, "7 Mar 25 Dec");
}

TEST(ChartAxis, StepsAreOneTwoOrFiveTimesAPowerOfTenAndWholeForWholeValues) {
    struct Case {
        double Low, High;
        bool Whole;
        int MaxIntervals;
        std::vector<std::string> Labels;
    };
    const Case cases[] = {
        {0, 21, true, 5, {"0", "5", "10", "15", "20", "25"}},
        {0, 3, true, 8, {"0", "1", "2", "3"}},  // no tick at 0.5 files
        {0, 3, false, 8, {"0", "0.5", "1.0", "1.5", "2.0", "2.5", "3.0"}},
        {0, 5795668, true, 5, {"0", "2000000", "4000000", "6000000"}},
        {0, 0.7, false, 4, {"0", "0.2", "0.4", "0.6", "0.8"}}, {0, 0.3, false, 3, {"0", "0.1", "0.2", "0.3"}},
        {2, 9, true, 1, {"0", "10"}},                          {-3, 0, true, 4, {"-3", "-2", "-1", "0"}},
        {-12, 30, true, 5, {"-20", "-10", "0", "10", "20", "30"}},
        {-5, 5, true, 1, {"-5", "0", "5"}},                    {0, 0, true, 4, {"0", "1"}},
    };
    for (const Case& c : cases) {
        const ChartAxis axis = ChooseChartAxis(c.Low, c.High, c.Whole, c.MaxIntervals);
        EXPECT_EQ(axis.Labels, c.Labels) << c.Low << ".." << c.High;
        EXPECT_EQ(axis.Ticks.size(), axis.Labels.size());
    }
    EXPECT_TRUE(AllWholeNumbers({0, -4, 5795668}));
    EXPECT_FALSE(AllWholeNumbers({3, 0.5}));
}

class Session : public SnapshotDatabaseTest {
protected:
    void SetUp() override {
        SnapshotDatabaseTest::SetUp();
        AddDataPair();
        session_.ChoosePrime(Key(kPrime));
        std::optional<DateTime> previous;
        ASSERT_TRUE(session_.PreviousSnapshot(previous).Ok());
        ASSERT_EQ(previous, Key(kCompare));
        ASSERT_TRUE(session_.ChooseCompare(Key(kCompare)).Chosen);
        bool found = false;
        ASSERT_TRUE(session_.SelectDirectory("/data/docs", found).Ok());
        ASSERT_TRUE(found);
    }
    const AnalysisState& State() const { return session_.State(); }

    AnalysisSession session_{db_, messages_};
};

TEST_F(Session, ChoicesSetTheDirectoryAndTotalsTheAnalysesRunOn) {
    EXPECT_EQ(State().DirTotal, 8548);
    EXPECT_EQ(State().CompareDirTotal, 4200);
    // The open prime snapshot chosen again keeps the directory and drops the
    // compare snapshot; another one starts at its base path.
    session_.ChoosePrime(Key(kPrime));
    EXPECT_EQ(State().QueryDirectory, "/data/docs");
    EXPECT_TRUE(State().CompareSnapshotDate.IsNull());
    session_.ChoosePrime(Key(kCompare));
    EXPECT_EQ(State().QueryDirectory, "/data");
    EXPECT_EQ(State().DirTotal, 14200);
    bool found = true;
    EXPECT_TRUE(session_.SelectDirectory("/data/nowhere", found).Ok());
    EXPECT_FALSE(found);
    EXPECT_TRUE(prompter_.Texts().empty());
}

TEST_F(Session, SwapReadsBothSnapshotsAgainAndACompareOfAnotherBasePathIsRefused) {
    session_.Swap();
    EXPECT_EQ(std::tie(State().SnapshotDate, State().QueryDirectory, State().DirTotal, State().CompareDirTotal,
                       State().SnapshotLabel),
              std::tuple(Key(kCompare), "/data", 14200.0, 13644.0, "1 Mar"));

    AddSnapshot("2024-03-05 00:00:00", "/srv", PathStyle::Posix, {{"2", "/srv", 0, 0}}, {});
    CompareChoice other = session_.ChooseCompare(Key("2024-03-05 00:00:00"));
    EXPECT_FALSE(other.Chosen);
    EXPECT_EQ(other.BasePath, "/srv");
    EXPECT_EQ(State().CompareSnapshotDate, Key(kPrime));
}

TEST_F(Session, SnapshotsGoneOrOfAnotherDatabaseAreForgotten) {
    WaitUpTo wait(std::chrono::milliseconds(0));
    StoreError deleted = DeleteSnapshot(db_, Key(kCompare), wait);
    ASSERT_TRUE(deleted.Ok()) << deleted.Details();
    EXPECT_FALSE(session_.ForgetMissingSnapshots(false, false));
    EXPECT_TRUE(State().CompareSnapshotDate.IsNull());

    // After a database switch the prime snapshot is read again when chosen.
    EXPECT_FALSE(session_.ForgetMissingSnapshots(true, true));
    session_.ChoosePrime(Key(kPrime));
    EXPECT_EQ(State().QueryDirectory, "/data");
    // Without a choice in the other database, its keys name nothing there.
    EXPECT_TRUE(session_.ForgetMissingSnapshots(true, false));
    EXPECT_TRUE(State().SnapshotDate.IsNull());
}

TEST_F(Session, ABasePathStoredWithATrailingSeparatorIsAnalysedWithoutIt) {
    AddSnapshot("2024-04-01 00:00:00", "/srv/", PathStyle::Posix, {{"2", "/srv", 1, 10}}, {});
    ASSERT_TRUE(session_.ChoosePrime(Key("2024-04-01 00:00:00")).Ok());
    EXPECT_EQ(State().QueryDirectory, "/srv");
    // The history still finds the snapshot by the base path as stored, and
    // its title names the directory as the tree does.
    session_.SetKind(DirectoryHistory);
    EXPECT_EQ(session_.Run().Title, "History of /srv");
    EXPECT_EQ(session_.Grid().RowCount(), 2);
    EXPECT_EQ(session_.Grid().Cell(1, 1), "1");
}

// The basis reads the selected directory's totals again; on disk a
// comparison needs both snapshots' figures, and a comparison's outcome says
// whether the two left out different entries.
TEST_F(Session, OnDiskTotalsAreReadAgainAndComparisonsNeedBothSnapshotsFiguresAndExclusions) {
    session_.SetSizeBasis(SizeBasis::Disk);
    EXPECT_EQ(std::tie(State().DirTotal, State().CompareDirTotal), std::tuple(0.0, 0.0));
    EXPECT_EQ(session_.WithoutDiskFigures(), Key(kPrime));
    EXPECT_EQ(session_.ShortfallOf(CompareDirectories), Shortfall::CompareOnDisk);
    EXPECT_EQ(session_.ShortfallOf(DirectoryDetails), Shortfall::None);

    AddDataPairOnDisk();
    AddSnapshot("2024-02-01 08:00:00", "/data", PathStyle::Posix, {{"2", "/data/docs", 1, 7}, {"2", "/data", 1, 7}}, {});
    AddExclusions(db_, kPrime, {{"pattern", "*.o"}, {"caches", ""}});
    session_.Swap();  // both read again, at the base path
    session_.Swap();
    EXPECT_EQ(std::tie(State().DirTotal, State().CompareDirTotal), std::tuple(61440.0, 51200.0));
    EXPECT_EQ(session_.ShortfallOf(CompareDirectories), Shortfall::None);
    EXPECT_EQ(session_.PrimeExclusions(),
              (std::vector<Exclusion>{{ExclusionKind::Pattern, "*.o"}, {ExclusionKind::Caches, ""}}));
    const auto run = [&](AnalysisKind kind) {
        session_.SetKind(kind);
        return session_.Run().ExclusionsDiffer;
    };
    EXPECT_TRUE(run(WhereDidItGrow));
    EXPECT_FALSE(run(DirectoryDetails));  // one snapshot's result
    session_.SetSizeBasis(SizeBasis::Apparent);
    EXPECT_EQ(std::tie(State().DirTotal, State().CompareDirTotal), std::tuple(13644.0, 14200.0));

    // The older snapshot has no figures: on disk it compares with none.
    ASSERT_TRUE(session_.ChooseCompare(Key("2024-02-01 08:00:00")).Chosen);
    EXPECT_EQ(session_.ShortfallOf(ChangedFiles), Shortfall::None);
    session_.SetSizeBasis(SizeBasis::Disk);
    EXPECT_EQ(session_.WithoutDiskFigures(), Key("2024-02-01 08:00:00"));
    EXPECT_EQ(session_.ShortfallOf(ChangedFiles), Shortfall::CompareOnDisk);
    EXPECT_TRUE(prompter_.Texts().empty());
}

// A directory may be called "(files)": its Dir row then bears the name of
// its parent's files entry, and only the Entrytype tells the two apart.
class FilesEntry : public Session {};

TEST_F(FilesEntry, ADirectoryCalledFilesIsToldApartFromItsParentsFilesEntry) {
    // The files entry first, where a look-up by name alone finds it; the
    // compare snapshot has the files entry of /f only.
    AddSnapshot("2024-04-02 00:00:00", "/f", PathStyle::Posix,
                {{"1", "/f/(files)", 1, 100}, {"1", "/f/(files)/(files)", 2, 600}, {"2", "/f/(files)", 2, 600},
                 {"2", "/f", 3, 700}},
                {{"/f/(files)", "r", 600}});
    AddSnapshot("2024-04-01 00:00:00", "/f", PathStyle::Posix, {{"1", "/f/(files)", 1, 100}, {"2", "/f", 1, 100}}, {});
    session_.ChoosePrime(Key("2024-04-02 00:00:00"));
    ASSERT_TRUE(session_.ChooseCompare(Key("2024-04-01 00:00:00")).Chosen);
    session_.SetUnit('B');
    auto run = [&](AnalysisKind kind, const std::string& entry, Entrytype type = Entrytype::Directory) {
        bool found = false;
        EXPECT_TRUE(session_.SelectDirectory(entry, found, type).Ok() && found);
        session_.SetKind(kind);
        session_.Run();
        Rows rows;
        const ResultGrid& grid = session_.Grid();
        for (int r = 1; r < grid.RowCount(); ++r) rows.push_back({grid.Cell(r, 0), grid.Cell(r, 1), grid.Cell(r, 2)});
        return rows;
    };
    EXPECT_EQ(run(FilesInTree, "/f/(files)"), (Rows{{"Total for /f/(files)", " ", "600"}, {"r", "/f/(files)", "600"}}));
    EXPECT_EQ(run(DirectoryDetails, "/f/(files)"),
              (Rows{{"Total for /f/(files)", "2", "600"}, {"(files)", "2", "600"}}));
    EXPECT_EQ(run(DirectoryHistory, "/f/(files)"), (Rows{{"2024-04-02 00:00 ", "2", "600"}}));
    EXPECT_EQ(run(NewDirectories, "/f"), (Rows{{"(files)", "2", "600"}}));
    EXPECT_EQ(run(CompareDirectories, "/f"), (Rows{{"Total for /f", "700", "100"}, {"(files)", "100", "100"}}));
    // The tree's files entry: its own total and history, a leaf.
    EXPECT_EQ(run(DirectoryHistory, "/f/(files)", Entrytype::Files),
              (Rows{{"2024-04-01 00:00 ", "1", "100"}, {"2024-04-02 00:00 ", "1", "100"}}));
    EXPECT_EQ(std::tie(State().DirTotal, State().CompareDirTotal), std::tuple(100.0, 100.0));
    std::vector<DirectoryChild> children;
    ASSERT_TRUE(ListDirectoryChildren(db_, State().SnapshotDate, "/f", PathStyle::Posix, children,
                                      State().CompareSnapshotDate).Ok());
    ASSERT_EQ(children.size(), 2u);
    for (const auto& [child, files] : {std::pair(children[0], true), std::pair(children[1], false)}) {
        // The directory has children and no counterpart in the compare snapshot.
        EXPECT_EQ(std::tie(child.Files, child.HasChildren, child.CompareBytes),
                  std::tuple(files, !files, files ? 100.0 : 0));
    }
}

}  // namespace
}  // namespace corvina::test
