// Each analysis on the crafted pair of /data, rows worked out by hand from the
// rows AddDataPair writes. Sizes are shown in bytes unless a test says otherwise.

#include <algorithm>

#include "analysis/AnalysisCatalogue.h"
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

TEST_F(AnalysisKinds, DirectoryDetailsListsChildrenLargestFirstUnderTheTotalRow) {
    Rows rows = Run(StateFor(DirectoryDetails, kPrime, nullptr, "/data"));
    EXPECT_EQ(rows, (Rows{{"Directory Name", "# of Files", "Total size (Bytes)   ", "% of Total"},
                          {"Total for /data", "6", "13644", "100"},
                          {"docs", "3", "8548", "62"},
                          {"it's 50%_*", "1", "4096", "30"},
                          {"(files)", "1", "1000", "7"}}));
    EXPECT_EQ(grid_.FixedRows(), 2);
    EXPECT_EQ(settings_.FirstDetailRow, 2);
    EXPECT_EQ(outcome_.Title, "Analysis of directory /data");
}

TEST_F(AnalysisKinds, CompareDirectoriesShowsGrowthAndShareOfTheTotalGrowth) {
    Rows rows = Run(StateFor(CompareDirectories, kPrime, kCompare, "/data"));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Directory", "Size (7 Mar) (Bytes)   ", "Size (1 Mar) (Bytes)   ",
                                                 "Increase (Bytes)   ", "% incr", "% of Total Incr"}));
    // The total grew by -556: -4.07 % of the current size rounds down to -5.
    EXPECT_EQ(rows[1], (std::vector<std::string>{"Total for /data", "13644", "14200", "-556", "-5", "100"}));
    // The query has no order: compare the detail rows as a set. docs grew by
    // 4348, that is 50 % of its size and -782.01 % of the total growth.
    Rows details(rows.begin() + 2, rows.end());
    std::sort(details.begin(), details.end());
    EXPECT_EQ(details, (Rows{{"(files)", "1000", "1000", "0", "0", "0"}, {"docs", "8548", "4200", "4348", "50", "-783"}}));
    EXPECT_EQ(outcome_.Title, "Compare /data from 1 Mar to 7 Mar");
}

TEST_F(AnalysisKinds, NewAndDeletedDirectoriesTakeTheirRowsFromTheSnapshotThatHasThem) {
    EXPECT_EQ(Details(StateFor(NewDirectories, kPrime, kCompare, "/data")), (Rows{{"it's 50%_*", "1", "4096"}}));
    EXPECT_EQ(outcome_.Title, "Directories in 7 Mar and not in 1 Mar in /data (all files)");
    EXPECT_EQ(Details(StateFor(DeletedDirectories, kPrime, kCompare, "/data")), (Rows{{"tmp", "1", "9000"}}));
    EXPECT_EQ(outcome_.Title, "Directories in 1 Mar and not in 7 Mar in /data (all files)");
}

TEST_F(AnalysisKinds, DirectoryHistoryListsEverySnapshotOfTheBasePathOldestFirst) {
    // A snapshot of another base path also holds /data: it is not listed.
    AddSnapshot("2024-02-01 08:00:00", "/", PathStyle::Posix, {{"2", "/data", 1, 77}, {"2", "/", 1, 77}}, {});
    Rows rows = Run(StateFor(DirectoryHistory, kPrime, nullptr, "/data"));
    EXPECT_EQ(rows, (Rows{{"Date", "# of files", "Size (Bytes)   "},
                          {"2024-03-01 09:00 ", "5", "14200"},
                          {"2024-03-07 14:05 ", "6", "13644"}}));
    EXPECT_EQ(outcome_.Title, "History of /data");
    EXPECT_EQ(settings_.ChartColumn, 2);
}

TEST_F(AnalysisKinds, FilesInDirectoryShowsEachFileAsShareOfTheDirectorysOwnFiles) {
    Rows rows = Run(StateFor(FilesInDirectory, kPrime, nullptr, "/data/docs"));
    EXPECT_EQ(rows, (Rows{{"File", "Size(Bytes)   ", "File Date", "% of dir size"},
                          {"Total for /data/docs", "8048", "  ", "100"},
                          {"a.txt", "6000", "2024-03-05 09:30 ", "74"},
                          {"b.doc", "2048", "2024-03-06 11:00 ", "25"}}));
    EXPECT_EQ(outcome_.Title, "Files within directory /data/docs (all files)");
}

TEST_F(AnalysisKinds, FilesInTreeListsEveryFileBelowLargestFirst) {
    Rows rows = Run(StateFor(FilesInTree, kPrime, nullptr, "/data/docs"));
    EXPECT_EQ(rows, (Rows{{"File", "Directory", "Size(Bytes)   ", "File Date"},
                          {"Total for /data/docs", " ", "8548", "  "},
                          {"a.txt", "/data/docs", "6000", "2024-03-05 09:30 "},
                          {"b.doc", "/data/docs", "2048", "2024-03-06 11:00 "},
                          {"a.txt", "/data/docs/old", "500", "2024-03-02 12:00 "}}));
    EXPECT_EQ(outcome_.Title, "Files within /data/docs directory tree  (all files)");
}

TEST_F(AnalysisKinds, ChangedFilesOrdersByCompareMinusCurrentSize) {
    Rows rows = Details(StateFor(ChangedFiles, kPrime, kCompare, "/data"));
    EXPECT_EQ(rows, (Rows{{"a.txt", "/data/docs/old", "0", "500", "2024-03-02 12:00 ", "500", "2023-12-01 00:00 "},
                          {"a.txt", "/data/docs", "-3000", "6000", "2024-03-05 09:30 ", "3000", "2024-02-10 08:00 "}}));
    EXPECT_EQ(settings_.ChartColumn, 0);
}

TEST_F(AnalysisKinds, NewAndDeletedFilesAreListedLargestFirst) {
    EXPECT_EQ(Details(StateFor(NewFiles, kPrime, kCompare, "/data")),
              (Rows{{"x%_*.c", "/data/it's 50%_*", "4096", "2024-03-07 13:00 "},
                    {"b.doc", "/data/docs", "2048", "2024-03-06 11:00 "}}));
    EXPECT_EQ(outcome_.Title, "Files in 7 Mar and not in 1 Mar in /data directory tree  (all files)");
    EXPECT_EQ(Details(StateFor(DeletedFiles, kPrime, kCompare, "/data")),
              (Rows{{"t.log", "/data/tmp", "9000", "2024-02-20 10:00 "},
                    {"gone.txt", "/data/docs", "700", "2024-01-05 12:00 "}}));
}

TEST_F(AnalysisKinds, FileTypeSummaryCountsAndAddsPerType) {
    EXPECT_EQ(Run(StateFor(FileTypeSummary, kPrime, nullptr, "/data")),
              (Rows{{"File Type", "# of files", "Size(Bytes)   "}, {"TXT", "3", "7500"}, {"C", "1", "4096"}, {"DOC", "1", "2048"}}));
}

TEST_F(AnalysisKinds, DuplicateFilesNeedTheNameInTwoDirectoriesOfTheTree) {
    EXPECT_EQ(Details(StateFor(DuplicateFiles, kPrime, nullptr, "/data")),
              (Rows{{"a.txt", "/data/docs", "6000", "2024-03-05 09:30 "},
                    {"a.txt", "/data/docs/old", "500", "2024-03-02 12:00 "}}));
    // Below /data/docs/old the name occurs once only.
    EXPECT_TRUE(Details(StateFor(DuplicateFiles, kPrime, nullptr, "/data/docs/old")).empty());
}

TEST_F(AnalysisKinds, RecentlyChangedFilesAreNewestFirst) {
    Rows rows = Details(StateFor(RecentlyChangedFiles, kPrime, nullptr, "/data"));
    std::vector<std::string> names;
    for (const auto& row : rows) names.push_back(row[0] + " " + row[3]);
    EXPECT_EQ(names, (std::vector<std::string>{"x%_*.c 2024-03-07 13:00 ", "b.doc 2024-03-06 11:00 ",
                                               "a.txt 2024-03-05 09:30 ", "a.txt 2024-03-02 12:00 ",
                                               "readme.txt 2024-02-01 10:00 "}));
    EXPECT_EQ(outcome_.Title, "Recently changed files within /data directory tree  (all files)");
}

TEST_F(AnalysisKinds, EmptyResultsKeepOnlyTheFixedRows) {
    // /data/docs/old has no subdirectories: heading and total row remain.
    Rows rows = Run(StateFor(DirectoryDetails, kPrime, nullptr, "/data/docs/old"));
    ASSERT_EQ(rows.size(), 3u);  // its files entry is its one child
    rows = Run(StateFor(DirectoryDetails, kPrime, nullptr, "/data/docs/old/(files)"));
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(grid_.FixedRows(), 2);
    rows = Run(StateFor(NewFiles, kPrime, kPrime, "/data"));
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_EQ(grid_.FixedRows(), 1);
    EXPECT_EQ(settings_.LastResultRow, 0);
    EXPECT_EQ(settings_.ResultTruncated, 'n');
}

TEST_F(AnalysisKinds, ChangingTheUnitChangesHeadingsAndCellsTogether) {
    AnalysisState state = StateFor(FilesInDirectory, kPrime, nullptr, "/data/docs", PathStyle::Posix, 'K');
    Rows rows = Run(state);
    EXPECT_EQ(rows[0][1], "Size(KB)      ");
    EXPECT_EQ(rows[2][1], "5");  // 6000 bytes
    state.SizeUnit = 'M';
    rows = Run(state);
    EXPECT_EQ(rows[0][1], "Size(MB)      ");
    EXPECT_EQ(rows[2][1], "0");
    EXPECT_EQ(rows[2][3], "74");  // percentages do not depend on the unit
}

}  // namespace
}  // namespace corvina::test
