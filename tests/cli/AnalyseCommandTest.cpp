// corvina-cli analyse end to end: a small pair of snapshots written through
// the store, the real tool run on it, its output read back.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "store/SnapshotDatabase.h"
#include "tests/cli/RunTool.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

// The /srv snapshots of 1 and 2 May record files; that of 3 May does not.
test::SnapshotRows Srv(const char* key, bool collect, std::vector<test::FileRow> files,
                       const std::vector<std::pair<const char*, double>>& dirs) {
    test::SnapshotRows snap{.Key = key, .BasePath = "/srv", .Dirs = {}, .Files = std::move(files), .Collect = collect};
    for (const auto& [name, bytes] : dirs) snap.Dirs.push_back({"2", name, 1, bytes});
    return snap;
}

class AnalyseCommand : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = dir_.File("a.mdb");
        DatabaseState state;
        state.DatabasePath = db_;
        test::RecordingPrompter prompter;
        test::RecordingEnder ender;
        ASSERT_EQ(OpenSnapshotDatabase(state, prompter, ender), OpenOutcome::Created);
        const char* date = "2024-01-02 03:04:05";
        test::AddSnapshot(state, Srv("2024-05-01 08:00:00", true, {{"/srv/web", "a,\"b\".html", 2048, date}},
                                     {{"/srv/web", 2048}, {"/srv/old", 100}, {"/srv", 2148}}));
        test::AddSnapshot(state, Srv("2024-05-02 08:00:00", true,
                                     {{"/srv/web", "a,\"b\".html", 4096, date}, {"/srv/web/x", "n.txt", 1024, date}},
                                     {{"/srv/web/x", 1024}, {"/srv/web", 5120}, {"/srv", 5120}}));
        test::AddSnapshot(state, Srv("2024-05-03 08:00:00", false, {}, {{"/srv/web", 5120}, {"/srv", 5120}}));
        CloseSnapshotDatabase(state);
    }

    test::ToolRun Analyse(std::vector<std::string> args) {
        args.insert(args.begin(), "analyse");
        args.push_back("--db");
        args.push_back(db_);
        return test::RunTool(args);
    }

    test::TempDir dir_;
    std::string db_;
};

TEST_F(AnalyseCommand, TableIsAlignedCsvQuotesFieldsAndJsonCarriesTheSameTexts) {
    auto run = Analyse({"directory-details", "--snapshot", "2024-05-02 08:00:00", "--unit", "B"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out,
              "Analysis of directory /srv\n"
              "Directory Name  # of Files  Total size (Bytes)  % of Total\n"
              "--------------  ----------  ------------------  ----------\n"
              "Total for /srv           1                5120         100\n"
              "web                      1                5120         100\n");

    run = Analyse({"11", "--snapshot", "2024-05-02 08:00:00", "--unit", "K", "--format", "csv", "--dir", "/srv/web/"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out,
              "Files within /srv/web directory tree  (all files),,,\r\n"
              "File,Directory,Size(KB)      ,File Date\r\n"
              "Total for /srv/web, ,5,  \r\n"
              "\"a,\"\"b\"\".html\",/srv/web,4,2024-01-02 03:04 \r\n"
              "n.txt,/srv/web/x,1,2024-01-02 03:04 \r\n");

    // "previous" is the newest earlier snapshot of the same path.
    run = Analyse({"changed-files", "--snapshot", "2024-05-02 08:00:00", "--compare", "previous", "--format", "json",
                   "--unit", "B"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    auto doc = nlohmann::json::parse(run.Out);
    EXPECT_EQ(doc["title"], "Changed files in /srv directory tree  (all files)");
    EXPECT_EQ(doc["compare"], "2024-05-01 08:00:00");
    EXPECT_EQ(doc["total"], nullptr);
    EXPECT_EQ(doc["rows"], nlohmann::json::parse(
                               R"([["a,\"b\".html", "/srv/web", "-2048", "4096", "2024-01-02 03:04 ", "2048", "2024-01-02 03:04 "]])"));
    EXPECT_EQ(doc["columns"][2]["heading"], "Change(Bytes)   ");
    EXPECT_EQ(doc["columns"][2]["align"], "right");
}

TEST_F(AnalyseCommand, MissingCompareOrFilesOrDirectoryAreClearErrors) {
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        const char* Said;
    } cases[] = {
        {{"new-directories"}, 1, "needs a compare snapshot"},
        {{"files-in-tree"}, 1, "recorded no files"},  // the latest snapshot
        {{"new-files", "--snapshot", "2024-05-01 08:00:00", "--compare", "previous"}, 1, "no earlier snapshot of /srv"},
        {{"directory-details", "--dir", "/srv/nowhere"}, 1, "holds no directory /srv/nowhere"},
        {{"no-such-kind"}, 1, ""},
        {{"directory-details", "--unit", "G"}, 2, ""},
    };
    for (const auto& c : cases) {
        auto run = Analyse(c.Args);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Args[0];
        EXPECT_NE(run.Err.find(c.Said), std::string::npos) << run.Err;
    }
}

}  // namespace
}  // namespace corvina
