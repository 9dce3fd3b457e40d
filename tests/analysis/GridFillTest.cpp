// The grid filling rules: the row limit, percentages, units, and what a run
// leaves for the window (fixed rows, chart data, sorting, headings, titles).

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisQuery.h"
#include "analysis/ChartData.h"
#include "analysis/GridFill.h"
#include "tests/analysis/SnapshotFixture.h"

namespace corvina::test {
namespace {

constexpr const char* kKey = "2024-06-01 12:00:00";

class GridFill : public SnapshotDatabaseTest {};

TEST_F(GridFill, ALongResultStopsAtRowThousandWithOneMessage) {
    std::vector<FileSpec> files;
    for (int i = 0; i < 5000; ++i) files.push_back({"/big", "f" + std::to_string(i), 10000 + i, "2024-01-01 00:00:00"});
    AddSnapshot(kKey, "/big", PathStyle::Posix, {{"1", "/big/(files)", 5000, 1.0e8}, {"2", "/big", 5000, 1.0e8}},
                files);
    Rows rows = Run(StateFor(FilesInDirectory, kKey, nullptr, "/big"));
    ASSERT_EQ(rows.size(), 1001u);  // headings, total row, 999 files
    EXPECT_EQ(std::tie(rows[2][0], rows[1000][0], settings_.LastResultRow, settings_.ResultTruncated),
              std::tuple("f4999", "f4001", 1000, 'y'));
    EXPECT_EQ(prompter_.Texts(), (std::vector<std::string>{"Display truncated after 1000 entries"}));

    // Sorting a truncated result warns, then sorts anyway; names sort ascending.
    prompter_.Clear();
    SortOnColumn(prompter_, StateFor(FilesInDirectory, kKey, nullptr, "/big"), settings_, grid_, 0);
    EXPECT_EQ(prompter_.Texts(), (std::vector<std::string>{std::string(kTruncatedSortWarning)}));
    EXPECT_EQ(std::tuple(grid_.Cell(1, 0), grid_.Cell(2, 0), settings_.ChartColumn), std::tuple("Total for /big", "f4001", 0));
}

TEST_F(GridFill, TruncationIsSaidOnlyWhenARecordIsLeftOver) {
    // Below the total row, 999 records fill the grid exactly; one more is cut.
    const struct {
        const char* Key;
        int Files;
        char Truncated;
    } cases[] = {{"2024-06-02 12:00:00", 999, 'n'}, {"2024-06-03 12:00:00", 1000, 'y'}};
    for (const auto& c : cases) {
        std::vector<FileSpec> files;
        for (int i = 0; i < c.Files; ++i) files.push_back({"/big", "f" + std::to_string(i), i, "2024-01-01 00:00:00"});
        AddSnapshot(c.Key, "/big", PathStyle::Posix,
                    {{"1", "/big/(files)", c.Files, 1.0e6}, {"2", "/big", c.Files, 1.0e6}}, files);
        prompter_.Clear();
        Run(StateFor(FilesInDirectory, c.Key, nullptr, "/big"));
        EXPECT_EQ(settings_.LastResultRow, 1000) << c.Files;
        EXPECT_EQ(settings_.ResultTruncated, c.Truncated) << c.Files;
        EXPECT_EQ(prompter_.Texts().size(), c.Truncated == 'y' ? 1u : 0u) << c.Files;
    }
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
    ASSERT_TRUE(FillResultGrid(db_, prompter_, state, settings, grid, settings.AnalysisSql, 1).Ok());
    EXPECT_EQ(grid.Cell(1, 3), "100");
    EXPECT_EQ(grid.Cell(2, 3), "66");

    state = StateFor(DirectoryDetails, kKey, nullptr, "/p");
    state.DirTotal = 0;
    EXPECT_EQ(Run(state)[1][3], "");
}

TEST_F(GridFill, AFailingQueryIsReportedAndLeavesOnlyTheFixedRows) {
    AddSnapshot(kKey, "/f", PathStyle::Posix, {{"2", "/f", 1, 10}}, {{"/f", "x", 10, "2024-01-01 00:00:00"}});
    AnalysisState state = StateFor(RecentlyChangedFiles, kKey, nullptr, "/f");
    db_.SnapshotDatabase->exec("DROP TABLE files");
    LayoutResultGrid(state, settings_, grid_);
    AnalysisOutcome outcome = RunAnalysis(db_, prompter_, state, settings_, grid_);
    EXPECT_FALSE(outcome.Error.Ok());
    ASSERT_EQ(prompter_.Texts().size(), 1u);
    EXPECT_TRUE(prompter_.Texts()[0].starts_with("Error running analysis Recently changed files within /f") &&
                prompter_.Texts()[0].find("Code=") != std::string::npos)
        << prompter_.Texts()[0];
    EXPECT_TRUE(grid_.RowCount() == 1 && !outcome.Chart.Drawn);
}

TEST_F(GridFill, ChartTakesTheFirstFourDetailRowsAndNeedsTwoNumbers) {
    std::vector<DirSpec> dirs;
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
    // In megabytes every value is 0: still four points. One numeric row is no chart.
    state.SizeUnit = 'M';
    Run(state);
    EXPECT_EQ(std::tuple(chart.Drawn, chart.ChartPointCount, chart.ChartMaxValue), std::tuple(true, 4, 0.0));
    Run(StateFor(DirectoryDetails, kKey, nullptr, "/c/d9"));
    EXPECT_EQ(std::tuple(chart.Drawn, chart.ChartPointCount), std::tuple(false, 1));

    AddSnapshot("2024-06-02 12:00:00", "/c", PathStyle::Posix, {{"2", "/c", 2, 20}}, {});
    AnalysisState history = StateFor(DirectoryHistory, kKey, nullptr, "/c");
    Run(history);
    EXPECT_TRUE(outcome_.Chart.Drawn);
    EXPECT_EQ(outcome_.Chart.ChartLabels, (std::vector<std::string>{"2024-06-01 12:00 ", "2024-06-02 12:00 "}));
    // Clicking the date column does not reorder the history but charts dates: nothing.
    SortOnColumn(prompter_, history, settings_, grid_, 0);
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

}  // namespace
}  // namespace corvina::test
