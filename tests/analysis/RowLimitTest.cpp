// The row limit of the grid, kind by kind: each kind, given one record more
// than the window's grid holds, shows the limit's rows and says that rows
// were cut; without a limit it shows every record and says nothing.

#include <map>
#include <string>

#include "analysis/AnalysisCatalogue.h"
#include "analysis/GridFill.h"
#include "tests/analysis/SnapshotFixture.h"

namespace corvina::test {
namespace {

constexpr int kRecords = 1001;

class RowLimit : public SnapshotDatabaseTest {
protected:
    // Below /t a place per kind with kRecords records in it: subdirectories
    // of both snapshots (both), of one (new, gone), changed and new files
    // (files, newf, gonef), file types (types), duplicate names (dup), and
    // the snapshots of /t for its history.
    void SetUp() override {
        SnapshotDatabaseTest::SetUp();
        // A thousand snapshots, each its own transaction: no need to wait for the disk.
        ASSERT_TRUE(Execute(db_, "PRAGMA synchronous = OFF").Ok());
        std::vector<DirRow> prime{{"2", "/t", 1, 1}, {"1", "/t/files/(files)", kRecords, 1}};
        std::vector<DirRow> compare{{"2", "/t", 1, 1}};
        std::vector<FileRow> primeFiles{{"/t/dup/c", "f0", 1}}, compareFiles;
        for (int i = 0; i < kRecords; ++i) {
            const std::string n = std::to_string(i);
            prime.push_back({"2", "/t/both/d" + n, 1, 1.0 + i});
            prime.push_back({"2", "/t/new/d" + n, 1, 1.0 + i});
            prime.push_back({"1", "/t/new/d" + n + "/(files)", 1, 1.0 + i});
            compare.push_back({"2", "/t/both/d" + n, 1, 2.0 + i});
            compare.push_back({"2", "/t/gone/d" + n, 1, 1.0 + i});
            primeFiles.push_back({"/t/files", "f" + n, i, "2024-01-01 00:00:00"});
            primeFiles.push_back({"/t/newf", "f" + n, i});
            const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // a type has 3 characters at most
            primeFiles.push_back({"/t/types", std::string("f.") + digits[i / 36] + digits[i % 36], i});
            if (i + 1 < kRecords) primeFiles.push_back({i % 2 == 0 ? "/t/dup/a" : "/t/dup/b", "f" + std::to_string(i / 2), i});
            compareFiles.push_back({"/t/files", "f" + n, i + 1});
            compareFiles.push_back({"/t/gonef", "f" + n, i});
        }
        AddSnapshot(kPrime, "/t", PathStyle::Posix, prime, primeFiles);
        AddSnapshot(kCompare, "/t", PathStyle::Posix, compare, compareFiles);
        for (int day = 0; day + 2 < kRecords; ++day) {
            const std::string key = FormatKey(DateTime::FromUnix(1600000000 + 86400LL * day));
            AddSnapshot(key.c_str(), "/t", PathStyle::Posix, {{"2", "/t", 1, 1}}, {});
        }
    }
};

TEST_F(RowLimit, EveryKindSaysItsRecordsWereCutAndShowsThemAllWithoutALimit) {
    const std::map<AnalysisKind, const char*> places{
        {DirectoryDetails, "/t/both"}, {CompareDirectories, "/t/both"}, {NewDirectories, "/t/new"},
        {DeletedDirectories, "/t/gone"}, {DirectoryHistory, "/t"},      {WhereDidItGrow, "/t/new"},
        {FilesInDirectory, "/t/files"}, {FilesInTree, "/t/files"},      {ChangedFiles, "/t/files"},
        {NewFiles, "/t/newf"},         {DeletedFiles, "/t/gonef"},      {FileTypeSummary, "/t/types"},
        {DuplicateFiles, "/t/dup"},    {RecentlyChangedFiles, "/t/files"}};
    ASSERT_EQ(places.size(), AnalysisCatalogue().size());
    for (const auto& [kind, place] : places) {
        SCOPED_TRACE(std::string(EntryOf(kind).Name));
        AnalysisState state = StateFor(kind, kPrime, EntryOf(kind).NeedsCompare ? kCompare : nullptr, place);
        prompter_.Clear();
        Run(state);
        EXPECT_EQ(std::tie(settings_.LastResultRow, settings_.ResultTruncated), std::tuple(1000, 'y'));
        EXPECT_EQ(prompter_.Texts(), std::vector<std::string>{std::string(kTruncatedMessage)});

        state.RowLimit = 0;
        prompter_.Clear();
        Run(state);
        EXPECT_EQ(std::tie(settings_.LastResultRow, settings_.ResultTruncated),
                  std::tuple(settings_.FirstDetailRow - 1 + kRecords, 'n'));
        EXPECT_TRUE(prompter_.Texts().empty());
    }
}

}  // namespace
}  // namespace corvina::test
