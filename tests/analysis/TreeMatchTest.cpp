// Which rows "the directory and everything below it" selects: bounded by the
// separator, exact about case with POSIX paths, blind to case with Windows
// paths, and indifferent to quotes and wildcard characters in names.


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

}  // namespace
}  // namespace corvina::test
