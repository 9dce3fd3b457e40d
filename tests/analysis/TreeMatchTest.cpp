// Which rows "the directory and everything below it" selects: bounded by the
// separator, exact about case with POSIX paths, blind to case with Windows
// paths, and indifferent to quotes and wildcard characters in names.

#include <algorithm>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/AnalysisQuery.h"
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

TEST_F(TreeMatch, TreeOfADirectoryStopsAtTheSeparator) {
    using V = std::vector<std::string>;
    EXPECT_EQ(FileNames(FilesInTree, kRootKey, "/data", PathStyle::Posix), (V{"f2", "f1"}));
    EXPECT_EQ(FileNames(RecentlyChangedFiles, kRootKey, "/data", PathStyle::Posix), (V{"f2", "f1"}));
    std::vector<std::string> types;
    for (const auto& row : Details(StateFor(FileTypeSummary, kRootKey, nullptr, "/data"))) types.push_back(row[1]);
    EXPECT_EQ(types, (V{"2"}));
}

TEST_F(TreeMatch, TheRootHoldsEverything) {
    EXPECT_EQ(FileNames(FilesInTree, kRootKey, "/", PathStyle::Posix),
              (std::vector<std::string>{"m", "k", "h", "g", "f2", "f1", "top"}));
    EXPECT_EQ(FileNames(FilesInDirectory, kRootKey, "/", PathStyle::Posix), (std::vector<std::string>{"top"}));
    Rows children = Details(StateFor(DirectoryDetails, kRootKey, nullptr, "/"));
    EXPECT_EQ(children.size(), 6u);  // five directories and the root's own files
    EXPECT_EQ(grid_.Cell(1, 0), "Total for /");
}

TEST_F(TreeMatch, PosixNamesCompareWithCase) {
    EXPECT_EQ(FileNames(FilesInTree, kRootKey, "/Data", PathStyle::Posix), (std::vector<std::string>{"k"}));
    EXPECT_EQ(FileNames(FilesInDirectory, kRootKey, "/DATA", PathStyle::Posix), (std::vector<std::string>{}));
}

TEST_F(TreeMatch, WindowsNamesCompareWithoutCaseAndStopAtTheBackslash) {
    using V = std::vector<std::string>;
    EXPECT_EQ(FileNames(FilesInTree, kDriveKey, "C:\\DATA", PathStyle::Windows), (V{"f1", "x"}));
    EXPECT_EQ(FileNames(FilesInTree, kDriveKey, "C:", PathStyle::Windows), (V{"g", "f1", "x"}));
    // The total row of the files analysis reads the files entry whatever the case.
    Rows rows = Run(StateFor(FilesInDirectory, kDriveKey, nullptr, "C:\\Data", PathStyle::Windows));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"Total for C:\\Data", "100", "  ", "100"}));
    EXPECT_EQ(Details(StateFor(DirectoryDetails, kDriveKey, nullptr, "c:", PathStyle::Windows)).size(), 2u);
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

TEST(TreeBounds, BoundsAreTheDirectoryAndSeparatorAndTheNextByte) {
    EXPECT_EQ(TreeBoundsOf("/data", PathStyle::Posix).Lo, "/data/");
    EXPECT_EQ(TreeBoundsOf("/data", PathStyle::Posix).Hi, "/data0");
    EXPECT_EQ(TreeBoundsOf("/", PathStyle::Posix).Lo, "/");
    EXPECT_EQ(TreeBoundsOf("/", PathStyle::Posix).Hi, "0");
    EXPECT_EQ(TreeBoundsOf("C:", PathStyle::Windows).Lo, "C:\\");
    EXPECT_EQ(TreeBoundsOf("C:", PathStyle::Windows).Hi, "C:]");
}

}  // namespace
}  // namespace corvina::test

namespace corvina::test {
namespace {

// The change and duplicate lists pair files up by name outside the engine:
// they must compare names exactly as the queries would.
class NamePairing : public SnapshotDatabaseTest {};

TEST_F(NamePairing, WindowsPairsFilesWhoseNamesDifferOnlyInCase) {
    AddSnapshot("2024-01-01 00:00:00", "C:", PathStyle::Windows, {{"2", "C:", 2, 30}},
                {{"C:\\Docs", "Report.TXT", 10, "2024-01-01 00:00:00"}, {"C:\\Tmp", "x", 20, "2024-01-01 00:00:00"}});
    AddSnapshot("2024-02-01 00:00:00", "C:", PathStyle::Windows, {{"2", "C:", 3, 60}},
                {{"C:\\docs", "report.txt", 15, "2024-01-01 00:00:00"},
                 {"C:\\Tmp", "X", 20, "2024-01-01 00:00:00"},
                 {"C:\\Tmp", "REPORT.txt", 25, "2024-01-01 00:00:00"}});
    Rows changed = Details(StateFor(ChangedFiles, "2024-02-01 00:00:00", "2024-01-01 00:00:00", "C:", PathStyle::Windows));
    EXPECT_EQ(changed, (Rows{{"report.txt", "C:\\docs", "-5", "15", "2024-01-01 00:00 ", "10", "2024-01-01 00:00 "}}));
    Rows duplicates = Details(StateFor(DuplicateFiles, "2024-02-01 00:00:00", nullptr, "C:", PathStyle::Windows));
    ASSERT_EQ(duplicates.size(), 2u);
    EXPECT_EQ(duplicates[0][1], "C:\\docs");
    EXPECT_EQ(duplicates[1][1], "C:\\Tmp");
}

TEST_F(NamePairing, PosixKeepsCaseAndOrdersChangesByChangeThenPath) {
    AddSnapshot("2024-01-01 00:00:00", "/p", PathStyle::Posix, {{"2", "/p", 4, 40}},
                {{"/p/a", "f", 10, "2024-01-01 00:00:00"},
                 {"/p/A", "f", 10, "2024-01-01 00:00:00"},
                 {"/p/b", "F", 10, "2024-01-01 00:00:00"},
                 {"/p/b", "g", 10, "2024-01-01 00:00:00"}});
    AddSnapshot("2024-02-01 00:00:00", "/p", PathStyle::Posix, {{"2", "/p", 4, 40}},
                {{"/p/a", "f", 10, "2024-01-05 00:00:00"},
                 {"/p/A", "f", 10, "2024-01-05 00:00:00"},
                 {"/p/b", "f", 10, "2024-01-01 00:00:00"},
                 {"/p/b", "g", 5, "2024-01-01 00:00:00"}});
    std::vector<std::string> changed;
    for (const auto& row : Details(StateFor(ChangedFiles, "2024-02-01 00:00:00", "2024-01-01 00:00:00", "/p")))
        changed.push_back(row[1] + "/" + row[0] + " " + row[2]);
    // /p/b/f is new (F was another file), g shrank by 5: change +5 comes first.
    EXPECT_EQ(changed, (std::vector<std::string>{"/p/b/g 5", "/p/A/f 0", "/p/a/f 0"}));
    std::vector<std::string> duplicates;
    for (const auto& row : Details(StateFor(DuplicateFiles, "2024-02-01 00:00:00", nullptr, "/p")))
        duplicates.push_back(row[1] + "/" + row[0]);
    EXPECT_EQ(duplicates, (std::vector<std::string>{"/p/A/f", "/p/a/f", "/p/b/f"}));
}

TEST_F(NamePairing, ManyDuplicateNamesAreAllFoundAndListedByName) {
    std::vector<FileSpec> files;
    for (int i = 0; i < 3000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "n%04d", i);
        files.push_back({i % 2 == 0 ? "/m/x" : "/m/y", name, i, "2024-01-01 00:00:00"});
        if (i % 3 == 0) files.push_back({"/m/z", name, i, "2024-01-01 00:00:00"});
    }
    AddSnapshot("2024-01-01 00:00:00", "/m", PathStyle::Posix, {{"2", "/m", 4000, 1}}, files);
    Rows rows = Details(StateFor(DuplicateFiles, "2024-01-01 00:00:00", nullptr, "/m"));
    // Every third name is in two directories: 1000 names, 2000 files, of
    // which the grid shows the first 1000.
    ASSERT_EQ(rows.size(), 1000u);
    EXPECT_EQ(rows[0][0] + rows[0][1], "n0000/m/x");
    EXPECT_EQ(rows[1][0] + rows[1][1], "n0000/m/z");
    EXPECT_EQ(rows[2][0] + rows[2][1], "n0003/m/y");
    EXPECT_EQ(rows[999][0] + rows[999][1], "n1497/m/z");
    EXPECT_EQ(settings_.ResultTruncated, 'y');
}

}  // namespace
}  // namespace corvina::test
